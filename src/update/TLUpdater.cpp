#include "TLUpdater.h"

#include "TLAppcast.h"
#include "TLBundle.h"
#include "TLFileOps.h"
#include "TLShared.h"
#include "TLUpdateErrors.h"
#include "TLUpdatePresenter.h"
#include "TLUpdateSchedule.h"
#include "TLUserDefaults.h"
#include "TLVersion.h"

#include <QFileInfo>
#include <QProcess>
#include <QUuid>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <unistd.h>

namespace {

QString text(const char* s) {
    return QString::fromUtf8(s);
}

const char* const kRelaunchScript = "while kill -0 \"$1\" 2>/dev/null; do sleep 0.2; done; "
                                    "exec \"$2/Contents/MacOS/$3\" </dev/null >/dev/null 2>&1";

} // namespace

TLUpdater::TLUpdater(TLUserDefaults& defaults, TLUpdatePresenter& presenter, TLUpdaterContext context,
                     QObject* parent)
    : QObject(parent), defaults_(defaults), presenter_(presenter), context_(std::move(context)) {
    if (!context_.now) {
        context_.now = [] { return QDateTime::currentDateTimeUtc(); };
    }
    timer_.setTimerType(Qt::PreciseTimer); // no tolerance on the check timers
    connect(&timer_, &QTimer::timeout, this, &TLUpdater::timerFired);
    connect(&verification_, &QFutureWatcher<TLVerifyResult>::finished, this,
            [this] { handOver(verification_.result()); });
}

TLUpdater::~TLUpdater() {
    shuttingDown_ = true;
    transfers_.reset(); // aborts a transfer still running without calling back
    verification_.waitForFinished();
    closeDownload();
}

TLUpdater& TLUpdater::shared() {
    return TLShared<TLUpdater>::get();
}

bool TLUpdater::automaticChecksEnabled() {
    return shared().isAutomaticCheckingEnabled();
}

void TLUpdater::setAutomaticChecksEnabled(bool enabled) {
    shared().setAutomaticCheckingEnabled(enabled);
}

bool TLUpdater::isAutomaticCheckingEnabled() const {
    const QString key = text(TLUserDefaults::kAutoUpdateEnabled);
    if (!defaults_.objectForKey(key)) {
        return true;
    }
    return defaults_.boolForKey(key);
}

void TLUpdater::setAutomaticCheckingEnabled(bool enabled) {
    defaults_.setBool(enabled, text(TLUserDefaults::kAutoUpdateEnabled));
    scheduleAutomaticChecks();
}

bool TLUpdater::isAllowedFeedUrl(const QUrl& url) {
    // Plain HTTP only to this machine, where the tests serve their feeds.
    return TLTransfers::isAllowedUrl(url, true);
}

bool TLUpdater::isAllowedArchiveUrl(const QUrl& url) const {
    return TLTransfers::isAllowedUrl(url, context_.allowHttpLoopback);
}

bool TLUpdater::setFeedUrl(const QUrl& url) {
    if (!isAllowedFeedUrl(url)) {
        return false;
    }
    context_.feedUrl = url;
    return true;
}

QTimer* TLUpdater::timer() {
    return timer_.isActive() ? &timer_ : nullptr;
}

void TLUpdater::scheduleAutomaticChecks() {
    timer_.stop();
    if (!isAutomaticCheckingEnabled()) {
        return;
    }
    const std::optional<QVariant> last = defaults_.objectForKey(text(TLUserDefaults::kLastUpdateCheck));
    armTimer(TLUpdateSchedule::firstDelayMs(last, context_.now()), false);
}

void TLUpdater::armTimer(qint64 delayMs, bool repeating) {
    // A timer cannot wait longer than INT_MAX ms (about 24.8 days); a last check far in the
    // future (a clock set back) checks then instead of never.
    const qint64 clamped = std::clamp<qint64>(delayMs, 0, std::numeric_limits<int>::max());
    repeating_ = repeating;
    timer_.setSingleShot(!repeating);
    timer_.setInterval(static_cast<int>(clamped));
    timer_.start();
}

void TLUpdater::timerFired() {
    const bool first = !repeating_;
    checkForUpdatesInteractive(false);
    if (first) {
        armTimer(TLUpdateSchedule::kIntervalMs, true);
    }
}

TLTransfers* TLUpdater::transfers(QString* error) {
    if (!transfers_) {
        transfers_ = context_.transfers(context_.bundlePath, error);
    }
    return transfers_.get();
}

void TLUpdater::releaseTransfersWhenIdle() {
    // What the transfers took (threads, buffers, connections) is given back between checks;
    // called from their own callbacks, they go once those have returned.
    if (!busy_ && transfers_) {
        transfers_.release()->deleteLater();
    }
}

