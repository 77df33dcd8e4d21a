#include "TLFileOps.h"

#include "TLUpdateErrors.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

bool fail(QString* error, const QString& path, int code) {
    if (error) {
        *error = TLUpdateErrors::moveFailed(path, code);
    }
    return false;
}

} // namespace

bool TLFileOps::moveItem(const QString& from, const QString& to, QString* error) {
    if (!exists(from)) {
        return fail(error, from, ENOENT);
    }
    if (::renameat2(AT_FDCWD, native(from).constData(), AT_FDCWD, native(to).constData(), RENAME_NOREPLACE) ==
        0) {
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) {
        return fail(error, from, errno);
    }
    // A file system without the no-replace flag: test first, then rename.
    if (exists(to)) {
        return fail(error, from, EEXIST);
    }
    return std::rename(native(from).constData(), native(to).constData()) == 0 || fail(error, from, errno);
}

TLFileOps::Swap TLFileOps::exchange(const QString& replacement, const QString& current, const QString& aside,
                                    bool exchangeRefused, const std::function<void()>& between,
                                    QString* error) {
    for (const QString& path : {current, replacement}) {
        if (!exists(path)) {
            fail(error, path, ENOENT);
            return Swap::Failed;
        }
    }
    if (!exchangeRefused) {
        if (::renameat2(AT_FDCWD, native(replacement).constData(), AT_FDCWD, native(current).constData(),
                        RENAME_EXCHANGE) == 0) {
            return Swap::Exchanged;
        }
        if (errno != EINVAL && errno != ENOSYS) {
            fail(error, current, errno);
            return Swap::Failed;
        }
    }
    if (!moveItem(current, aside, error)) {
        return Swap::Failed;
    }
    if (between) {
        between();
    }
    if (!moveItem(replacement, current, error)) {
        moveItem(aside, current);
        return Swap::Failed;
    }
    return Swap::MovedAside;
}

bool TLFileOps::openUpFolders(const QString& root) {
    bool opened = true;
    std::vector<fs::path> pending{fs::path(native(root).toStdString())};
    while (!pending.empty()) {
        const fs::path folder = std::move(pending.back());
        pending.pop_back();
        struct stat info {};
        if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
            opened = false;
            continue;
        }
        // Only the last component could be a link, and lstat has just seen a folder there.
        if ((info.st_mode & S_IRWXU) != S_IRWXU &&
            ::chmod(folder.c_str(), (info.st_mode & 0777) | S_IRWXU) != 0) {
            opened = false;
        }
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            if (it->symlink_status(ec).type() == fs::file_type::directory) {
                pending.push_back(it->path());
            }
        }
        opened = opened && !ec;
    }
    return opened;
}

bool TLFileOps::removeItem(const QString& path) {
    struct stat info {};
    if (::lstat(native(path).constData(), &info) != 0) {
        return errno == ENOENT;
    }
    if (S_ISDIR(info.st_mode)) {
        openUpFolders(path);
    }
    std::error_code ec;
    fs::remove_all(fs::path(native(path).toStdString()), ec);
    return !exists(path);
}

bool TLFileOps::exists(const QString& path) {
    struct stat info {};
    return ::lstat(native(path).constData(), &info) == 0;
}
