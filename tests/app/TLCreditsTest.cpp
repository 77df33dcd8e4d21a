#include "TLCredits.h"

#include <QTextBlock>
#include <QTextDocument>

#include <gtest/gtest.h>

// The texts are written once, in TLCredits; here only what the document makes of them.
TEST(TLCredits, EveryPieceKeepsItsStyleAndLinkInTheCentredDocumentInTheLabelColour) {
    QFont small("DejaVu Sans");
    small.setPointSizeF(9.5);
    const auto document = TLCredits::creditsText(small, QColor(0x12, 0x34, 0x56));
    QString text;
    for (const TLCredits::Piece& piece : TLCredits::pieces()) {
        const QString first = piece.text.trimmed().section('\n', 0, 0); // paragraphs end inside some pieces
        const QTextCharFormat format = document->find(first, int(text.size())).charFormat();
        text += piece.text;
        if (first.isEmpty()) {
            continue;
        }
        SCOPED_TRACE(piece.text.toStdString());
        EXPECT_EQ(format.fontPointSize(), 9.5);
        EXPECT_EQ(format.foreground().color(), QColor(0x12, 0x34, 0x56));
        EXPECT_EQ(format.fontWeight() == QFont::Bold, piece.style == TLCredits::Style::Heading);
        EXPECT_EQ(QUrl(format.anchorHref()), piece.link);
        EXPECT_EQ(piece.link.isEmpty(), piece.style != TLCredits::Style::Link);
    }
    EXPECT_EQ(document->toPlainText(), text);
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        EXPECT_EQ(block.blockFormat().alignment() & Qt::AlignHorizontal_Mask, Qt::AlignHCenter);
        EXPECT_EQ(block.blockFormat().bottomMargin(), TLCredits::kParagraphSpacing);
    }
}
