#pragma once

#include "TLArchiveExtractor.h"
#include "TLUpdateSignature.h"

#include <QString>
#include <QVariantMap>

#include <functional>
#include <optional>

// How the archive download ended, as the network layer saw it.
struct TLDownloadOutcome {
    QString downloadedFile;       // empty when nothing was downloaded
    int status = 0;               // HTTP status, 0 when the answer was not HTTP
    std::optional<QString> error; // transport error text
};

// What the verification needs besides the download; captured on the main thread.
struct TLVerifyInput {
    QString workDir;        // in the temporary folder; created here
    QString stagingDir;     // beside the bundle; the extraction lands here
    QString expectedDigest; // lower case
    bool versionAnnounced = false;
    std::optional<QString> announcedVersion; // absent when announced but not a string
    std::optional<QString> runningIdentifier;
    QString extractTool;
    TLExtractionBudget budget;
    std::optional<TLUpdateSignature> signature; // checked against the archive when present
    std::function<void(const char*)> stepHook;  // called between the steps
};

struct TLVerifyResult {
    QString workDir;    // always named; may never have been created
    QString stagingDir; // likewise
    std::optional<QString> newApp;
    std::optional<QString> message;
};

// The verification of a downloaded update: work directory, HTTP status, digest and signature,
// extraction and the bundle inside. Runs off the GUI thread and touches nothing but the file
// system; whatever fails in it (also an allocation) ends in a message, never in an abort.
class TLUpdateVerifier {
public:
    static constexpr const char* kDownloadFailed = "Download fehlgeschlagen.";
    static constexpr const char* kHttpStatus = "Der Server antwortete mit HTTP %1.";
    static constexpr const char* kUnknownError = "Unbekannter Fehler.";
    static constexpr const char* kOutOfMemory = "Für das Update reicht der Arbeitsspeicher nicht.";
    static constexpr const char* kDigestMismatch =
        "Die Prüfsumme des geladenen Updates stimmt nicht — das Update wurde verworfen.";
    static constexpr const char* kSignatureMismatch =
        "Die Signatur des geladenen Updates stimmt nicht — das Update wurde verworfen.";
    // Names the extraction tool this platform runs.
    static constexpr const char* kToolNotStarted = "bsdtar konnte nicht gestartet werden.";
    static constexpr const char* kNotExtractable = "Das Update-Archiv konnte nicht entpackt werden.";
    static constexpr const char* kNoApp = "Im Archiv steckt keine App.";
    static constexpr const char* kForeignApp = "Das Archiv enthält eine fremde App — verworfen.";
    static constexpr const char* kForeignExecutable = "Das Update enthält eine fremde App.";
    static constexpr const char* kVersionMismatch =
        "Die Version im Archiv passt nicht zur Ankündigung — verworfen.";
    static constexpr const char* kDefaultExecutable = "Tilora";

    static TLVerifyResult verify(const TLDownloadOutcome& download, const TLVerifyInput& input);

    // SHA-256 (64 lower-case hex digits) and BLAKE2b-512 of a file, read in pieces; absent when
    // it cannot be read.
    struct Digests {
        QString sha256;
        QByteArray blake2b;
    };
    static std::optional<Digests> digestsOfFile(const QString& path);
    // The first top-level entry (in name order) whose extension is exactly "app" and that is
    // not a symbolic link.
    static std::optional<QString> findApp(const QString& directory);
    // CFBundleExecutable when it is a plain file name (TLBundle::isExecutableName); "Tilora" when
    // missing; absent otherwise.
    static std::optional<QString> executableName(const QVariantMap& info);
};
