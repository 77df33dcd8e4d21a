#pragma once

// A private headless sway for tests, brought up by the same script as the demo
// (src/app/tools/headless-sway.sh): in layout coordinates HEADLESS-1 1920x1080+1440+0 with a
// swaybar (and its tray) at the top, HEADLESS-2 1440x900+0+180; its own D-Bus session bus and
// XWayland. As root, sway runs as an unprivileged user, made if missing.
#include "TLGeometry.h"
#include "TLTestDesktop.h"

class TLSwayDesktop {
public:
    using Process = TLTestDesktop::Process;
    static constexpr std::array<const char*, 2> kOutputs{"HEADLESS-1", "HEADLESS-2"};

    // In layout coordinates; a window's frame includes its title bar.
    using Rect = TLIntRect;

    ~TLSwayDesktop() { stop(); }
    // bar: a swaybar with a tray; config: more lines for sway's configuration.
    bool start(std::string* error, bool bar = true, const QString& config = {});
    void stop() { script_.reset(); } // closes its input: the script ends sway and its bus

    // SWAYSOCK, WAYLAND_DISPLAY, XDG_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS and DISPLAY (XWayland).
    const QStringList& environment() const { return session_; }
    void setEnvironment() const;
    Process launch(const QStringList& argv, const QStringList& environment = {},
                   const QString& log = {}) const {
        return TLTestDesktop::launchWith(session_ + environment, argv, log);
    }
    int run(const QStringList& argv, std::string* output = nullptr,
            const QStringList& environment = {}) const {
        return TLTestDesktop::runWith(session_ + environment, argv, output);
    }

    // swaymsg -r with these arguments: its reply.
    QJsonDocument message(const QStringList& arguments) const;
    std::vector<bool> command(const QString& command) const;
    std::optional<Rect> output(const char* name) const;
    std::optional<Rect> visibleArea(const char* output) const;
    // The container of the window with this title, once it exists and has the focus.
    std::optional<long long> waitForWindow(const QString& title) const;
    std::optional<QJsonObject> container(long long id) const;
    std::optional<Rect> frame(long long id) const;
    // wtype with these arguments: keys reach sway as from a keyboard.
    bool press(const QString& wtypeArguments) const {
        return run(QStringList{"wtype"} + wtypeArguments.split(' ', Qt::SkipEmptyParts)) == 0;
    }

    // The swaybar's tray holds an item.
    bool trayHasItem() const;

    std::string logs() const { return TLTestDesktop::logsIn(folder_.path()); }

private:
    QTemporaryDir folder_;
    Process script_;
    QStringList session_;
};
