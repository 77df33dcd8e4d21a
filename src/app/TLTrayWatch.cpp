#include "TLTrayWatch.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
#include <QGuiApplication>

TLTrayWatch::TLTrayWatch(QObject* parent) : QObject(parent) {}

TLTrayWatch::~TLTrayWatch() = default;

bool TLTrayWatch::iconCanBeMade() {
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        return true; // Qt has the X11 tray to fall back on (or no tray at all, as offscreen)
    }
    const QString service = QString::fromLatin1(kWatcherService);
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!watcher_) {
        watcher_ =
            std::make_unique<QDBusServiceWatcher>(service, bus, QDBusServiceWatcher::WatchForRegistration);
        connect(watcher_.get(), &QDBusServiceWatcher::serviceRegistered, this, &TLTrayWatch::trayAppeared);
    }
    return bus.interface() != nullptr && bus.interface()->isServiceRegistered(service);
}
