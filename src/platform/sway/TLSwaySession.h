#pragma once

#include "TLSwaySocket.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QSocketNotifier;

// The program's link to sway: one IPC connection for requests and a second one subscribed to
// the events Tilora follows (once events are subscribed on a connection, replies and events
// interleave, so requests keep their own). Events go to the listeners registered here; the end
// of the compositor (its shutdown event, or the event connection closing) is reported once.
class TLSwaySession {
public:
    class Listener {
    public:
        virtual ~Listener() = default;
        // One event: its type (TLSwayMessage::kEvent...) and its JSON object.
        virtual void handleEvent(std::uint32_t type, const QJsonObject& event) = 0;
    };

    // How long a request may take before the compositor counts as hung.
    static constexpr std::chrono::milliseconds kRequestTimeout{2000};

    // Connects both connections and subscribes; nullptr (with the reason) when sway cannot be
    // reached there. socketPath: the value of SWAYSOCK.
    static std::unique_ptr<TLSwaySession> open(const QString& socketPath, QString* error = nullptr);
    ~TLSwaySession();
    TLSwaySession(const TLSwaySession&) = delete;
    TLSwaySession& operator=(const TLSwaySession&) = delete;

    bool isConnected() const { return requests_->isOpen() && !ended_; }

    // One request and its reply as JSON; nothing when the compositor did not answer with valid
    // JSON in time (the connection is then given up).
    std::optional<QJsonDocument> request(std::uint32_t type, QByteArrayView payload = {});

    // The outcome of one command of a RUN_COMMAND request.
    struct Result {
        bool success = false;
        QString error;
    };
    // Runs commands (separated by ',' or ';'); one result per command, empty when the request
    // failed.
    std::vector<Result> run(const QString& commands);

    // Listeners are not owned and remove themselves before they go.
    void addListener(Listener& listener);
    void removeListener(Listener& listener);
    // Called once when the compositor has gone; from then on every request fails.
    void setEndedHandler(std::function<void()> handler);
    bool hasEnded() const { return ended_; }

    // Reads and hands out the events that have arrived. The event loop calls it; a test may too.
    void dispatchPending();

private:
    TLSwaySession(std::unique_ptr<TLSwaySocket> requests, std::unique_ptr<TLSwaySocket> events);
    void watchFromEventLoop();
    void end();

    std::unique_ptr<TLSwaySocket> requests_;
    std::unique_ptr<TLSwaySocket> events_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::vector<Listener*> listeners_;
    std::function<void()> endedHandler_;
    bool ended_ = false;
    bool dispatching_ = false;
};
