#pragma once

// A private headless X desktop for x11 tests, started and stopped by the test itself:
// Xvfb on a free display (-displayfd) with two RandR monitors of unequal size, openbox with
// NO key bindings, and a tint2 panel (system tray + bottom strut) on the left monitor.
//
//     TLTestDesktop desktop;
//     std::string error;
//     ASSERT_TRUE(desktop.start(&error)) << error;   // waits until every part is ready
//     desktop.setDisplayEnvironment();               // DISPLAY for this process (Qt, xcb_connect)
//     auto client = desktop.launchTestClient("Probe", "probe", 400, 300);
//     xcb_window_t w = desktop.waitForWindow(TLTestDesktop::WindowMatch::byTitle("Probe"));
//     desktop.waitUntil([&] { return desktop.activeWindow() == w; });
//     ...                                            // stop() (or the destructor) tears it down
//
// Geometry in root coordinates (y down): LEFT 1440x900+0+180, RIGHT 1920x1080+1440+0 (primary);
// the panel reserves kPanelHeight pixels at the bottom of LEFT. Nothing here sleeps to
// synchronise: every wait polls X state against a deadline.

#include "TLTestProcess.h"
#include "TLXcb.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

class TLTestDesktop {
public:
    struct Monitor {
        std::string name;
        int x, y, width, height;
        bool primary;
    };
    static constexpr int kScreenWidth = 3360;
    static constexpr int kScreenHeight = 1080;
    static constexpr int kPanelHeight = 32;
    static const std::vector<Monitor>& monitors(); // primary first
    static constexpr std::chrono::milliseconds kDefaultTimeout{10000};

    // What identifies a window in waitForWindow: every non-empty field must match exactly.
    struct WindowMatch {
        std::string title;        // _NET_WM_NAME, else WM_NAME
        std::string wmClass;      // either part of WM_CLASS
        std::optional<pid_t> pid; // _NET_WM_PID
        static WindowMatch byTitle(std::string title, std::string wmClass = {}) {
            return {std::move(title), std::move(wmClass), std::nullopt};
        }
        static WindowMatch byPid(pid_t pid) { return {{}, {}, pid}; }
    };

    struct Options {
        bool windowManager = true;
        bool panel = true; // needs the window manager
    };

    TLTestDesktop() = default;
    ~TLTestDesktop() { stop(); }
    TLTestDesktop(const TLTestDesktop&) = delete;
    TLTestDesktop& operator=(const TLTestDesktop&) = delete;

    bool start(std::string* error = nullptr) { return start(Options{}, error); }
    bool start(const Options& options, std::string* error = nullptr);
    void stop();
    bool isRunning() const { return server_ != nullptr; }
    pid_t serverPid() const { return server_ ? server_->pid() : 0; }

    const std::string& displayName() const { return displayName_; } // ":N"
    void setDisplayEnvironment() const;                             // setenv("DISPLAY", ...)
    // The fixture's own connection, for reading state in checks.
    xcb_connection_t* connection() const { return connection_.get(); }
    xcb_window_t root() const { return root_; }

    // Extra clients on this display, terminated when the returned object goes (X clients also
    // end with the server when the desktop stops).
    std::unique_ptr<TLTestProcess> launch(const std::vector<std::string>& argv, std::string* error = nullptr);
    // The test client program: a plain window with this title, class, size (no size increments).
    std::unique_ptr<TLTestProcess> launchTestClient(const std::string& title, const std::string& wmClass,
                                                    int width, int height,
                                                    const std::vector<std::string>& extraArgs = {});
    static std::string testClientPath();

    // Polls cond (every few milliseconds, against the deadline); true once it holds.
    static bool waitUntil(const std::function<bool()>& cond,
                          std::chrono::milliseconds timeout = kDefaultTimeout);

    // A managed client (in _NET_CLIENT_LIST) that matches; XCB_WINDOW_NONE on timeout.
    xcb_window_t waitForWindow(const WindowMatch& match, std::chrono::milliseconds timeout = kDefaultTimeout);
    std::vector<xcb_window_t> clientList() const;
    xcb_window_t activeWindow() const;
    // Asks the window manager to activate the window and waits until it is active.
    bool activate(xcb_window_t window, std::chrono::milliseconds timeout = kDefaultTimeout);

    // Sends a 32-bit client message about window to the root window, as a pager would.
    void sendClientMessage(xcb_window_t window, const std::string& type, std::array<uint32_t, 5> data);

    // Property helpers on the fixture connection (empty when absent).
    xcb_atom_t atom(const std::string& name) const;
    std::vector<uint32_t> cardinals(xcb_window_t window, const std::string& property) const;
    std::string text(xcb_window_t window, const std::string& property) const; // STRING or UTF8_STRING
    std::vector<std::string> wmClass(xcb_window_t window) const;

    // The visible outer frame in root coordinates (client geometry + _NET_FRAME_EXTENTS).
    struct Frame {
        int x = 0, y = 0, width = 0, height = 0;
        bool operator==(const Frame&) const = default;
        // How test failures print it: "WxH+X+Y", as X geometry is written.
        friend void PrintTo(const Frame& f, std::ostream* os) {
            *os << f.width << 'x' << f.height << '+' << f.x << '+' << f.y;
        }
    };
    std::optional<Frame> outerFrame(xcb_window_t window) const;

    // The tail of the log of the Xvfb, openbox and tint2 processes, for failure messages.
    std::string logs() const;

private:
    bool fail(std::string* error, const std::string& message);
    bool startServer(std::string* error);
    bool defineMonitors(std::string* error);
    // Starts a desktop process that logs to <program>.log in the temporary folder.
    bool startPart(std::unique_ptr<TLTestProcess>& part, const std::vector<std::string>& argv,
                   std::string* error);
    bool startWindowManager(std::string* error);
    bool startPanel(std::string* error);
    std::vector<std::string> displayEnvironment() const;
    TLXcbReply<xcb_get_property_reply_t> property(xcb_window_t window, const std::string& name) const;

    std::string tempDir_;
    std::string displayName_;
    TLXcbConnection connection_;
    xcb_window_t root_ = XCB_WINDOW_NONE;
    mutable std::map<std::string, xcb_atom_t> atoms_;
    std::unique_ptr<TLTestProcess> server_;
    std::unique_ptr<TLTestProcess> windowManager_;
    std::unique_ptr<TLTestProcess> panel_;
};
