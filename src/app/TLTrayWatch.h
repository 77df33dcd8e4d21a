#pragma once

#include <QObject>

#include <memory>

class QDBusServiceWatcher;

// Whether Tilora's tray icon can be made now, and when a tray turns up later. Linux desktops
// offer two kinds of tray: the X11 system tray, which Qt watches itself (an icon made before the
// tray starts appears in it later), and StatusNotifierItems over D-Bus (swaybar, KDE, GNOME with
// an extension). Qt decides once per process, at its first tray icon, whether the D-Bus kind
// is there; where it has no X11 kind to fall back on (Wayland), an icon made before a
// StatusNotifierWatcher exists never shows. There the icon waits for the watcher.
class TLTrayWatch : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";

    explicit TLTrayWatch(QObject* parent = nullptr);
    ~TLTrayWatch() override;

    // An icon made now shows in a tray, now or once one starts. When not, trayAppeared()
    // follows once a StatusNotifierWatcher appears.
    bool iconCanBeMade();

signals:
    void trayAppeared();

private:
    std::unique_ptr<QDBusServiceWatcher> watcher_;
};
