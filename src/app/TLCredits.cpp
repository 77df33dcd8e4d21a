#include "TLCredits.h"

#include "TLBuildSettings.h"

#include <QGuiApplication>
#include <QPalette>
#include <QTextBlockFormat>
#include <QTextCharFormat>
#include <QTextCursor>

#include <algorithm>

namespace {

QString setting(const char* value) {
    return QString::fromUtf8(value);
}

} // namespace

std::vector<TLCredits::Piece> TLCredits::pieces() {
    const QString email = setting(TLBuildSettings::kContactEmail);
    const QString domain = setting(TLBuildSettings::kWebDomain);
    const QString imprint = setting(TLBuildSettings::kImprintAddress) + u'\n' +
                            setting(TLBuildSettings::kImprintDirector) + u'\n' +
                            setting(TLBuildSettings::kImprintRegister) + u'\n' +
                            setting(TLBuildSettings::kImprintChamber) + u'\n';
    const QString rights = setting(TLBuildSettings::kLicenceLine) + u'\n';
    const QString separator = QStringLiteral(" · ");

    return {
        {Style::Body,
         QStringLiteral(
             "Fenster per Tastenkürzel anordnen – Drittel, Neuntel, Viertel, Hälften; immer auf dem "
             "Bildschirm, auf dem das Fenster gerade liegt.\n\n"),
         {}},
        {Style::Heading, setting(TLBuildSettings::kMakerLine) + u'\n', {}},
        {Style::Body, imprint, {}},
        {Style::Link, email, QUrl(QStringLiteral("mailto:") + email)},
        {Style::Body, separator, {}},
        {Style::Link, domain, QUrl(QStringLiteral("https://") + domain)},
        {Style::Body, QStringLiteral("\n\n"), {}},
        {Style::Heading, QStringLiteral("Open Source – MIT-Lizenz\n"), {}},
        {Style::Body, rights, {}},
        {Style::Link, QStringLiteral("Quelltext & Lizenz"), QUrl(setting(TLBuildSettings::kSourceUrl))},
        {Style::Body, separator, {}},
        {Style::Link, QStringLiteral("Download & Impressum"), QUrl(setting(TLBuildSettings::kDownloadSite))},
        {Style::Body, QStringLiteral("\n"), {}},
    };
}

QFont TLCredits::smallSystemFont() {
    QFont font = QGuiApplication::font();
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(std::max(7.0, font.pointSizeF() * 11.0 / 13.0));
    } else if (font.pixelSize() > 0) {
        font.setPixelSize(std::max(9, font.pixelSize() * 11 / 13));
    }
    return font;
}

std::unique_ptr<QTextDocument> TLCredits::creditsText() {
    const QPalette palette = QGuiApplication::palette();
    return creditsText(smallSystemFont(), palette.color(QPalette::WindowText), palette.color(QPalette::Link));
}

std::unique_ptr<QTextDocument> TLCredits::creditsText(const QFont& smallFont, const QColor& labelColor,
                                                      const QColor& linkColor) {
    auto document = std::make_unique<QTextDocument>();
    document->setDefaultFont(smallFont);

    QTextBlockFormat paragraph;
    paragraph.setAlignment(Qt::AlignHCenter);
    paragraph.setBottomMargin(kParagraphSpacing);

    QTextCharFormat body;
    body.setFont(smallFont);
    body.setForeground(labelColor);

    QTextCharFormat heading = body;
    heading.setFontWeight(QFont::Bold);

    QTextCursor cursor(document.get());
    cursor.setBlockFormat(paragraph);
    for (const Piece& piece : pieces()) {
        switch (piece.style) {
        case Style::Body:
            cursor.insertText(piece.text, body);
            break;
        case Style::Heading:
            cursor.insertText(piece.text, heading);
            break;
        case Style::Link: {
            // A copy of the body set with the link added, in the link colour; the body set stays
            // as it is.
            QTextCharFormat link = body;
            link.setForeground(linkColor);
            link.setAnchor(true);
            link.setAnchorHref(piece.link.toString());
            cursor.insertText(piece.text, link);
            break;
        }
        }
    }
    return document;
}
