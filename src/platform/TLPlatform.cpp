#include "TLPlatform.h"

#include "TLSwayPlatform.h"
#include "TLX11Platform.h"

#include <QStringList>

std::unique_ptr<TLPlatform> TLPlatform::open(QString* failure) {
    QStringList reasons;
    const QString swaySocket = qEnvironmentVariable("SWAYSOCK");
    if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") && !swaySocket.isEmpty()) {
        QString reason;
        if (std::unique_ptr<TLPlatform> sway = TLSwayPlatform::open(swaySocket, &reason)) {
            return sway;
        }
        reasons.append(QStringLiteral("keine Verbindung zu sway (SWAYSOCK=%1: %2)").arg(swaySocket, reason));
    }
    if (std::unique_ptr<TLPlatform> x11 = TLX11Platform::open()) {
        return x11;
    }
    reasons.append(
        QStringLiteral("keine Verbindung zum X-Server (DISPLAY=%1)").arg(qEnvironmentVariable("DISPLAY")));
    if (failure) {
        *failure = QStringLiteral("Tilora braucht eine X11-Sitzung oder sway: %1.")
                       .arg(reasons.join(QStringLiteral(", ")));
    }
    return nullptr;
}
