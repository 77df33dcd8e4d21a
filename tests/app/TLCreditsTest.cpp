#include "TLCredits.h"
#include "TLBuildSettings.h"
#include "support/TLQtTestApplication.h"

#include <QGuiApplication>
#include <QPalette>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

#include <map>
#include <vector>

namespace {

using Style = TLCredits::Style;

// The character format of every position of a document that holds a character (block ends
// hold none).
std::map<int, QTextCharFormat> formatsByPosition(const QTextDocument& document) {
    std::map<int, QTextCharFormat> formats;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            for (int i = 0; i < fragment.length(); ++i) {
                formats[fragment.position() + i] = fragment.charFormat();
            }
        }
    }
    return formats;
}

TEST(Credits, ThirteenPiecesInTheirOrderAndStyles) {
    const std::vector<TLCredits::Piece> pieces = TLCredits::pieces();
    ASSERT_EQ(pieces.size(), 13u);
    const Style styles[] = {Style::Body, Style::Heading, Style::Body,    Style::Link, Style::Body,
                            Style::Link, Style::Body,    Style::Heading, Style::Body, Style::Link,
                            Style::Body, Style::Link,    Style::Body};
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        EXPECT_EQ(pieces[i].style, styles[i]) << "piece " << i + 1;
        EXPECT_EQ(pieces[i].link.isEmpty(), pieces[i].style != Style::Link) << "piece " << i + 1;
    }

    EXPECT_EQ(pieces[0].text, QStringLiteral("Fenster per Tastenkürzel anordnen – Drittel, Neuntel, Viertel, "
                                             "Hälften; immer auf dem Bildschirm, auf dem das Fenster gerade "
                                             "liegt.\n\n"));
    EXPECT_TRUE(pieces[1].text.endsWith(u'\n'));
    EXPECT_EQ(pieces[1].text.count(u'\n'), 1);
    EXPECT_EQ(pieces[2].text.count(u'\n'), 4); // address, director, register, chamber
    EXPECT_TRUE(pieces[2].text.endsWith(u'\n'));
    EXPECT_EQ(pieces[3].link.scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(pieces[3].link.path(), pieces[3].text);
    EXPECT_EQ(pieces[4].text, QStringLiteral(" · "));
    EXPECT_EQ(pieces[5].link.host(), pieces[5].text);
    EXPECT_EQ(pieces[6].text, QStringLiteral("\n\n"));
    EXPECT_EQ(pieces[7].text, QStringLiteral("Open Source – MIT-Lizenz\n"));
    EXPECT_EQ(pieces[8].text, QString::fromUtf8(TLBuildSettings::kLicenceLine) + u'\n');
    EXPECT_TRUE(pieces[8].text.contains(QStringLiteral("MIT-Lizenz")));
    EXPECT_EQ(pieces[8].text.count(u'\n'), 1);
    EXPECT_EQ(pieces[9].text, QStringLiteral("Quelltext & Lizenz"));
    EXPECT_EQ(pieces[9].link, QUrl(QString::fromUtf8(TLBuildSettings::kSourceUrl)));
    EXPECT_EQ(pieces[10].text, QStringLiteral(" · "));
    EXPECT_EQ(pieces[11].text, QStringLiteral("Download & Impressum"));
    EXPECT_EQ(pieces[11].link, QUrl(QString::fromUtf8(TLBuildSettings::kDownloadSite)));
    EXPECT_EQ(pieces[12].text, QStringLiteral("\n"));
}

TEST(Credits, EachPieceCarriesItsAttributeSet) {
    QFont small(QStringLiteral("DejaVu Sans"));
    small.setPointSizeF(9.5);
    const QColor label(0x12, 0x34, 0x56);
    const auto document = TLCredits::creditsText(small, label);
    const std::vector<TLCredits::Piece> pieces = TLCredits::pieces();

    QString expectedText;
    for (const auto& piece : pieces) {
        expectedText += piece.text;
    }
    ASSERT_EQ(document->toPlainText(), expectedText);

    const auto formats = formatsByPosition(*document);
    int position = 0;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const TLCredits::Piece& piece = pieces[i];
        for (int k = 0; k < piece.text.size(); ++k, ++position) {
            if (piece.text[k] == u'\n') {
                continue; // a paragraph end, no character of its own
            }
            const auto found = formats.find(position);
            ASSERT_NE(found, formats.end()) << "piece " << i + 1 << " char " << k;
            const QTextCharFormat& format = found->second;
            EXPECT_EQ(format.fontPointSize(), 9.5) << "piece " << i + 1;
            EXPECT_EQ(format.fontFamilies().toStringList().value(0), small.family()) << "piece " << i + 1;
            EXPECT_EQ(format.foreground().color(), label) << "piece " << i + 1;
            EXPECT_EQ(format.fontWeight() == QFont::Bold, piece.style == Style::Heading) << "piece " << i + 1;
            EXPECT_EQ(format.isAnchor(), piece.style == Style::Link) << "piece " << i + 1;
            if (piece.style == Style::Link) {
                EXPECT_EQ(QUrl(format.anchorHref()), piece.link) << "piece " << i + 1;
            }
        }
    }

    int blocks = 0;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next(), ++blocks) {
        EXPECT_EQ(block.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        EXPECT_EQ(block.blockFormat().bottomMargin(), TLCredits::kParagraphSpacing);
    }
    EXPECT_EQ(blocks, expectedText.count(u'\n') + 1);
}

TEST(Credits, FollowTheLabelColourOfTheCurrentPalette) {
    const QPalette original = QGuiApplication::palette();
    QPalette palette = original;
    palette.setColor(QPalette::WindowText, QColor(0xfe, 0xfd, 0xfc)); // a dark theme's label colour
    QGuiApplication::setPalette(palette);
    const auto formats = formatsByPosition(*TLCredits::creditsText());
    QGuiApplication::setPalette(original);
    ASSERT_FALSE(formats.empty());
    for (const auto& [position, format] : formats) {
        ASSERT_EQ(format.foreground().color(), QColor(0xfe, 0xfd, 0xfc)) << position;
    }
}

} // namespace
