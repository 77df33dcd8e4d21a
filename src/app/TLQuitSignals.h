#pragma once

#include <QObject>

#include <memory>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP end Tilora like its quit command: the event loop returns and main
// gives back what the window system would keep (sway keeps bindings after their client is
// gone). The handler only writes to a pipe; the quit happens in the event loop.
class TLQuitSignals : public QObject {
    Q_OBJECT

public:
    explicit TLQuitSignals(QObject* parent = nullptr);
    ~TLQuitSignals() override;

private:
    std::unique_ptr<QSocketNotifier> notifier_;
};
