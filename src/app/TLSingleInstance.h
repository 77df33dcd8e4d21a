#pragma once

#include <QLocalServer>
#include <QObject>
#include <QString>

// Keeps one Tilora per user and X display. The first process listens on a local socket; a
// later one asks it to show its settings window and then ends itself.
class TLSingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Role { Primary, Secondary, Failed };

    // The server name for the current user and display ($DISPLAY).
    static QString defaultServerName();

    explicit TLSingleInstance(QString serverName = defaultServerName(), QObject* parent = nullptr);
    ~TLSingleInstance() override;

    // Becomes the primary instance, or hands the request to the running one. Secondary means the
    // running instance has acknowledged; Failed that neither worked (the caller may carry on
    // alone).
    Role claim(int timeoutMs = 3000);

    const QString& serverName() const { return serverName_; }

signals:
    // A later start asked this (primary) instance to show itself.
    void activationRequested();

private:
    bool askRunningInstance(int timeoutMs);
    void handleConnection();

    QString serverName_;
    QLocalServer server_;
};