void TLUpdater::checkForUpdatesInteractive(bool interactive) {
    if (busy_) {
        if (interactive) {
            alert(text(kBusyTitle), text(kBusyText));
        }
        return;
    }
    busy_ = true;
    QString unavailable;
    TLTransfers* transfers = this->transfers(&unavailable);
    if (!transfers) {
        QTimer::singleShot(0, this, [this, unavailable, interactive] {
            handleAppcast(std::nullopt, unavailable, interactive);
        });
        return;
    }
    const TLTransfers::Limits limits{context_.feedInactivityMs, context_.feedDeadlineMs,
                                     context_.feedMaxBytes, true};
    transfers->fetch(context_.feedUrl, limits, [this, interactive](const TLTransfers::Outcome& outcome) {
        if (shuttingDown_) {
            return;
        }
        // Too large: neither a feed nor a transport failure, an unreadable answer.
        std::optional<QByteArray> data;
        if (!outcome.error && !outcome.tooLarge) {
            data = outcome.data;
        }
        // Evaluated on a later turn of the main loop, outside the transfer's own signal.
        QTimer::singleShot(0, this, [this, data, error = outcome.error, interactive] {
            handleAppcast(data, error, interactive);
        });
    });
}

void TLUpdater::handleAppcast(const std::optional<QByteArray>& data, const std::optional<QString>& error,
                              bool interactive) {
    evaluateAppcast(data, error, interactive);
    releaseTransfersWhenIdle();
}

void TLUpdater::evaluateAppcast(const std::optional<QByteArray>& data, const std::optional<QString>& error,
                                bool interactive) {
    const std::optional<QJsonObject> feed = data ? TLAppcast::parse(*data) : std::nullopt;
    if (!feed) {
        busy_ = false;
        if (interactive) {
            alert(text(kCheckFailedTitle), error.value_or(text(kUnreadableFeed)));
        }
        return;
    }
    defaults_.setObject(QVariant(context_.now()), text(TLUserDefaults::kLastUpdateCheck));
    const QString running = context_.runningVersion;
    const QString available = TLAppcast::version(*feed);
    if (!TLVersion::isNewer(available.toStdString(), running.toStdString())) {
        busy_ = false;
        if (interactive) {
            alert(text(kUpToDateTitle), text(kUpToDateText).arg(running));
        }
        return;
    }
    presenter_.activate();
    const int choice = presenter_.runModalAlert(text(kOfferTitle).arg(available),
                                                text(kOfferText).arg(running, TLAppcast::notesText(*feed)),
                                                {text(kOfferAccept), text(kOfferLater)});
    busy_ = false;
    if (choice == 0) {
        installFromAppcast(*feed);
    }
}

void TLUpdater::alert(const QString& title, const std::optional<QString>& text) {
    presenter_.activate();
    presenter_.runModalAlert(title, text.value_or(QString()), {});
}

