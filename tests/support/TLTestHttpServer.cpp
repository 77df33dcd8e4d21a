#include "TLTestHttpServer.h"

#include <QHostAddress>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>
#include <stdexcept>

// Owns the listening socket and the connections; every member runs on the server thread.
class TLTestHttpWorker : public QObject {
public:
    explicit TLTestHttpWorker(TLTestHttpServer& owner) : owner_(owner) {}

    quint16 listen() {
        server_ = new QTcpServer(this);
        if (!server_->listen(QHostAddress::LocalHost, 0)) {
            return 0;
        }
        connect(server_, &QTcpServer::newConnection, this, [this] { accept(); });
        return server_->serverPort();
    }

private:
    void accept() {
        while (QTcpSocket* socket = server_->nextPendingConnection()) {
            socket->setParent(this);
            auto buffer = std::make_shared<QByteArray>();
            connect(socket, &QTcpSocket::readyRead, this, [this, socket, buffer] {
                buffer->append(socket->readAll());
                const qsizetype end = buffer->indexOf("\r\n\r\n");
                if (end < 0) {
                    return;
                }
                const QByteArray requestLine = buffer->left(buffer->indexOf("\r\n"));
                buffer->clear();
                const QList<QByteArray> parts = requestLine.split(' ');
                const QString path = parts.size() >= 2 ? QString::fromUtf8(parts[1]) : QString();
                answer(socket, owner_.responseFor(path));
            });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    }

    void answer(QTcpSocket* socket, const TLTestHttpServer::Response& r) {
        if (r.mode == TLTestHttpServer::Mode::NoAnswer) {
            return;
        }
        if (r.mode == TLTestHttpServer::Mode::HangUp) {
            socket->abort();
            return;
        }
        // Clients read the status code only; the reason phrase is the same for all.
        QByteArray head = "HTTP/1.1 " + QByteArray::number(r.status) + " Status\r\n";
        head += "Content-Length: " + QByteArray::number(r.body.size()) + "\r\n";
        if (!r.location.isEmpty()) {
            head += "Location: " + r.location + "\r\n";
        }
        head += "Connection: close\r\n\r\n";
        socket->write(head);
        switch (r.mode) {
        case TLTestHttpServer::Mode::Normal:
            socket->write(r.body);
            socket->disconnectFromHost();
            break;
        case TLTestHttpServer::Mode::HeadersThenStall:
            socket->flush();
            break;
        case TLTestHttpServer::Mode::Truncated:
            // The close comes a moment after the data, as from a server that dies mid-transfer.
            socket->write(r.body.left(r.body.size() / 2));
            QTimer::singleShot(100, socket, [socket] { socket->abort(); });
            break;
        case TLTestHttpServer::Mode::Trickle: {
            auto* timer = new QTimer(socket);
            auto sent = std::make_shared<qsizetype>(0);
            const QByteArray body = r.body;
            connect(timer, &QTimer::timeout, socket, [socket, timer, sent, body] {
                if (*sent >= body.size()) {
                    timer->stop();
                    socket->disconnectFromHost();
                    return;
                }
                socket->write(body.mid(*sent, 1));
                ++*sent;
            });
            timer->start(100);
            break;
        }
        case TLTestHttpServer::Mode::NoAnswer:
        case TLTestHttpServer::Mode::HangUp:
            break;
        }
    }

    TLTestHttpServer& owner_;
    QTcpServer* server_ = nullptr;
};

TLTestHttpServer::TLTestHttpServer() {
    thread_.setObjectName("TLTestHttpServer");
    thread_.start();
    worker_ = new TLTestHttpWorker(*this);
    worker_->moveToThread(&thread_);
    QMetaObject::invokeMethod(
        worker_, [this] { port_ = worker_->listen(); }, Qt::BlockingQueuedConnection);
    if (port_ == 0) {
        throw std::runtime_error("TLTestHttpServer: cannot listen on 127.0.0.1");
    }
}

TLTestHttpServer::~TLTestHttpServer() {
    // The worker and its sockets are deleted on their own thread as it ends.
    worker_->deleteLater();
    thread_.quit();
    thread_.wait();
}

QUrl TLTestHttpServer::url(const QString& path) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
}

void TLTestHttpServer::setResponse(const QString& path, const Response& response) {
    QMutexLocker lock(&mutex_);
    responses_.insert(path, response);
}

void TLTestHttpServer::serve(const QString& path, const QByteArray& body, int status) {
    setResponse(path, {status, body, {}, Mode::Normal});
}

void TLTestHttpServer::redirect(const QString& path, const QByteArray& location) {
    setResponse(path, {302, {}, location, Mode::Normal});
}

void TLTestHttpServer::serve(const QString& path, const QByteArray& body, Mode mode) {
    setResponse(path, {200, body, {}, mode});
}

int TLTestHttpServer::requestCount(const QString& path) const {
    QMutexLocker lock(&mutex_);
    return static_cast<int>(requests_.count(path));
}

TLTestHttpServer::Response TLTestHttpServer::responseFor(const QString& path) {
    QMutexLocker lock(&mutex_);
    requests_.append(path);
    const auto it = responses_.constFind(path);
    if (it != responses_.constEnd()) {
        return *it;
    }
    return {404, "not found", {}, Mode::Normal};
}
