#include "TLAppcast.h"

#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>

std::optional<QJsonObject> TLAppcast::parse(const QByteArray& data) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    QJsonObject feed = document.object();
    if (!feed.value(QStringLiteral("version")).isString()) {
        return std::nullopt;
    }
    return feed;
}

QString TLAppcast::version(const QJsonObject& feed) {
    return feed.value(QStringLiteral("version")).toString();
}

QString TLAppcast::notesText(const QJsonObject& feed) {
    const QJsonValue notes = feed.value(QStringLiteral("notes"));
    if (notes.isString() && !notes.toString().isEmpty()) {
        return notes.toString();
    }
    return QString::fromUtf8(kNotesFallback);
}

std::optional<QUrl> TLAppcast::archiveUrl(const QJsonObject& feed) {
    const QJsonValue value = feed.value(QStringLiteral("url"));
    if (!value.isString()) {
        return std::nullopt;
    }
    const QUrl url(value.toString(), QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.isEmpty()) {
        return std::nullopt;
    }
    return url;
}

QString TLAppcast::expectedDigest(const QJsonObject& feed) {
    const QJsonValue value = feed.value(QStringLiteral("sha256"));
    return value.isString() ? value.toString().toLower() : QString();
}

QString TLAppcast::signatureText(const QJsonObject& feed) {
    return feed.value(QStringLiteral("signature")).toString();
}
