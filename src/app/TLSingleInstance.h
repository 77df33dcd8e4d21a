#pragma once

#include <QObject>
#include <QString>

#include <map>
#include <memory>

class QSocketNotifier;

// Keeps one Tilora per user and X display. The first process listens on a local socket; a
// later one asks it to show its settings window and then ends itself. A plain Unix socket, so
// that starting needs no network library.
class TLSingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Role {
        Primary,      // this process is the one
        Secondary,    // the running one took the request
        Unresponsive, // one is running (it accepted the connection) but did not answer in time
        Failed,       // neither worked; the caller may carry on alone
    };

    // The server name for the current user and display ($DISPLAY).
    static QString defaultServerName();

    explicit TLSingleInstance(QString serverName = defaultServerName(), QObject* parent = nullptr);
    ~TLSingleInstance() override;

    // Becomes the primary instance, or hands the request to the running one and waits at most
    // timeoutMs for its answer.
    Role claim(int timeoutMs = 3000);

    const QString& serverName() const { return serverName_; }
    // The socket: in the user's runtime folder (else the temporary folder).
    const QString& socketPath() const { return socketPath_; }

signals:
    // A later start asked this (primary) instance to show itself.
    void activationRequested();

private:
    enum class Answer { Acknowledged, NoListener, Silent };

    Answer askRunningInstance(int timeoutMs) const;
    bool listen();
    void acceptConnections();
    void readRequest(int fd);
    void closeConnection(int fd);

    QString serverName_;
    QString socketPath_;
    int listener_ = -1;
    std::unique_ptr<QSocketNotifier> listenerNotifier_;
    struct Connection {
        std::unique_ptr<QSocketNotifier> notifier;
        QByteArray request;
    };
    std::map<int, Connection> connections_;
};
