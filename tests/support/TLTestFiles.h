#pragma once

// Small helpers every test may use: whole files, the event loop with a deadline, and an
// environment variable set for one scope.
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <functional>
#include <optional>

inline QByteArray tlRead(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline QString tlText(const QString& path) {
    return QString::fromUtf8(tlRead(path));
}

// Writes the whole file, creating its folders; false when that fails.
inline bool tlWrite(const QString& path, const QByteArray& data) {
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).absolutePath()) &&
           file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// Runs the event loop until the condition holds or the time is up; returns the condition.
inline bool tlWaitFor(const std::function<bool()>& condition, int timeoutMs = 10000) {
    for (QDeadlineTimer deadline(timeoutMs); !condition();) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

class TLScopedEnv {
public:
    TLScopedEnv(const char* name, const std::optional<QByteArray>& value)
        : name_(name), saved_(qEnvironmentVariableIsSet(name) ? std::optional(qgetenv(name)) : std::nullopt) {
        value ? qputenv(name, *value) : qunsetenv(name);
    }
    ~TLScopedEnv() { saved_ ? qputenv(name_, *saved_) : qunsetenv(name_); }
    TLScopedEnv(const TLScopedEnv&) = delete;
    TLScopedEnv& operator=(const TLScopedEnv&) = delete;

private:
    const char* name_;
    std::optional<QByteArray> saved_;
};
