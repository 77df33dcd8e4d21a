#include "TLUpdateErrors.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>

QString TLUpdateErrors::file(int error) {
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        return QString::fromUtf8(kPermissionDenied);
    case ENOSPC:
    case EDQUOT:
        return QString::fromUtf8(kDiskFull);
    case EEXIST:
    case ENOTEMPTY:
        return QString::fromUtf8(kFileExists);
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

QString TLUpdateErrors::moveFailed(const QString& path, int error) {
    return QStringLiteral("„%1“ konnte nicht bewegt werden: %2").arg(QFileInfo(path).fileName(), file(error));
}
