#pragma once

#include "TLTest.h"
#include <QHash>
#include <QMutex>

class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 for tests, on its own thread so that a test may block
// while it answers. Each path has one canned response, unknown paths get 404; besides plain
// answers it redirects and fails in the ways a broken server does.
class TLTestHttpServer {
public:
    enum class Mode {
        Normal,           // headers and the whole body, then close
        NoAnswer,         // accept the connection, never answer
        HangUp,           // close the connection without an answer
        HeadersThenStall, // headers announcing the body, then nothing
        Trickle,          // headers, then one body byte every 100 ms
        Truncated,        // headers announcing the body, half of it, then close
    };

    TLTestHttpServer();
    ~TLTestHttpServer();

    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path));
    }
    void serve(const QString& path, const QByteArray& body, int status = 200) {
        set(path, {status, body, {}, Mode::Normal});
    }
    void serve(const QString& path, const QByteArray& body, Mode mode) { set(path, {200, body, {}, mode}); }
    void redirect(const QString& path, const QByteArray& location) {
        set(path, {302, {}, location, Mode::Normal});
    }
    int requestCount(const QString& path) const;

private:
    struct Response {
        int status;
        QByteArray body, location;
        Mode mode;
    };
    void set(const QString& path, const Response& response);
    void answer(QTcpSocket* socket, const QString& path);

    mutable QMutex mutex_;
    QHash<QString, Response> responses_;
    QStringList requests_;
    quint16 port_ = 0;
    QThread thread_;
    QObject* worker_ = nullptr; // owns the listening socket and the connections, on thread_
};
