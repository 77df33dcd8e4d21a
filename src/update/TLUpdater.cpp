#include "TLUpdater.h"

#include "TLAppcast.h"
#include "TLBundle.h"
#include "TLFileOps.h"
#include "TLShared.h"
#include "TLTransferWatchdog.h"
#include "TLUpdateErrors.h"
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

constexpr qint64 kReadBufferBytes = 256 * 1024; // what Qt may hold of a download before it is written

// The first reason a transfer was ended on purpose, shared by its handlers.
using Failure = std::shared_ptr<std::optional<QString>>;

void fail(QNetworkReply* reply, const Failure& failure, const QString& message) {
    if (!*failure) {
        *failure = message;
        reply->abort();
    }
}

// Redirects are followed only to addresses the rule allows; any other ends the transfer.
QNetworkReply* start(QNetworkAccessManager& network, const QUrl& url, const Failure& failure,
                     std::function<bool(const QUrl&)> allowed) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    QNetworkReply* reply = network.get(request);
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply, failure, allowed](const QUrl& target) {
        if (allowed(target)) {
            emit reply->redirectAllowed();
        } else {
            fail(reply, failure, text(TLUpdateErrors::kRedirectRefused));
        }
    });
    return reply;
}

// Why a finished transfer failed, or nothing when the server answered in full (with any
// status, which Qt may also report as an error). `received` counts the body bytes.
std::optional<QString> transferFailure(QNetworkReply* reply, const TLTransferWatchdog& watchdog,
                                       const Failure& failure, qint64 received) {
    if (*failure) {
        return *failure;
    }
    if (watchdog.timedOut()) {
        return text(TLUpdateErrors::kTimedOut);
    }
    const bool answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
    // Qt does not always report a connection closed before the announced length. A packed
    // body is unpacked on arrival, so only an unpacked one can be measured against it.
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (answered && length.isValid() && reply->rawHeader("Content-Encoding").isEmpty() &&
        received < length.toLongLong()) {
        return text(TLUpdateErrors::kConnectionLost);
    }
    // Network-layer errors (refused connections and redirects, a closed connection) are
    // failures; the higher codes only restate an HTTP status.
    if (reply->error() == QNetworkReply::NoError ||
        (answered && reply->error() > QNetworkReply::UnknownNetworkError)) {
        return std::nullopt;
    }
    return TLUpdateErrors::transfer(reply->error(), reply->errorString());
}

bool isSecureOrLoopback(const QUrl& url, bool allowHttpLoopback) {
    if (!url.isValid() || url.isRelative()) {
        return false;
    }
    if (url.scheme() == QLatin1String("https")) {
        return true;
    }
    const QString host = url.host();
    return allowHttpLoopback && url.scheme() == QLatin1String("http") &&
           (host == QLatin1String("localhost") || QHostAddress(host).isLoopback());
}

bool writeAll(int fd, const QByteArray& data) {
    for (qsizetype done = 0; done < data.size();) {
        const ssize_t n = ::write(fd, data.constData() + done, static_cast<size_t>(data.size() - done));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            errno = n == 0 ? ENOSPC : errno;
            return false;
        }
        done += n;
    }
    return true;
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
    return isSecureOrLoopback(url, true);
}

bool TLUpdater::isAllowedArchiveUrl(const QUrl& url) const {
    return isSecureOrLoopback(url, context_.allowHttpLoopback);
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
    auto failure = std::make_shared<std::optional<QString>>();
    QNetworkReply* reply = start(network(), context_.feedUrl, failure, &TLUpdater::isAllowedFeedUrl);
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
    connect(reply, &QNetworkReply::finished, this, [this, reply, watchdog, failure, tooLarge, interactive] {
        reply->deleteLater();
        if (shuttingDown_) {
            return;
        }
        std::optional<QByteArray> data;
        std::optional<QString> error;
        if (!*tooLarge) { // too large: neither a feed nor a transport failure, an unreadable answer
            error = transferFailure(reply, *watchdog, failure, reply->bytesAvailable());
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
    auto failure = std::make_shared<std::optional<QString>>();
    QNetworkReply* reply =
        start(network(), url, failure, [this](const QUrl& target) { return isAllowedArchiveUrl(target); });
    // Held to a small buffer and written out as it comes: memory stays flat whatever the size.
    reply->setReadBufferSize(kReadBufferBytes);
    auto* watchdog =
        new TLTransferWatchdog(reply, context_.downloadInactivityMs, context_.downloadDeadlineMs);
    auto received = std::make_shared<qint64>(0);
    const qint64 maxBytes = context_.maxArchiveBytes;
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, failure, maxBytes] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > maxBytes) {
            fail(reply, failure, text(kTooLarge));
        }
    });
    const auto store = [this, reply, failure, received, maxBytes](const QByteArray& chunk) {
        if (*failure || chunk.isEmpty()) {
            return;
        }
        if (*received == 0) {
            step("download");
        }
        *received += chunk.size();
        if (*received > maxBytes) {
            fail(reply, failure, text(kTooLarge));
        } else if (!writeAll(downloadFd_, chunk)) {
            fail(reply, failure, TLUpdateErrors::file(errno));
        }
    };
    connect(reply, &QNetworkReply::readyRead, reply, [reply, store] { store(reply->readAll()); });
    connect(reply, &QNetworkReply::finished, this, [this, reply, watchdog, failure, received, store, input] {
        reply->deleteLater();
        if (shuttingDown_) {
            return;
        }
        TLDownloadOutcome outcome;
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        outcome.status = status.isValid() ? status.toInt() : 0;
        store(reply->readAll());
        outcome.error = transferFailure(reply, *watchdog, failure, *received);
        if (::close(downloadFd_) != 0 && !outcome.error) {
            outcome.error = TLUpdateErrors::file(errno);
        }
        downloadFd_ = -1;
        if (!outcome.error) {
            outcome.downloadedFile = downloadPath_;
        }
        verifyInBackground(outcome, input);
    });
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
