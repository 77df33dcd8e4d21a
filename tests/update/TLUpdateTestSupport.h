#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>

// Helpers shared by the updater tests: bundles on disk, property lists, waiting on the loop.
namespace TLUpdateTestSupport {

// The XML Info.plist of a bundle with the test's identifier; no CFBundleExecutable when empty.
QByteArray bundleInfo(const QString& version, const QString& identifier = QStringLiteral("org.tilora.Tilora"),
                      const QString& executable = QStringLiteral("Tilora"));
// Writes <path>/Contents/Info.plist and Contents/MacOS/<executable>.
void writeBundle(const QString& path, const QByteArray& info, const QString& executable,
                 const QByteArray& executableData);
// SHA-256 as 64 lower-case hex digits.
QString sha256(const QByteArray& bytes);
// Processes events until the predicate holds or the time is up; returns the predicate.
bool waitUntil(const std::function<bool()>& predicate, int timeoutMs = 10000);
QString readFile(const QString& path);

// A throw-away minisign key pair in `folder`.
struct Key {
    QString secretKeyFile;
    QString publicKey; // the base64 line of the public key file
};
Key makeKey(const QString& folder);
// The text of minisign's signature of the data with this trusted comment.
QString sign(const Key& key, const QByteArray& data, const QString& trustedComment);

} // namespace TLUpdateTestSupport
