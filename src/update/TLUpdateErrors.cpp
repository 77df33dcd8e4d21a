#include "TLUpdateErrors.h"

#include <QFileInfo>

#include <cerrno>
#include <cstring>

QString TLUpdateErrors::transfer(QNetworkReply::NetworkError error, const QString& raw) {
    switch (error) {
    case QNetworkReply::ConnectionRefusedError:
        return QString::fromUtf8(kRefused);
    case QNetworkReply::RemoteHostClosedError:
        return QString::fromUtf8(kConnectionLost);
    case QNetworkReply::HostNotFoundError:
        return QString::fromUtf8(kHostNotFound);
    case QNetworkReply::TimeoutError:
        return QString::fromUtf8(kTimedOut);
    case QNetworkReply::SslHandshakeFailedError:
        return QString::fromUtf8(kTlsFailed);
    case QNetworkReply::InsecureRedirectError:
    case QNetworkReply::TooManyRedirectsError:
        return QString::fromUtf8(kRedirectRefused);
    default:
        return raw;
    }
}

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
