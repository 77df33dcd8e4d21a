#pragma once

#include <QString>
#include <QVariantMap>

#include <optional>

// How the archive download ended, as the network layer saw it.
struct TLDownloadOutcome {
    QString downloadedFile;       // empty when nothing was downloaded
    int status = 0;               // HTTP status, 0 when the answer was not HTTP
    std::optional<QString> error; // transport error text
};

// What the verification needs besides the download; captured on the main thread.
struct TLVerifyInput {
    QString tempDir;
    QString expectedDigest; // lower case
    bool versionAnnounced = false;
    std::optional<QString> announcedVersion; // absent when announced but not a string
    std::optional<QString> runningIdentifier;
    QString extractTool;
};

struct TLVerifyResult {
    QString workDir; // always named; may never have been created
    std::optional<QString> newApp;
    std::optional<QString> message;
};

// The verification of a downloaded update: work directory, HTTP status, digest, extraction and
// the bundle inside. Runs off the GUI thread and touches nothing but the file system.
class TLUpdateVerifier {
public:
    static constexpr const char* kDownloadFailed = "Download fehlgeschlagen.";
    static constexpr const char* kHttpStatus = "Der Server antwortete mit HTTP %1.";
    static constexpr const char* kUnknownError = "Unbekannter Fehler.";
    static constexpr const char* kDigestMismatch =
        "Die Prüfsumme des geladenen Updates stimmt nicht — das Update wurde verworfen.";
    // Names the extraction tool this platform runs.
    static constexpr const char* kToolNotStarted = "bsdtar konnte nicht gestartet werden.";
    static constexpr const char* kNotExtractable = "Das Update-Archiv konnte nicht entpackt werden.";
    static constexpr const char* kNoApp = "Im Archiv steckt keine App.";
    static constexpr const char* kForeignApp = "Das Archiv enthält eine fremde App — verworfen.";
    static constexpr const char* kVersionMismatch =
        "Die Version im Archiv passt nicht zur Ankündigung — verworfen.";
    static constexpr const char* kDefaultExecutable = "Tilora";

    static TLVerifyResult verify(const TLDownloadOutcome& download, const TLVerifyInput& input);

    // SHA-256 of the whole file as 64 lower-case hex digits; empty when it cannot be read.
    static QString sha256OfFile(const QString& path);
    // The first top-level entry (in name order) whose extension is exactly "app" and that is
    // not a symbolic link.
    static std::optional<QString> findApp(const QString& directory);
    // CFBundleExecutable when it is a plain file name (TLBundle::isExecutableName); "Tilora" when
    // missing; absent otherwise.
    static std::optional<QString> executableName(const QVariantMap& info);
};
