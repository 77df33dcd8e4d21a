#include "TLConfigPaths.h"

#include <QDir>

#include <pwd.h>
#include <unistd.h>

std::optional<QString> TLConfigPaths::configHome() {
    // Relative values are invalid and must be ignored.
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!xdg.isEmpty() && QDir::isAbsolutePath(xdg)) {
        return QDir::cleanPath(xdg);
    }
    QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty() || !QDir::isAbsolutePath(home)) {
        home.clear();
        if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) {
            home = QString::fromLocal8Bit(entry->pw_dir);
        }
    }
    if (home.isEmpty() || !QDir::isAbsolutePath(home)) {
        return std::nullopt;
    }
    return QDir::cleanPath(home + QStringLiteral("/.config"));
}
