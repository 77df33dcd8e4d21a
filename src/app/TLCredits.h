#pragma once

#include <QColor>
#include <QFont>
#include <QString>
#include <QTextDocument>
#include <QUrl>

#include <memory>
#include <vector>

// The About panel's credits: thirteen pieces of text, each with one of three attribute sets,
// built anew for every showing.
class TLCredits {
public:
    enum class Style { Body, Heading, Link };

    struct Piece {
        Style style;
        QString text;
        QUrl link; // only for Link pieces
    };

    // Space below every paragraph, in points.
    static constexpr qreal kParagraphSpacing = 4.0;

    // The pieces in their order, from the build-time maker and address settings.
    static std::vector<Piece> pieces();

    // The styled text: body in the small system font, headings in its bold variant, links as
    // body plus the link in the link colour (so that they look like links); every paragraph
    // centred with kParagraphSpacing below it, the rest in the label colour. The colours are
    // those of the current palette.
    static std::unique_ptr<QTextDocument> creditsText();
    static std::unique_ptr<QTextDocument> creditsText(const QFont& smallFont, const QColor& labelColor,
                                                      const QColor& linkColor);

    // The platform's small system font: the general font at the ratio of a small control
    // font to a regular one (11 to 13).
    static QFont smallSystemFont();
};
