#include "TLUpdateTestSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QThread>

namespace TLUpdateTestSupport {

void ensureApplication() {
    if (QCoreApplication::instance()) {
        return;
    }
    static int argc = 1;
    static char name[] = "tl_update_test";
    static char* argv[] = {name, nullptr};
    static QApplication* const app = new QApplication(argc, argv);
    (void)app;
}

QByteArray infoPlist(const QList<QPair<QString, QString>>& strings) {
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                     "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
                     "<plist version=\"1.0\">\n<dict>\n";
    for (const auto& [key, value] : strings) {
        xml += "\t<key>" + key.toUtf8() + "</key>\n\t<string>" + value.toUtf8() + "</string>\n";
    }
    xml += "</dict>\n</plist>\n";
    return xml;
}

void writeBundle(const QString& path, const QByteArray& info, const QString& executable,
                 const QByteArray& executableData) {
    QDir().mkpath(path + QStringLiteral("/Contents/MacOS"));
    if (!info.isEmpty()) {
        QFile plist(path + QStringLiteral("/Contents/Info.plist"));
        plist.open(QIODevice::WriteOnly);
        plist.write(info);
    }
    QFile exe(path + QStringLiteral("/Contents/MacOS/") + executable);
    exe.open(QIODevice::WriteOnly);
    exe.write(executableData);
}

bool waitUntil(const std::function<bool()>& predicate, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!predicate()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

QStringList entriesStartingWith(const QString& directory, const QString& prefix) {
    return QDir(directory).entryList({prefix + QLatin1Char('*')},
                                     QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

QString readFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return QString();
    }
    return QString::fromUtf8(file.readAll());
}

} // namespace TLUpdateTestSupport
