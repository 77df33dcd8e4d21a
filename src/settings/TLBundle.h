#pragma once

#include <QString>
#include <QVariantMap>

#include <optional>

// An application bundle: X.app/Contents/Info.plist and X.app/Contents/MacOS/<executable>. A
// bundle with an empty path (a program that lies in none) has an empty information dictionary.
class TLBundle {
public:
    // A bundle at the given path; an empty path stands for no bundle.
    explicit TLBundle(QString bundlePath);

    // The bundle the running executable lies in.
    static TLBundle ofRunningExecutable();

    // The bundle an executable lies in: ".../X.app/Contents/MacOS/<exe>" gives ".../X.app";
    // empty for an executable outside a bundle.
    static QString bundlePathForExecutable(const QString& executablePath);

    // Whether a CFBundleExecutable names a file of Contents/MacOS itself: not empty, no separator,
    // not "." or "..", no NUL byte (where the system would end the name).
    static bool isExecutableName(const QString& name);

    // Contents/Info.plist of any bundle, XML or binary; absent when it is missing, unreadable or
    // not a dictionary.
    static std::optional<QVariantMap> readInfoDictionary(const QString& bundlePath);

    const QString& bundlePath() const { return bundlePath_; }
    // Read once, at the first call: the running version stays what it was at launch.
    const QVariantMap& infoDictionary() const;
    // CFBundleIdentifier, else the identifier the program was built with.
    QString bundleIdentifier() const;
    // CFBundleShortVersionString when it is a string.
    std::optional<QString> shortVersion() const;
    // Contents/MacOS/<CFBundleExecutable>; absent when the bundle names none.
    std::optional<QString> executablePath() const;

private:
    QString bundlePath_;
    mutable std::optional<QVariantMap> info_;
};
