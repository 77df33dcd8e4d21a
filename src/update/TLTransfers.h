#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

// Transfers from the download site: a feed into memory, an archive into a file. The program
// runs each one in a helper process of its bundle (TLProcessTransfers), so that the network
// libraries cost nothing at start and everything a transfer took (threads, TLS state, buffers)
// is gone when it ends; the helper and the tests do the transfer itself (TLNetworkTransfers).
class TLTransfers : public QObject {
public:
    struct Limits {
        int inactivityMs = 0;             // no data for this long ends the transfer
        int deadlineMs = 0;               // and so does running this long
        qint64 maxBytes = 0;              // a larger answer is abandoned (tooLarge)
        bool httpLoopbackAllowed = false; // where redirects may lead besides HTTPS (isAllowedUrl)
    };
    struct Outcome {
        std::optional<QString> error; // the transport failure, in the user's language
        bool tooLarge = false;        // abandoned for its size before anything else went wrong
        int status = 0;               // the HTTP status; 0 without an answer
        QByteArray data;              // a fetch's body
    };
    using Done = std::function<void(const Outcome&)>;

    // Fetches a small document. `done` is called once, from the event loop, unless the
    // transfers go first.
    virtual void fetch(const QUrl& url, const Limits& limits, Done done) = 0;
    // Writes the body into fd as it arrives (a failed write ends the transfer with its reason);
    // `firstBytes` is called when the body begins.
    virtual void download(const QUrl& url, const Limits& limits, int fd, std::function<void()> firstBytes,
                          Done done) = 0;

    // HTTPS, or plain HTTP to this machine when allowed.
    static bool isAllowedUrl(const QUrl& url, bool httpLoopbackAllowed);

    // The helper in the bundle; nothing, with the reason, when it is missing.
    static std::unique_ptr<TLTransfers> fromBundle(const QString& bundlePath, QString* error);
    static constexpr const char* kHelperPath = "/Contents/MacOS/tilora-transfer";
};
