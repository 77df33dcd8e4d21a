#pragma once

#include "TLSwayMessage.h"

#include <QString>

#include <chrono>
#include <memory>
#include <optional>

// One connection to sway's IPC socket (a Unix stream socket), owned by its descriptor. Writes
// block until sent; reads either wait for one whole message against a deadline (requests) or
// take what has arrived without waiting (events).
class TLSwaySocket {
public:
    enum class Read { Open, Closed };

    ~TLSwaySocket();
    TLSwaySocket(const TLSwaySocket&) = delete;
    TLSwaySocket& operator=(const TLSwaySocket&) = delete;

    // nullptr (with the reason in *error) when the socket cannot be reached.
    static std::unique_ptr<TLSwaySocket> connect(const QString& path, QString* error = nullptr);

    int descriptor() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }

    bool send(std::uint32_t type, QByteArrayView payload);
    // The next message, waiting at most `timeout`; nothing on a closed or broken stream or at
    // the deadline. Any failure closes the socket.
    std::optional<TLSwayMessage> receive(std::chrono::milliseconds timeout);
    // Without waiting: hands what has arrived to the reader. Closed on end of stream, an error or
    // a stream the reader refused.
    Read readAvailable();
    TLSwayMessageReader& reader() { return reader_; }

    void close();

private:
    explicit TLSwaySocket(int fd) : fd_(fd) {}

    int fd_ = -1;
    TLSwayMessageReader reader_;
};
