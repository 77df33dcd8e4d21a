#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QUrl>

#include <optional>

// The update feed: a JSON object with "version", "notes", "url", "sha256" and "signature".
class TLAppcast {
public:
    static constexpr const char* kNotesFallback = "Siehe Changelog auf der Download-Seite.";

    // The feed object when the data is a JSON object whose "version" is a string; absent for
    // broken JSON, any other top level, and a missing or non-string version.
    static std::optional<QJsonObject> parse(const QByteArray& data);

    // "version" of a valid feed.
    static QString version(const QJsonObject& feed);
    // "notes" when it is a non-empty string, else the fallback text.
    static QString notesText(const QJsonObject& feed);
    // "url" when it is a string that parses as an absolute URL.
    static std::optional<QUrl> archiveUrl(const QJsonObject& feed);
    // "signature" (the text of the archive's minisign signature file) when it is a string, else empty.
    static QString signatureText(const QJsonObject& feed);
    // "sha256" lower-cased when it is a string, else empty. Its length and digits are checked
    // by the caller (length) and by the comparison with the computed digest (digits).
    static QString expectedDigest(const QJsonObject& feed);
};
