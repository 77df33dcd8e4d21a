#include "TLNetworkTransfers.h"

#include "TLTransferWatchdog.h"
#include "TLUpdateErrors.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

#include <cerrno>
#include <unistd.h>

namespace {

QString text(const char* s) {
    return QString::fromUtf8(s);
}

constexpr qint64 kReadBufferBytes = 256 * 1024; // what Qt may hold of a download before it is written

// Why a transfer was ended on purpose, the first reason only, shared by its handlers.
struct Ending {
    std::optional<QString> error;
    bool tooLarge = false;
    bool ended() const { return error || tooLarge; }
};
using SharedEnding = std::shared_ptr<Ending>;

// Ends the transfer for a reason (no reason: too large), unless it ended already.
void end(QNetworkReply* reply, const SharedEnding& ending, std::optional<QString> error) {
    if (ending->ended()) {
        return;
    }
    if (error) {
        ending->error = std::move(error);
    } else {
        ending->tooLarge = true;
    }
    reply->abort();
}

QString transportError(QNetworkReply::NetworkError error, const QString& raw) {
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return text(TLUpdateErrors::kRefused);
    case QNetworkReply::RemoteHostClosedError:
        return text(TLUpdateErrors::kConnectionLost);
    case QNetworkReply::HostNotFoundError:
        return text(TLUpdateErrors::kHostNotFound);
    case QNetworkReply::TimeoutError:
        return text(TLUpdateErrors::kTimedOut);
    case QNetworkReply::SslHandshakeFailedError:
        return text(TLUpdateErrors::kTlsFailed);
    case QNetworkReply::InsecureRedirectError:
    case QNetworkReply::TooManyRedirectsError:
        return text(TLUpdateErrors::kRedirectRefused);
    default:
        return raw;
    }
}

// Why a finished transfer failed, or nothing when the server answered in full (with any
// status, which Qt may also report as an error). `received` counts the body bytes.
std::optional<QString> transferFailure(QNetworkReply* reply, const TLTransferWatchdog& watchdog,
                                       qint64 received) {
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
    return transportError(reply->error(), reply->errorString());
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

} // namespace

TLNetworkTransfers::TLNetworkTransfers() : network_(new QNetworkAccessManager(this)) {}

std::unique_ptr<TLTransfers> TLNetworkTransfers::create(const QString&, QString*) {
    return std::make_unique<TLNetworkTransfers>();
}

namespace {

// A transfer under way: the reply and the watchdog of its time limits (a child of the reply).
struct Transfer {
    QNetworkReply* reply;
    const TLTransferWatchdog* watchdog;
};

// Redirects are followed only to addresses the limits allow; any other ends the transfer.
Transfer start(QNetworkAccessManager& network, const QUrl& url, const TLTransfers::Limits& limits,
               const SharedEnding& ending) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    QNetworkReply* reply = network.get(request);
    QObject::connect(reply, &QNetworkReply::redirected, reply,
                     [reply, ending, loopback = limits.httpLoopbackAllowed](const QUrl& target) {
                         if (TLTransfers::isAllowedUrl(target, loopback)) {
                             emit reply->redirectAllowed();
                         } else {
                             end(reply, ending, text(TLUpdateErrors::kRedirectRefused));
                         }
                     });
    return {reply, new TLTransferWatchdog(reply, limits.inactivityMs, limits.deadlineMs)};
}

TLTransfers::Outcome outcomeOf(const Transfer& transfer, const Ending& ending, qint64 received) {
    QNetworkReply* reply = transfer.reply;
    TLTransfers::Outcome outcome;
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    outcome.status = status.isValid() ? status.toInt() : 0;
    outcome.tooLarge = ending.tooLarge;
    outcome.error = ending.error;
    if (!ending.ended()) {
        outcome.error = transferFailure(reply, *transfer.watchdog, received);
    }
    return outcome;
}

} // namespace

void TLNetworkTransfers::fetch(const QUrl& url, const Limits& limits, Done done) {
    auto ending = std::make_shared<Ending>();
    const Transfer transfer = start(*network_, url, limits, ending);
    QNetworkReply* reply = transfer.reply;
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply, ending, limits](qint64 received, qint64) {
        if (received > limits.maxBytes) {
            end(reply, ending, std::nullopt);
        }
    });
    connect(reply, &QNetworkReply::finished, this, [transfer, ending, done = std::move(done)] {
        QNetworkReply* reply = transfer.reply;
        reply->deleteLater();
        Outcome outcome = outcomeOf(transfer, *ending, reply->bytesAvailable());
        if (!outcome.error && !outcome.tooLarge) {
            outcome.data = reply->readAll();
        }
        done(outcome);
    });
}

void TLNetworkTransfers::download(const QUrl& url, const Limits& limits, int fd,
                                  std::function<void()> firstBytes, Done done) {
    auto ending = std::make_shared<Ending>();
    const Transfer transfer = start(*network_, url, limits, ending);
    QNetworkReply* reply = transfer.reply;
    // Held to a small buffer and written out as it comes: memory stays flat whatever the size.
    reply->setReadBufferSize(kReadBufferBytes);
    auto received = std::make_shared<qint64>(0);
    connect(reply, &QNetworkReply::metaDataChanged, reply, [reply, ending, maxBytes = limits.maxBytes] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > maxBytes) {
            end(reply, ending, std::nullopt);
        }
    });
    const auto store = [reply, ending, received, fd, maxBytes = limits.maxBytes,
                        firstBytes = std::move(firstBytes)](const QByteArray& chunk) {
        if (ending->ended() || chunk.isEmpty()) {
            return;
        }
        if (*received == 0 && firstBytes) {
            firstBytes();
        }
        *received += chunk.size();
        if (*received > maxBytes) {
            end(reply, ending, std::nullopt);
        } else if (!writeAll(fd, chunk)) {
            end(reply, ending, TLUpdateErrors::file(errno));
        }
    };
    connect(reply, &QNetworkReply::readyRead, reply, [reply, store] { store(reply->readAll()); });
    connect(reply, &QNetworkReply::finished, this,
            [transfer, ending, received, store, done = std::move(done)] {
                transfer.reply->deleteLater();
                store(transfer.reply->readAll());
                done(outcomeOf(transfer, *ending, *received));
            });
}
