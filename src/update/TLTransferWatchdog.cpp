#include "TLTransferWatchdog.h"

#include <QNetworkReply>

TLTransferWatchdog::TLTransferWatchdog(QNetworkReply* reply, int inactivityMs, int deadlineMs)
    : QObject(reply), reply_(reply) {
    inactivity_.setSingleShot(true);
    deadline_.setSingleShot(true);
    connect(&inactivity_, &QTimer::timeout, this, &TLTransferWatchdog::fire);
    connect(&deadline_, &QTimer::timeout, this, &TLTransferWatchdog::fire);
    const auto alive = [this] { inactivity_.start(); };
    connect(reply, &QNetworkReply::metaDataChanged, this, alive);
    connect(reply, &QNetworkReply::downloadProgress, this, alive);
    connect(reply, &QNetworkReply::redirected, this, alive);
    connect(reply, &QNetworkReply::finished, this, [this] {
        inactivity_.stop();
        deadline_.stop();
    });
    inactivity_.setInterval(inactivityMs);
    inactivity_.start();
    deadline_.start(deadlineMs);
}

void TLTransferWatchdog::fire() {
    if (reply_->isFinished()) {
        return;
    }
    timedOut_ = true;
    reply_->abort();
}
