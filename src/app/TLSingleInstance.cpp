#include "TLSingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>

namespace {

const QByteArray kRequest = "activate\n";
const QByteArray kAcknowledgement = "ok\n";
constexpr qsizetype kMaxLine = 64;

// A descriptor closed when it goes.
struct Fd {
    int fd = -1;
    explicit Fd(int value) : fd(value) {}
    ~Fd() {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int release() { return std::exchange(fd, -1); }
};

// False when the path does not fit into a socket address.
bool socketAddress(const QString& path, sockaddr_un* address) {
    const QByteArray encoded = QFile::encodeName(path);
    *address = {};
    address->sun_family = AF_UNIX;
    if (encoded.size() >= qsizetype(sizeof address->sun_path)) {
        return false;
    }
    std::copy(encoded.begin(), encoded.end(), address->sun_path);
    return true;
}

// Waits for the events on fd until the deadline; false at the deadline.
bool waitFor(int fd, short events, const QDeadlineTimer& deadline) {
    pollfd entry{fd, events, 0};
    for (;;) {
        const int n = ::poll(&entry, 1, static_cast<int>(std::max<qint64>(0, deadline.remainingTime())));
        if (n >= 0 || errno != EINTR) {
            return n > 0;
        }
    }
}

} // namespace

QString TLSingleInstance::defaultServerName() {
    // Without a regular expression: compiling one costs about a millisecond at every start.
    QString display = qEnvironmentVariable("DISPLAY");
    for (QChar& c : display) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'.' && c != u'_' && c != u'-') {
            c = u'_';
        }
    }
    return QStringLiteral("tilora-%1-%2")
        .arg(QString::number(getuid()), display.isEmpty() ? QStringLiteral("none") : display);
}

namespace {

// In the user's runtime folder (else the temporary folder), where the path fits a socket address.
QString socketPathFor(const QString& serverName) {
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    const QString path = QDir(runtime.isEmpty() ? QDir::tempPath() : runtime).filePath(serverName);
    sockaddr_un address{};
    return socketAddress(path, &address) ? path : QDir(QDir::tempPath()).filePath(serverName);
}

} // namespace

TLSingleInstance::TLSingleInstance(QString serverName, QObject* parent)
    : QObject(parent), serverName_(std::move(serverName)), socketPath_(socketPathFor(serverName_)) {}

TLSingleInstance::~TLSingleInstance() {
    for (auto& [fd, connection] : connections_) {
        connection.notifier.reset();
        ::close(fd);
    }
    listenerNotifier_.reset();
    if (listener_ >= 0) {
        ::close(listener_);
        ::unlink(QFile::encodeName(socketPath()).constData());
    }
}

TLSingleInstance::Role TLSingleInstance::claim(int timeoutMs) {
    // Two processes started at the same moment must not both find no server and both listen:
    // the check and the listen happen under one lock, which the system lets go with the process.
    const Fd lock(::open(QFile::encodeName(socketPath() + QStringLiteral(".lock")).constData(),
                         O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    for (const QDeadlineTimer deadline(timeoutMs); lock.fd >= 0 && ::flock(lock.fd, LOCK_EX | LOCK_NB) != 0 &&
                                                   errno == EWOULDBLOCK && !deadline.hasExpired();) {
        ::usleep(5000);
    }

    const Answer answer = askRunningInstance(timeoutMs);
    // One that accepted the connection is alive, even when it is too busy or stopped to answer:
    // taking its socket over would put a second Tilora beside it.
    return answer == Answer::Acknowledged ? Role::Secondary
           : answer == Answer::Silent     ? Role::Unresponsive
           : listen()                     ? Role::Primary
                                          : Role::Failed;
}

TLSingleInstance::Answer TLSingleInstance::askRunningInstance(int timeoutMs) const {
    const QDeadlineTimer deadline(timeoutMs);
    sockaddr_un address{};
    const Fd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.fd < 0 || !socketAddress(socketPath(), &address)) {
        return Answer::NoListener;
    }
    if (::connect(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        // A full backlog means a listener that does not take its connections.
        return errno == EAGAIN ? Answer::Silent : Answer::NoListener;
    }
    for (qsizetype sent = 0; sent < kRequest.size();) {
        const ssize_t n =
            ::send(socket.fd, kRequest.constData() + sent, size_t(kRequest.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if ((n < 0 && errno != EAGAIN && errno != EINTR) || !waitFor(socket.fd, POLLOUT, deadline)) {
            return Answer::Silent;
        }
    }
    QByteArray answer;
    while (!answer.endsWith('\n') && answer.size() <= kMaxLine) {
        char buffer[kMaxLine];
        const ssize_t n = ::recv(socket.fd, buffer, sizeof buffer, 0);
        if (n > 0) {
            answer.append(buffer, n);
        } else if (n == 0 || (errno != EAGAIN && errno != EINTR) || !waitFor(socket.fd, POLLIN, deadline)) {
            return Answer::Silent;
        }
    }
    return answer == kAcknowledgement ? Answer::Acknowledged : Answer::Silent;
}

bool TLSingleInstance::listen() {
    const QByteArray path = QFile::encodeName(socketPath());
    sockaddr_un address{};
    Fd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (socket.fd < 0 || !socketAddress(socketPath(), &address)) {
        return false;
    }
    // Nobody listens there: a socket file left behind by a crashed instance may block the name.
    ::unlink(path.constData());
    const mode_t mask = ::umask(0077); // only this user may connect
    const bool bound = ::bind(socket.fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::umask(mask);
    if (!bound || ::listen(socket.fd, 8) != 0) {
        return false;
    }
    listener_ = socket.release();
    listenerNotifier_ = std::make_unique<QSocketNotifier>(listener_, QSocketNotifier::Read);
    connect(listenerNotifier_.get(), &QSocketNotifier::activated, this, &TLSingleInstance::acceptConnections);
    return true;
}

void TLSingleInstance::acceptConnections() {
    for (;;) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            return; // drained (or a connection that went before it was taken)
        }
        Connection& connection = connections_[fd];
        connection.notifier = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
        connect(connection.notifier.get(), &QSocketNotifier::activated, this,
                [this, fd] { readRequest(fd); });
    }
}

void TLSingleInstance::readRequest(int fd) {
    const auto it = connections_.find(fd);
    if (it == connections_.end()) {
        return;
    }
    char buffer[kMaxLine + 1];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        return;
    }
    // A line at most; anything else is not a Tilora asking and is dropped.
    QByteArray& request = it->second.request;
    request.append(buffer, std::max<ssize_t>(n, 0));
    if (n > 0 && !request.endsWith('\n') && request.size() <= kMaxLine) {
        return;
    }
    if (request == kRequest) {
        emit activationRequested();
        (void)::send(fd, kAcknowledgement.constData(), size_t(kAcknowledgement.size()), MSG_NOSIGNAL);
    }
    closeConnection(fd);
}

void TLSingleInstance::closeConnection(int fd) {
    const auto it = connections_.find(fd);
    if (it == connections_.end()) {
        return;
    }
    // Called from the notifier's own signal: it goes once that has returned.
    it->second.notifier->setEnabled(false);
    it->second.notifier.release()->deleteLater();
    connections_.erase(it);
    ::close(fd);
}
