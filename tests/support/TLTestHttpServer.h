#pragma once

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QUrl>

class TLTestHttpWorker;

// A small HTTP/1.1 server on 127.0.0.1 for tests, on its own thread so that a test may block
// (wait for a process, run a modal loop) while it answers. Each path has one canned
// response; unknown paths get 404. Besides plain answers it can redirect and fail in the
// ways a broken server does.
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
    TLTestHttpServer(const TLTestHttpServer&) = delete;
    TLTestHttpServer& operator=(const TLTestHttpServer&) = delete;

    quint16 port() const { return port_; }
    QUrl url(const QString& path) const;

    void serve(const QString& path, const QByteArray& body, int status = 200);
    void redirect(const QString& path, const QByteArray& location);
    void serve(const QString& path, const QByteArray& body, Mode mode);

    // How many requests for the path arrived so far.
    int requestCount(const QString& path) const;

private:
    friend class TLTestHttpWorker;
    struct Response {
        int status = 200;
        QByteArray body;
        QByteArray location; // sent as Location when not empty
        Mode mode = Mode::Normal;
    };
    void setResponse(const QString& path, const Response& response);
    Response responseFor(const QString& path);

    mutable QMutex mutex_;
    QHash<QString, Response> responses_;
    QStringList requests_;
    quint16 port_ = 0;
    QThread thread_;
    TLTestHttpWorker* worker_ = nullptr; // lives on thread_
};
