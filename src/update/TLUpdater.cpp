#include "TLUpdater.h"

#include "TLAppcast.h"
#include "TLBundle.h"
#include "TLFileOps.h"
#include "TLShared.h"
#include "TLTransferWatchdog.h"
#include "TLUpdatePresenter.h"
#include "TLUpdateSchedule.h"
#include "TLUserDefaults.h"
#include "TLVersion.h"

#include <QFileInfo>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QTemporaryFile>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <limits>

namespace {

QString text(const char* s) {
    return QString::fromUtf8(s);
}

QNetworkRequest makeRequest(const QUrl& url) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    return request;
}

// Why a finished transfer failed, or nothing when the server answered in full (with any
// status, which Qt may also report as an error). `received` counts the body bytes.
std::optional<QString> transferFailure(QNetworkReply* reply, const TLTransferWatchdog& watchdog,
                                       qint64 received) {
    if (watchdog.timedOut()) {
        return text(TLUpdater::kTimedOut);
    }
    const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    // Qt does not always report a connection closed before the announced length. A packed
    // body is unpacked on arrival, so only an unpacked one can be measured against it.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (answered && length.isValid() && reply->rawHeader("Content-Encoding").isEmpty() &&
        received < length.toLongLong()) {
        return text(TLUpdater::kConnectionLost);
    }
    // Network-layer errors (refused connections and redirects, a closed connection) are
    // failures; the higher codes only restate an HTTP status.
    if (reply->error() == QNetworkReply::NoError ||
        (answered && reply->error() > QNetworkReply::UnknownNetworkError)) {
        return std::nullopt;
    }
    return reply->errorString();
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
    delete network_; // aborts a transfer still running; its handlers see shuttingDown_
    network_ = nullptr;
    verification_.waitForFinished();
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
    if (!url.isValid() || url.isRelative()) {
        return false;
    }
    if (url.scheme() == QLatin1String("https")) {
        return true;
    }
    // Plain HTTP only to this machine, where the tests serve their feeds.
    const QString host = url.host();
    return url.scheme() == QLatin1String("http") &&
           (host == QLatin1String("localhost") || QHostAddress(host).isLoopback());
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

QNetworkAccessManager& TLUpdater::network() {
    if (!network_) {
        network_ = new QNetworkAccessManager(this);
    }
    return *network_;
}

void TLUpdater::checkForUpdatesInteractive(bool interactive) {
    if (busy_) {
        if (interactive) {
            alert(text(kBusyTitle), text(kBusyText));
        }
        return;
    }
    busy_ = true;
    QNetworkReply* reply = network().get(makeRequest(context_.feedUrl));
    auto* watchdog = new TLTransferWatchdog(reply, context_.feedInactivityMs, context_.feedDeadlineMs);
    auto tooLarge = std::make_shared<bool>(false);
    const qint64 maxBytes = context_.feedMaxBytes;
    connect(reply, &QNetworkReply::downloadProgress, reply,
            [reply, tooLarge, maxBytes](qint64 received, qint64) {
                if (received > maxBytes && !*tooLarge) {
                    *tooLarge = true;
                    reply->abort();
                }
            });
    connect(reply, &QNetworkReply::finished, this, [this, reply, watchdog, tooLarge, interactive] {
        reply->deleteLater();
        if (shuttingDown_) {
            return;
        }
        std::optional<QByteArray> data;
        std::optional<QString> error;
        if (!*tooLarge) { // too large: neither a feed nor a transport failure, an unreadable answer
            error = transferFailure(reply, *watchdog, reply->bytesAvailable());
            if (!error) {
                data = reply->readAll();
            }
        }
        // Evaluated on a later turn of the main loop, outside the reply's own signal.
        QTimer::singleShot(0, this,
                           [this, data, error, interactive] { handleAppcast(data, error, interactive); });
    });
}

void TLUpdater::handleAppcast(const std::optional<QByteArray>& data, const std::optional<QString>& error,
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

    TLVerifyInput input;
    input.tempDir = context_.tempDir;
    input.expectedDigest = digest;
    input.versionAnnounced = feed.contains(QStringLiteral("version"));
    if (feed.value(QStringLiteral("version")).isString()) {
        input.announcedVersion = feed.value(QStringLiteral("version")).toString();
    }
    input.runningIdentifier = context_.bundleIdentifier;
    input.extractTool = context_.extractTool;

    busy_ = true;
    download_ =
        std::make_unique<QTemporaryFile>(context_.tempDir + QStringLiteral("/tilora-download-XXXXXX.zip"));
    if (!download_->open()) {
        TLDownloadOutcome outcome;
        outcome.error = download_->errorString();
        verification_.setFuture(QtConcurrent::run(&TLUpdateVerifier::verify, outcome, input));
        return;
    }
    QNetworkReply* reply = network().get(makeRequest(*url));
    auto* watchdog =
        new TLTransferWatchdog(reply, context_.downloadInactivityMs, context_.downloadDeadlineMs);
    auto writeFailed = std::make_shared<bool>(false);
    QTemporaryFile* file = download_.get();
    connect(reply, &QNetworkReply::readyRead, reply, [reply, file, writeFailed] {
        const QByteArray chunk = reply->readAll();
        if (!*writeFailed && file->write(chunk) != chunk.size()) {
            *writeFailed = true;
            reply->abort();
        }
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, watchdog, writeFailed, input] {
        reply->deleteLater();
        if (shuttingDown_) {
            return;
        }
        TLDownloadOutcome outcome;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        outcome.status = status.isValid() ? status.toInt() : 0;
        if (*writeFailed) {
            outcome.error = download_->errorString();
        } else {
            download_->write(reply->readAll());
            outcome.error = transferFailure(reply, *watchdog, download_->size());
        }
        download_->close();
        if (!outcome.error) {
            outcome.downloadedFile = download_->fileName();
        }
        verification_.setFuture(QtConcurrent::run(&TLUpdateVerifier::verify, outcome, input));
    });
}

void TLUpdater::handOver(const TLVerifyResult& result) {
    download_.reset(); // removes the downloaded file unless the verification moved it away
    busy_ = false;
    if (result.newApp) {
        swapBundle(context_.bundlePath, *result.newApp, result.workDir);
    } else {
        TLFileOps::removeItem(result.workDir);
        alert(text(kFailedTitle), result.message.value_or(text(TLUpdateVerifier::kUnknownError)));
    }
    emit installationFinished();
}

void TLUpdater::swapBundle(const QString& bundlePath, const QString& newApp, const QString& workDir) {
    const QString backup = QFileInfo(bundlePath).absolutePath() + QStringLiteral("/.Tilora.old");
    TLFileOps::removeItem(backup);
    QString error;
    if (!TLFileOps::moveItem(bundlePath, backup, &error)) {
        TLFileOps::removeItem(workDir);
        alert(text(kFailedTitle), error);
        return;
    }
    if (!TLFileOps::moveItem(newApp, bundlePath, &error)) {
        TLFileOps::moveItem(backup, bundlePath);
        TLFileOps::removeItem(workDir);
        alert(text(kFailedTitle), error);
        return;
    }
    TLFileOps::removeItem(backup);
    TLFileOps::removeItem(workDir);
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
