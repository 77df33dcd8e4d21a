#include "TLUpdateTestSupport.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QList>
#include <QPair>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <stdexcept>

namespace TLUpdateTestSupport {

QByteArray bundleInfo(const QString& version, const QString& identifier, const QString& executable) {
    QList<QPair<QString, QString>> keys{{"CFBundleIdentifier", identifier},
                                        {"CFBundleShortVersionString", version}};
    if (!executable.isEmpty()) {
        keys.append({"CFBundleExecutable", executable});
    }
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n";
    for (const auto& [key, value] : keys) {
        xml += "\t<key>" + key.toUtf8() + "</key>\n\t<string>" + value.toUtf8() + "</string>\n";
    }
    return xml + "</dict>\n</plist>\n";
}

void writeBundle(const QString& path, const QByteArray& info, const QString& executable,
                 const QByteArray& executableData) {
    QDir().mkpath(path + QStringLiteral("/Contents/MacOS"));
    QFile plist(path + QStringLiteral("/Contents/Info.plist"));
    plist.open(QIODevice::WriteOnly);
    plist.write(info);
    QFile exe(path + QStringLiteral("/Contents/MacOS/") + executable);
    exe.open(QIODevice::WriteOnly);
    exe.write(executableData);
}

QString sha256(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
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

QString readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

namespace {

void minisign(const QStringList& arguments) {
    QProcess tool;
    tool.start(QStringLiteral("minisign"), arguments);
    if (!tool.waitForFinished() || tool.exitCode() != 0) {
        throw std::runtime_error("minisign failed: " + tool.readAllStandardError().toStdString());
    }
}

} // namespace

Key makeKey(const QString& folder) {
    const QString name = QDir(folder).filePath(QStringLiteral("key-%1").arg(QDir(folder).count()));
    minisign({"-G", "-W", "-p", name + ".pub", "-s", name + ".sec"});
    return {name + ".sec", readFile(name + ".pub").split('\n').value(1)};
}

QString sign(const Key& key, const QByteArray& data, const QString& trustedComment) {
    QTemporaryDir dir;
    QFile file(dir.filePath("data"));
    file.open(QIODevice::WriteOnly);
    file.write(data);
    file.close();
    minisign({"-S", "-s", key.secretKeyFile, "-m", file.fileName(), "-x", dir.filePath("sig"), "-t",
              trustedComment});
    return readFile(dir.filePath("sig"));
}

} // namespace TLUpdateTestSupport
