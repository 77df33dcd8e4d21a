#include "TLUpdateRecovery.h"

#include "TLBundle.h"
#include "TLFileOps.h"
#include "TLLog.h"
#include "TLUpdateVerifier.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One lock file per user in the temporary folder, which other users may share.
int openLockFile(const QString& tempDir) {
    const QString path = tempDir + QStringLiteral("/.tilora-update-%1.lock").arg(::geteuid());
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    struct stat info {};
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != ::geteuid())) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Removes the entries of `folder` whose names begin with one of `prefixes` and that belong to
// this user (compared by hand: name filters compile a regular expression at every start).
void removeOwn(const QString& folder, const QStringList& prefixes) {
    const QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System);
    for (const QString& name : names) {
        if (std::none_of(prefixes.begin(), prefixes.end(),
                         [&](const QString& p) { return name.startsWith(p); })) {
            continue;
        }
        const QString path = folder + QLatin1Char('/') + name;
        struct stat info {};
        if (::lstat(QFile::encodeName(path).constData(), &info) == 0 && info.st_uid == ::geteuid()) {
            TLFileOps::removeItem(path);
        }
    }
}

} // namespace

TLUpdateRecovery::Guard& TLUpdateRecovery::Guard::operator=(Guard&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

TLUpdateRecovery::Guard::~Guard() {
    if (fd_ >= 0) {
        ::close(fd_); // releases the lock
    }
}

TLUpdateRecovery::Guard TLUpdateRecovery::guardInstallation(const QString& tempDir) {
    const int fd = openLockFile(tempDir);
    if (fd >= 0 && ::flock(fd, LOCK_SH) != 0) {
        ::close(fd);
        return Guard();
    }
    return Guard(fd);
}

void TLUpdateRecovery::recoverAtLaunch(const TLLog& log) {
    const QString executable = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
    QString bundlePath = TLBundle::bundlePathForExecutable(executable);
    // Started from the backup of a swap that stopped half-way: the bundle it belongs to.
    const QString folder = QFileInfo(executable).absolutePath();
    if (bundlePath.isEmpty() &&
        folder.endsWith(QLatin1Char('/') + QLatin1String(kBackupName) + QStringLiteral("/Contents/MacOS"))) {
        bundlePath = QDir::cleanPath(folder + QStringLiteral("/../../../Tilora.app"));
    }
    if (!bundlePath.isEmpty()) {
        recover(bundlePath, QDir::tempPath(), log);
    }
}

void TLUpdateRecovery::recover(const QString& bundlePath, const QString& tempDir, const TLLog& log) {
    const Guard guard(openLockFile(tempDir));
    // Any installation under way holds the lock shared: leave its files alone.
    if (guard.fd_ < 0 || ::flock(guard.fd_, LOCK_EX | LOCK_NB) != 0) {
        return;
    }
    const QString installFolder = QFileInfo(bundlePath).absolutePath();
    const QString backup = installFolder + QLatin1Char('/') + QLatin1String(kBackupName);
    if (TLFileOps::exists(backup) && !hasExecutable(bundlePath) && hasExecutable(backup)) {
        QString error;
        const bool restored = TLFileOps::exists(bundlePath)
                                  ? TLFileOps::exchange(backup, bundlePath, QString(), false, {}, &error) ==
                                        TLFileOps::Swap::Exchanged
                                  : TLFileOps::moveItem(backup, bundlePath, &error);
        log.write(restored ? QStringLiteral("Tilora: Unterbrochenes Update: die vorige Version "
                                            "wurde wiederhergestellt")
                           : QStringLiteral("Tilora: Vorige Version nicht wiederhergestellt: ") + error);
        if (!restored) {
            return; // the backup is the only complete bundle left
        }
    }
    TLFileOps::removeItem(backup);
    removeOwn(installFolder, {QLatin1String(kStagingPrefix)});
    // One pass over the temporary folder, which may be large.
    removeOwn(tempDir, {QLatin1String(kWorkPrefix), QLatin1String(kDownloadPrefix)});
}

bool TLUpdateRecovery::hasExecutable(const QString& bundlePath) {
    const std::optional<QVariantMap> info = TLBundle::readInfoDictionary(bundlePath);
    const std::optional<QString> name =
        info ? TLUpdateVerifier::executableName(*info) : std::optional<QString>();
    struct stat status {};
    return name &&
           ::lstat(QFile::encodeName(bundlePath + QStringLiteral("/Contents/MacOS/") + *name).constData(),
                   &status) == 0 &&
           S_ISREG(status.st_mode);
}
