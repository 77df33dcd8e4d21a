#include "TLSwaySocket.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kChunk = 64 * 1024;

} // namespace

TLSwaySocket::~TLSwaySocket() {
    close();
}

void TLSwaySocket::close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

std::unique_ptr<TLSwaySocket> TLSwaySocket::connect(const QString& path, QString* error) {
    const QByteArray native = path.toLocal8Bit();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (native.isEmpty() || static_cast<std::size_t>(native.size()) >= sizeof address.sun_path) {
        if (error) {
            *error = QStringLiteral("ungültiger Pfad");
        }
        return nullptr;
    }
    std::memcpy(address.sun_path, native.constData(), static_cast<std::size_t>(native.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        if (error) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
        }
        return nullptr;
    }
    std::unique_ptr<TLSwaySocket> socket(new TLSwaySocket(fd));
    // A Unix socket connects at once or not at all.
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (error) {
            *error = QString::fromLocal8Bit(std::strerror(errno));
        }
        return nullptr;
    }
    return socket;
}

bool TLSwaySocket::send(std::uint32_t type, QByteArrayView payload) {
    const QByteArray bytes = TLSwayMessage::encode(type, payload);
    qsizetype sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.constData() + sent, static_cast<std::size_t>(bytes.size() - sent),
                                 MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd_, POLLOUT, 0};
            if (::poll(&p, 1, 1000) <= 0) {
                close();
            }
        } else {
            close();
        }
    }
    return fd_ >= 0;
}

std::optional<TLSwayMessage> TLSwaySocket::receive(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (fd_ >= 0) {
        if (std::optional<TLSwayMessage> message = reader_.next()) {
            return message;
        }
        if (reader_.failed()) {
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(std::max<std::int64_t>(0, left.count())));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || readAvailable() == Read::Closed) {
            break;
        }
    }
    close();
    return std::nullopt;
}

TLSwaySocket::Read TLSwaySocket::readAvailable() {
    std::array<char, kChunk> chunk{};
    while (fd_ >= 0) {
        // Never more than the message being read still needs (and one chunk at most), so a
        // hostile length is refused before its bytes are kept.
        const std::size_t want = std::min(chunk.size(), reader_.missing());
        if (want == 0) {
            return Read::Open; // a whole message waits to be taken
        }
        const ssize_t n = ::recv(fd_, chunk.data(), want, 0);
        if (n > 0) {
            reader_.append(QByteArrayView(chunk.data(), n));
            if (reader_.failed()) {
                break;
            }
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return Read::Open;
        }
        break; // end of stream or error
    }
    close();
    return Read::Closed;
}
