#pragma once

#include "TLArchiveExtractor.h"
#include "TLTransfers.h"

#include <QDateTime>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

class TLBundle;

// Everything the updater takes from its surroundings. The application fills it from the
// running bundle and the build settings; tests give their own.
struct TLUpdaterContext {
    QString bundlePath;                      // the running .app
    std::optional<QString> bundleIdentifier; // of the running bundle
    QString runningVersion = QStringLiteral("0");
    QUrl feedUrl;
    QString tempDir;      // parent of the work directories
    qint64 processId = 0; // the process the relaunch waits for
    QString extractTool;
    std::function<QDateTime()> now; // the clock

    int feedInactivityMs = 15 * 1000;        // the feed request's time-out
    int feedDeadlineMs = 60 * 1000;          // a trickling feed server ends here
    qint64 feedMaxBytes = 1024 * 1024;       // a feed is a few hundred bytes
    int downloadInactivityMs = 60 * 1000;    // a stalled archive server ends here
    int downloadDeadlineMs = 30 * 60 * 1000; // and a trickling one here

    // The publisher's minisign public key; empty: archives are checked by their digest only.
    QString publicKey;
    qint64 maxArchiveBytes = 256LL * 1024 * 1024;
    TLExtractionBudget extractionBudget{512LL * 1024 * 1024, 20000};
    bool allowHttpLoopback = false;     // archives over plain HTTP from this machine (tests)
    bool renameExchangeRefused = false; // swap as on a file system that cannot exchange entries
    // Makes the transfers when a check starts (from the bundle path; the reason when it cannot).
    std::function<std::unique_ptr<TLTransfers>(const QString& bundlePath, QString* error)> transfers =
        &TLTransfers::fromBundle;
    // Called between the installation's steps with the step's name, on whichever thread runs it.
    std::function<void(const char*)> stepHook;

    // The real surroundings: the running bundle, the build settings, the system clock.
    static TLUpdaterContext fromBundle(const TLBundle& bundle);
};
