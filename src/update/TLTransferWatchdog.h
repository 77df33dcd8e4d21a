#pragma once

#include <QObject>
#include <QTimer>

class QNetworkReply;

// Ends a network transfer that stalls (no data for the inactivity time) or runs past a
// deadline, so that a silent or trickling server cannot keep the updater busy for ever. A
// child of the reply: it lives exactly as long as the transfer.
class TLTransferWatchdog : public QObject {
public:
    TLTransferWatchdog(QNetworkReply* reply, int inactivityMs, int deadlineMs);

    bool timedOut() const { return timedOut_; }

private:
    void fire();

    QNetworkReply* reply_;
    QTimer inactivity_;
    QTimer deadline_;
    bool timedOut_ = false;
};
