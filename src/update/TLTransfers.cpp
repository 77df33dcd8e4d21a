#include "TLTransfers.h"

#include "TLProcessTransfers.h"

#include <QFileInfo>

#include <arpa/inet.h>

namespace {

// An address of this machine: 127.0.0.0/8, ::1 and 127.x mapped into IPv6 (without the network
// library, which only the helper loads).
bool isLoopbackAddress(const QString& host) {
    const QByteArray ascii = host.toLatin1();
    in_addr v4{};
    in6_addr v6{};
    if (::inet_pton(AF_INET, ascii.constData(), &v4) == 1) {
        return (ntohl(v4.s_addr) >> 24) == 127;
    }
    return ::inet_pton(AF_INET6, ascii.constData(), &v6) == 1 &&
           (IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127));
}

} // namespace

bool TLTransfers::isAllowedUrl(const QUrl& url, bool httpLoopbackAllowed) {
    if (!url.isValid() || url.isRelative()) {
        return false;
    }
    if (url.scheme() == QLatin1String("https")) {
        return true;
    }
    const QString host = url.host();
    return httpLoopbackAllowed && url.scheme() == QLatin1String("http") &&
           (host == QLatin1String("localhost") || isLoopbackAddress(host));
}

std::unique_ptr<TLTransfers> TLTransfers::fromBundle(const QString& bundlePath, QString* error) {
    const QString helper = bundlePath + QLatin1String(kHelperPath);
    if (!QFileInfo(helper).isExecutable()) {
        if (error) {
            *error = QStringLiteral("%1 fehlt").arg(helper);
        }
        return nullptr;
    }
    return std::make_unique<TLProcessTransfers>(helper);
}
