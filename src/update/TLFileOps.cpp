#include "TLFileOps.h"

#include <QFile>
#include <QFileInfo>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

fs::path toPath(const QString& path) {
    return fs::path(QFile::encodeName(path).toStdString());
}

QString describe(const QString& from, const std::error_code& ec) {
    return QStringLiteral("„%1“ konnte nicht bewegt werden: %2")
        .arg(QFileInfo(from).fileName(), QString::fromLocal8Bit(ec.message()));
}

} // namespace

bool TLFileOps::moveItem(const QString& from, const QString& to, QString* error) {
    const fs::path source = toPath(from);
    const fs::path target = toPath(to);
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(source, ec))) {
        if (error) {
            *error = describe(from, std::make_error_code(std::errc::no_such_file_or_directory));
        }
        return false;
    }
    if (fs::exists(fs::symlink_status(target, ec))) {
        // Never replace what is there; the caller clears the destination first when it means to.
        if (error) {
            *error = describe(from, std::make_error_code(std::errc::file_exists));
        }
        return false;
    }
    fs::rename(source, target, ec);
    if (!ec) {
        return true;
    }
    if (ec != std::errc::cross_device_link) {
        if (error) {
            *error = describe(from, ec);
        }
        return false;
    }
    std::error_code copyError;
    fs::copy(source, target, fs::copy_options::recursive | fs::copy_options::copy_symlinks, copyError);
    if (copyError) {
        std::error_code ignored;
        fs::remove_all(target, ignored);
        if (error) {
            *error = describe(from, copyError);
        }
        return false;
    }
    std::error_code ignored;
    fs::remove_all(source, ignored);
    return true;
}

bool TLFileOps::removeItem(const QString& path) {
    std::error_code ec;
    fs::remove_all(toPath(path), ec);
    return !exists(path);
}

bool TLFileOps::exists(const QString& path) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(toPath(path), ec));
}
