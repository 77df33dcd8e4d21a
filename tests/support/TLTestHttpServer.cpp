#include "TLTestHttpServer.h"
#include "TLTest.h"

#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>

#include <stdexcept>

TLTestHttpServer::TLTestHttpServer() {
    thread_.start();
    worker_ = new QObject;
    worker_->moveToThread(&thread_);
    QMetaObject::invokeMethod(
        worker_,
        [this] {
            auto* server = new QTcpServer(worker_);
            port_ = server->listen(QHostAddress::LocalHost, 0) ? server->serverPort() : 0;
            QObject::connect(server, &QTcpServer::newConnection, worker_, [this, server] {
                while (QTcpSocket* socket = server->nextPendingConnection()) {
                    auto request = std::make_shared<QByteArray>();
                    QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, request] {
                        request->append(socket->readAll());
                        if (request->contains("\r\n\r\n")) {
                            answer(socket, QString::fromUtf8(request->split(' ').value(1)));
                            request->clear();
                        }
                    });
                    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                }
            });
        },
        Qt::BlockingQueuedConnection);
    if (port_ == 0) {
        throw std::runtime_error("TLTestHttpServer: cannot listen on 127.0.0.1");
    }
}

TLTestHttpServer::~TLTestHttpServer() {
    worker_->deleteLater(); // with its sockets, on its own thread as that ends
    thread_.quit();
    thread_.wait();
}

void TLTestHttpServer::set(const QString& path, const Response& response) {
    QMutexLocker lock(&mutex_);
    responses_.insert(path, response);
}

int TLTestHttpServer::requestCount(const QString& path) const {
    QMutexLocker lock(&mutex_);
    return int(requests_.count(path));
}

void TLTestHttpServer::answer(QTcpSocket* socket, const QString& path) {
    Response r{404, "not found", {}, Mode::Normal};
    {
        QMutexLocker lock(&mutex_);
        requests_.append(path);
        r = responses_.value(path, r);
    }
    if (r.mode == Mode::HangUp) {
        socket->abort();
    }
    if (r.mode == Mode::HangUp || r.mode == Mode::NoAnswer) {
        return;
    }
    socket->write("HTTP/1.1 " + QByteArray::number(r.status) +
                  " Status\r\nContent-Length: " + QByteArray::number(r.body.size()) + "\r\n" +
                  (r.location.isEmpty() ? QByteArray() : "Location: " + r.location + "\r\n") +
                  "Connection: close\r\n\r\n");
    if (r.mode == Mode::Normal) {
        socket->write(r.body);
        socket->disconnectFromHost();
    } else if (r.mode == Mode::Truncated) {
        // The close comes a moment after the data, as from a server that dies mid-transfer.
        socket->write(r.body.left(r.body.size() / 2));
        QTimer::singleShot(100, socket, [socket] { socket->abort(); });
    } else if (r.mode == Mode::Trickle) {
        auto* timer = new QTimer(socket);
        QObject::connect(timer, &QTimer::timeout, socket,
                         [socket, body = r.body, sent = qsizetype(0)]() mutable {
                             if (sent < body.size()) {
                                 socket->write(body.mid(sent++, 1));
                             } else {
                                 socket->disconnectFromHost();
                             }
                         });
        timer->start(100);
    } else {
        socket->flush(); // HeadersThenStall
    }
}
