#include "TLSwaySession.h"

#include "TLSwayMessage.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QSocketNotifier>

#include <algorithm>

namespace {

// What Tilora follows: hot-key presses, the compositor's end, keyboard changes and config
// reloads (a reload drops every binding made at run time).
constexpr QByteArrayView kSubscription = R"(["binding","shutdown","input","workspace"])";

std::optional<QJsonDocument> parse(const TLSwayMessage& message) {
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(message.payload, &error);
    if (error.error != QJsonParseError::NoError) {
        return std::nullopt;
    }
    return document;
}

} // namespace

TLSwaySession::TLSwaySession(std::unique_ptr<TLSwaySocket> requests, std::unique_ptr<TLSwaySocket> events)
    : requests_(std::move(requests)), events_(std::move(events)) {}

TLSwaySession::~TLSwaySession() = default;

std::unique_ptr<TLSwaySession> TLSwaySession::open(const QString& socketPath, QString* error) {
    std::unique_ptr<TLSwaySocket> requests = TLSwaySocket::connect(socketPath, error);
    std::unique_ptr<TLSwaySocket> events = requests ? TLSwaySocket::connect(socketPath, error) : nullptr;
    if (!events) {
        return nullptr;
    }
    std::unique_ptr<TLSwaySession> session(new TLSwaySession(std::move(requests), std::move(events)));
    // The subscription's reply comes before any event on that connection.
    std::optional<TLSwayMessage> reply;
    if (session->events_->send(TLSwayMessage::kSubscribe, kSubscription)) {
        reply = session->events_->receive(kRequestTimeout);
    }
    const std::optional<QJsonDocument> answer = reply ? parse(*reply) : std::nullopt;
    if (!answer || !answer->object().value(QLatin1String("success")).toBool()) {
        if (error) {
            *error = QStringLiteral("keine Antwort von sway");
        }
        return nullptr;
    }
    return session;
}

std::optional<QJsonDocument> TLSwaySession::request(std::uint32_t type, QByteArrayView payload) {
    if (ended_ || !requests_->send(type, payload)) {
        return std::nullopt;
    }
    std::optional<TLSwayMessage> reply = requests_->receive(kRequestTimeout);
    std::optional<QJsonDocument> document = reply && reply->type == type ? parse(*reply) : std::nullopt;
    if (!document) {
        requests_->close(); // out of step with the compositor: nothing later could be trusted
    }
    return document;
}

std::vector<TLSwaySession::Result> TLSwaySession::run(const QString& commands) {
    std::vector<Result> results;
    const std::optional<QJsonDocument> reply = request(TLSwayMessage::kRunCommand, commands.toUtf8());
    if (!reply) {
        return results;
    }
    const QJsonArray array = reply->array();
    results.reserve(static_cast<std::size_t>(array.size()));
    for (const QJsonValue value : array) {
        const QJsonObject object = value.toObject();
        results.push_back({object.value(QLatin1String("success")).toBool(),
                           object.value(QLatin1String("error")).toString()});
    }
    return results;
}

void TLSwaySession::addListener(Listener& listener) {
    listeners_.push_back(&listener);
    watchFromEventLoop();
}

void TLSwaySession::removeListener(Listener& listener) {
    std::erase(listeners_, &listener);
}

void TLSwaySession::setEndedHandler(std::function<void()> handler) {
    endedHandler_ = std::move(handler);
    watchFromEventLoop();
}

void TLSwaySession::watchFromEventLoop() {
    if (notifier_ || !QCoreApplication::instance() || !events_->isOpen()) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(events_->descriptor(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { dispatchPending(); });
}

void TLSwaySession::dispatchPending() {
    if (dispatching_ || ended_) {
        return;
    }
    dispatching_ = true;
    while (true) {
        if (events_->readAvailable() == TLSwaySocket::Read::Closed) {
            end();
            break;
        }
        const std::optional<TLSwayMessage> message = events_->reader().next();
        if (!message) {
            break; // the rest has not arrived yet
        }
        const std::optional<QJsonDocument> event = parse(*message);
        if (!event) {
            continue; // a malformed event is skipped, the stream stays in step
        }
        if (message->type == TLSwayMessage::kEventShutdown) {
            end();
            break;
        }
        const QJsonObject object = event->object();
        // A listener may remove itself, or another one, while it handles an event.
        const std::vector<Listener*> listeners = listeners_;
        for (Listener* listener : listeners) {
            if (std::ranges::find(listeners_, listener) != listeners_.end()) {
                listener->handleEvent(message->type, object);
            }
        }
    }
    dispatching_ = false;
}

void TLSwaySession::end() {
    if (ended_) {
        return;
    }
    ended_ = true;
    // Nothing more to read or ask: a closed descriptor would keep the notifier firing. (The
    // notifier may be the one whose signal runs now: it stays until the session goes.)
    if (notifier_) {
        notifier_->setEnabled(false);
    }
    events_->close();
    requests_->close();
    if (endedHandler_) {
        endedHandler_();
    }
}
