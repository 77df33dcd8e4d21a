#pragma once

// A private headless sway for sway tests, started and stopped by the test itself: two outputs
// of unequal size with offset tops (the second one scaled), a swaybar with a tray on the first,
// its own D-Bus session bus, XWayland on demand. sway refuses to run as root: as root the
// fixture runs it (and the bus) as the unprivileged user kUser, made if missing; root may still
// talk to both sockets. Everything it starts is stopped by process id.
//
//     TLSwayDesktop sway;
//     ASSERT_TRUE(sway.start(&error)) << error;
//     sway.setEnvironment();                        // SWAYSOCK, WAYLAND_DISPLAY, ... for us
//     auto foot = sway.launchFoot("Probe");
//     const auto id = sway.waitForWindow("Probe");  // its container id, focused
//     sway.press("-M ctrl -M alt -k Left");        // a virtual keyboard (wtype)
//     sway.frame(*id);                             // outer frame in layout coordinates

#include "TLTestProcess.h"

#include <QJsonObject>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

class TLSwayDesktop {
public:
    static constexpr const char* kUser = "tilora-test";
    struct Output {
        const char* name;
        int x, y, width, height; // logical, in layout coordinates
        const char* command;     // how the fixture sets it up
    };
    static const std::vector<Output>& outputs();

    // A rectangle in layout coordinates; a container's frame includes its title bar.
    struct Rect {
        long long x = 0, y = 0, width = 0, height = 0;
        bool operator==(const Rect&) const = default;
        friend void PrintTo(const Rect& r, std::ostream* os) {
            *os << r.width << 'x' << r.height << '+' << r.x << '+' << r.y;
        }
    };

    struct Options {
        bool bar = true;
        std::string config; // more configuration lines
    };

    ~TLSwayDesktop() { stop(); }
    bool start(std::string* error) { return start(Options{}, error); }
    bool start(const Options& options, std::string* error);
    void stop();
    TLTestProcess* sway() const { return sway_.get(); }

    // "NAME=value" for a client of this desktop: display, runtime folder, IPC socket, bus, X display.
    std::vector<std::string> environment() const;
    void setEnvironment() const;

    // swaymsg: the reply of a message ("get_tree", "command" with a payload).
    QJsonObject tree() const;
    std::vector<bool> command(const std::string& command) const;
    std::optional<Rect> visibleArea(const std::string& output) const;

    std::unique_ptr<TLTestProcess> launch(const std::vector<std::string>& argv) const;
    std::unique_ptr<TLTestProcess> launchFoot(const std::string& title) const;
    std::unique_ptr<TLTestProcess> launchX11Client(const std::string& title) const;
    // The container of the window with this title, once it exists and has the focus.
    std::optional<long long> waitForWindow(const std::string& title) const;
    std::optional<QJsonObject> container(long long id) const;
    std::optional<Rect> frame(long long id) const;
    // wtype with these arguments (keys go to the seat's focused window, or to a binding).
    bool press(const std::string& wtypeArguments) const;

    static bool waitUntil(const std::function<bool()>& condition,
                          std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
    std::string logs() const;

private:
    bool fail(std::string* error, const std::string& message);
    std::string runSwaymsg(const std::vector<std::string>& arguments) const;

    std::string dir_;
    std::string socket_, display_, bus_, xDisplay_;
    std::unique_ptr<TLTestProcess> bus_process_;
    std::unique_ptr<TLTestProcess> sway_;
};
