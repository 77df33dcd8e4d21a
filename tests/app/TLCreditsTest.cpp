#include "TLCredits.h"

#include <QGuiApplication>
#include <QPalette>
#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

// The pieces' texts are written once, in TLCredits; here only what the document makes of them.
TEST(TLCredits, EachPieceKeepsItsStyleAndLinkInTheCentredDocumentInThePaletteColour) {
    QFont small("DejaVu Sans");
    small.setPointSizeF(9.5);
    const std::vector<TLCredits::Piece> pieces = TLCredits::pieces();
    const auto document = TLCredits::creditsText(small, QColor(0x12, 0x34, 0x56));
    QString text;
    std::vector<std::pair<int, const TLCredits::Piece*>> starts; // piece by document position
    for (const TLCredits::Piece& piece : pieces) {
        EXPECT_EQ(piece.link.isEmpty(), piece.style != TLCredits::Style::Link) << piece.text.toStdString();
        starts.emplace_back(int(text.size()), &piece);
        text += piece.text;
    }
    ASSERT_EQ(document->toPlainText(), text);
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        EXPECT_EQ(block.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        EXPECT_EQ(block.blockFormat().bottomMargin(), TLCredits::kParagraphSpacing);
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            const auto& piece =
                *std::prev(std::upper_bound(starts.begin(), starts.end(), it.fragment().position(),
                                            [](int p, const auto& s) { return p < s.first; }))
                     ->second;
            SCOPED_TRACE(piece.text.toStdString());
            EXPECT_EQ(format.fontPointSize(), 9.5);
            EXPECT_EQ(format.foreground().color(), QColor(0x12, 0x34, 0x56));
            EXPECT_EQ(format.fontWeight() == QFont::Bold, piece.style == TLCredits::Style::Heading);
            EXPECT_EQ(QUrl(format.anchorHref()), piece.link);
        }
    }
    // Without a colour given: the label colour of the current palette (a dark theme's here).
    const QPalette original = QGuiApplication::palette();
    QPalette palette = original;
    palette.setColor(QPalette::WindowText, QColor(0xfe, 0xfd, 0xfc));
    QGuiApplication::setPalette(palette);
    const auto themed = TLCredits::creditsText();
    QGuiApplication::setPalette(original);
    EXPECT_EQ(themed->begin().begin().fragment().charFormat().foreground().color(), QColor(0xfe, 0xfd, 0xfc));
}