void TLUpdater::installFromAppcast(const QJsonObject& feed) {
    const QString bundlePath = context_.bundlePath;
    const QString installFolder = QFileInfo(bundlePath).absolutePath();
    // Outside a bundle there is nothing that could be swapped: refused like a read-only place.
    const bool inBundle = !bundlePath.isEmpty() && bundlePath.endsWith(QLatin1String(".app"));
    if (!inBundle || bundlePath.contains(QLatin1String("/AppTranslocation/")) ||
        !QFileInfo(installFolder).isWritable()) {
        alert(text(kImpossibleTitle), text(kUnwritableFolder));
        return;
    }
    const std::optional<QUrl> url = TLAppcast::archiveUrl(feed);
    const QString digest = TLAppcast::expectedDigest(feed);
    if (!url || digest.size() != 64) {
        alert(text(kImpossibleTitle), text(kIncompleteFeed));
        return;
    }

    const QString version = feed.value(QStringLiteral("version")).toString();
    std::optional<TLUpdateSignature> signature;
    if (!context_.publicKey.isEmpty()) {
        // Refused before anything is downloaded beyond the feed.
        signature = TLUpdateSignature::forAnnouncement(context_.publicKey, TLAppcast::signatureText(feed),
                                                       version, digest);
        if (!signature) {
            alert(text(kImpossibleTitle), text(kUnsignedFeed));
            return;
        }
    }
    if (!isAllowedArchiveUrl(*url)) {
        alert(text(kFailedTitle), text(TLUpdateVerifier::kHttpStatus).arg(0)); // as for a non-HTTP answer
        return;
    }

    // The work folder in the temporary folder, the staging folder beside the bundle: the swap is
    // then a rename within one file system.
    const QString name = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    TLVerifyInput input;
    input.workDir = context_.tempDir + QLatin1Char('/') + QLatin1String(TLUpdateRecovery::kWorkPrefix) + name;
    input.stagingDir =
        installFolder + QLatin1Char('/') + QLatin1String(TLUpdateRecovery::kStagingPrefix) + name;
    input.expectedDigest = digest;
    input.versionAnnounced = feed.contains(QStringLiteral("version"));
    if (feed.value(QStringLiteral("version")).isString()) {
        input.announcedVersion = version;
    }
    input.runningIdentifier = context_.bundleIdentifier;
    input.extractTool = context_.extractTool;
    input.budget = context_.extractionBudget;
    input.signature = signature;
    input.stepHook = context_.stepHook;

    busy_ = true;
    installGuard_ = TLUpdateRecovery::guardInstallation(context_.tempDir);
    downloadPath_ = context_.tempDir + QLatin1Char('/') + QLatin1String(TLUpdateRecovery::kDownloadPrefix) +
                    name + QStringLiteral(".zip");
    downloadFd_ =
        ::open(QFile::encodeName(downloadPath_).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (downloadFd_ < 0) {
        TLDownloadOutcome outcome;
        outcome.error = TLUpdateErrors::file(errno);
        verifyInBackground(outcome, input);
        return;
    }
    download(*url, input);
}

void TLUpdater::download(const QUrl& url, const TLVerifyInput& input) {
    QString unavailable;
    TLTransfers* transfers = this->transfers(&unavailable);
    if (!transfers) {
        TLDownloadOutcome outcome;
        outcome.error = unavailable;
        finishDownload(outcome, input);
        return;
    }
    const TLTransfers::Limits limits{context_.downloadInactivityMs, context_.downloadDeadlineMs,
                                     context_.maxArchiveBytes, context_.allowHttpLoopback};
    transfers->download(
        url, limits, downloadFd_, [this] { step("download"); },
        [this, input](const TLTransfers::Outcome& transfer) {
            if (shuttingDown_) {
                return;
            }
            TLDownloadOutcome outcome;
            outcome.status = transfer.status;
            outcome.error = transfer.tooLarge ? std::optional(text(kTooLarge)) : transfer.error;
            finishDownload(outcome, input);
        });
}

void TLUpdater::finishDownload(TLDownloadOutcome outcome, const TLVerifyInput& input) {
    if (::close(downloadFd_) != 0 && !outcome.error) {
        outcome.error = TLUpdateErrors::file(errno);
    }
    downloadFd_ = -1;
    if (!outcome.error) {
        outcome.downloadedFile = downloadPath_;
    }
    verifyInBackground(outcome, input);
}

void TLUpdater::verifyInBackground(const TLDownloadOutcome& outcome, const TLVerifyInput& input) {
    verification_.setFuture(QtConcurrent::run(&TLUpdateVerifier::verify, outcome, input));
}

void TLUpdater::step(const char* name) const {
    if (context_.stepHook) {
        context_.stepHook(name);
    }
}

void TLUpdater::closeDownload() {
    if (downloadFd_ >= 0) {
        ::close(downloadFd_);
        downloadFd_ = -1;
    }
    if (!downloadPath_.isEmpty()) {
        QFile::remove(downloadPath_); // gone already when the verification moved it away
        downloadPath_.clear();
    }
}

void TLUpdater::handOver(const TLVerifyResult& result) {
    closeDownload();
    busy_ = false;
    releaseTransfersWhenIdle();
    if (result.newApp) {
        swapBundle(context_.bundlePath, *result.newApp, result.workDir);
    } else {
        TLFileOps::removeItem(result.workDir);
        TLFileOps::removeItem(result.stagingDir);
        installGuard_ = {};
        alert(text(kFailedTitle), result.message.value_or(text(TLUpdateVerifier::kUnknownError)));
    }
    emit installationFinished();
}

void TLUpdater::swapBundle(const QString& bundlePath, const QString& newApp, const QString& workDir) {
    step("swap");
    const QString backup = QFileInfo(bundlePath).absolutePath() + QLatin1Char('/') +
                           QLatin1String(TLUpdateRecovery::kBackupName);
    const QString staging = QFileInfo(newApp).absolutePath();
    const auto cleanUp = [&] {
        // A backup is the only complete bundle left when the bundle path has none.
        if (TLUpdateRecovery::hasExecutable(bundlePath)) {
            TLFileOps::removeItem(backup);
        }
        if (QFileInfo(staging).fileName().startsWith(QLatin1String(TLUpdateRecovery::kStagingPrefix))) {
            TLFileOps::removeItem(staging); // after the exchange it holds the former bundle
        }
        TLFileOps::removeItem(workDir);
        installGuard_ = {};
    };
    TLFileOps::removeItem(backup);
    QString error;
    if (TLFileOps::exchange(
            newApp, bundlePath, backup, context_.renameExchangeRefused, [this] { step("moved-aside"); },
            &error) == TLFileOps::Swap::Failed) {
        cleanUp();
        alert(text(kFailedTitle), error);
        return;
    }
    step("exchanged");
    cleanUp();
    step("cleaned");
    if (!relaunch(bundlePath, context_.processId)) {
        // The new version is in place; only the automatic start is missing.
        alert(text(kRelaunchFailedTitle), text(kRelaunchFailedText));
    }
    presenter_.terminate();
}

bool TLUpdater::relaunch(const QString& bundlePath, qint64 processId) {
    const QVariantMap info = TLBundle::readInfoDictionary(bundlePath).value_or(QVariantMap());
    const QString executable =
        TLUpdateVerifier::executableName(info).value_or(text(TLUpdateVerifier::kDefaultExecutable));
    return QProcess::startDetached(QStringLiteral("/bin/sh"),
                                   {QStringLiteral("-c"), text(kRelaunchScript),
                                    QStringLiteral("tilora-relaunch"), QString::number(processId), bundlePath,
                                    executable});
}
