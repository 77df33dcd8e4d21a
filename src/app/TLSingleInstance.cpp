#include "TLSingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalSocket>
#include <QLockFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <algorithm>

#include <unistd.h>

namespace {

const QByteArray kRequest = "activate\n";
const QByteArray kAcknowledgement = "ok\n";

} // namespace

QString TLSingleInstance::defaultServerName() {
    QString display = qEnvironmentVariable("DISPLAY");
    display.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9._-]")), QStringLiteral("_"));
    return QStringLiteral("tilora-%1-%2")
        .arg(getuid())
        .arg(display.isEmpty() ? QStringLiteral("none") : display);
}

TLSingleInstance::TLSingleInstance(QString serverName, QObject* parent)
    : QObject(parent), serverName_(std::move(serverName)) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &TLSingleInstance::handleConnection);
}

TLSingleInstance::~TLSingleInstance() = default;

TLSingleInstance::Role TLSingleInstance::claim(int timeoutMs) {
    // Two processes started at the same moment must not both find no server and both listen:
    // the check and the listen happen under one lock file.
    QString lockDir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (lockDir.isEmpty()) {
        lockDir = QDir::tempPath();
    }
    QLockFile lock(QDir(lockDir).filePath(serverName_ + QStringLiteral(".lock")));
    lock.setStaleLockTime(0);
    const bool locked = lock.tryLock(timeoutMs);

    if (askRunningInstance(timeoutMs)) {
        return Role::Secondary;
    }
    // Nobody answered: a socket file left behind by a crashed instance may block the name.
    QLocalServer::removeServer(serverName_);
    const bool listening = server_.listen(serverName_);
    if (locked) {
        lock.unlock();
    }
    return listening ? Role::Primary : Role::Failed;
}

bool TLSingleInstance::askRunningInstance(int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(serverName_);
    if (!socket.waitForConnected(std::min(timeoutMs, 1000))) {
        return false;
    }
    socket.write(kRequest);
    if (!socket.waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
        return false;
    }
    QByteArray answer;
    while (!answer.endsWith('\n')) {
        if (!socket.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())))) {
            return false;
        }
        answer += socket.readAll();
        if (answer.size() > 64) {
            return false;
        }
    }
    return answer == kAcknowledgement;
}

void TLSingleInstance::handleConnection() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            // A line at most; anything else is not a Tilora asking and is dropped.
            QByteArray request = socket->property("tl_request").toByteArray() + socket->readAll();
            if (request.size() > 64) {
                socket->abort();
                return;
            }
            socket->setProperty("tl_request", request);
            if (!request.endsWith('\n')) {
                return;
            }
            if (request == kRequest) {
                emit activationRequested();
                socket->write(kAcknowledgement);
                socket->flush();
            }
            socket->disconnectFromServer();
        });
    }
}
