#pragma once

#include "TLTransfers.h"

class QNetworkAccessManager;

// Transfers over Qt's network stack, in the helper process (and directly in tests). Going away
// aborts what still runs without calling back.
class TLNetworkTransfers final : public TLTransfers {
public:
    TLNetworkTransfers();

    void fetch(const QUrl& url, const Limits& limits, Done done) override;
    void download(const QUrl& url, const Limits& limits, int fd, std::function<void()> firstBytes,
                  Done done) override;

    static std::unique_ptr<TLTransfers> create(const QString& bundlePath, QString* error);

private:
    QNetworkAccessManager* network_; // a child: it and its transfers go after the connections to this
};
