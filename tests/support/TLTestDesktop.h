#pragma once

// A private headless X desktop for tests, brought up by the same script as the demo
// (src/app/tools/headless-desktop.sh): Xvfb on a free display with two RandR monitors of unequal
// size, a window manager with no key bindings (openbox unless another is named), and a tint2
// panel (tray and a bottom strut) on LEFT.
// Geometry in root coordinates: RIGHT 1920x1080+1440+0 (primary), LEFT 1440x900+0+180. Every
// wait polls X state against a deadline; nothing sleeps to synchronise.
#include "TLTest.h"
#include "TLXcb.h"

#include <ostream>

class TLTestDesktop {
public:
    struct Monitor {
        const char* name;
        int x, y, width, height;
    };
    static constexpr std::array<Monitor, 2> kMonitors{
        {{"RIGHT", 1440, 0, 1920, 1080}, {"LEFT", 0, 180, 1440, 900}}};
    static constexpr int kPanelHeight = 32;

    // A visible outer frame in root coordinates; failures print it as X geometry, "WxH+X+Y".
    struct Frame {
        int x = 0, y = 0, width = 0, height = 0;
        bool operator==(const Frame&) const = default;
        friend void PrintTo(const Frame& f, std::ostream* os) {
            *os << f.width << 'x' << f.height << '+' << f.x << '+' << f.y;
        }
    };

    // A child process, terminated and reaped when the handle goes.
    struct Stop {
        void operator()(QProcess* p) const;
    };
    using Process = std::unique_ptr<QProcess, Stop>;

    TLTestDesktop() = default;
    ~TLTestDesktop() { stop(); }
    TLTestDesktop(const TLTestDesktop&) = delete;
    TLTestDesktop& operator=(const TLTestDesktop&) = delete;

    // windowManager: as the script takes it; "bare": the X server and its monitors only, no
    // window manager, no panel.
    bool start(std::string* error = nullptr, const std::string& windowManager = "openbox");
    void stop();

    const std::string& displayName() const { return display_; }
    qint64 serverPid() const { return serverPid_; }
    const std::string& windowManager() const { return windowManager_; }
    xcb_connection_t* connection() const { return connection_.get(); }
    xcb_window_t root() const { return root_; }

    // A program on this display; "NAME=value" entries extend its environment; its output goes
    // to logPath (or nowhere). Ends with this process at the latest.
    Process launch(const QStringList& argv, const QStringList& environment = {}, const QString& logPath = {});
    // The test client: a plain window with this title and class (see TLTestClient.cpp).
    Process launchTestClient(const std::string& title, const std::string& wmClass, int width, int height,
                             const QStringList& extra = {});
    // Runs a program on this display to its end; its exit code, or -1.
    int run(const QStringList& argv, std::string* output = nullptr, const QStringList& environment = {});
    // As launch and run, for any session: "NAME=value" entries over this process's environment.
    static Process launchWith(const QStringList& environment, const QStringList& argv,
                              const QString& logPath = {});
    static int runWith(const QStringList& environment, const QStringList& argv,
                       std::string* output = nullptr);
    // A desktop script's serve mode (bash script serve ...), its errors into logPath, once it has
    // printed the line that says its desktop is ready (*line; empty when it did not come up).
    static Process serve(const QStringList& arguments, const QString& logPath, QString* line);

    static bool waitUntil(const std::function<bool()>& condition,
                          std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // A managed and framed client with this title; XCB_WINDOW_NONE at the deadline.
    xcb_window_t waitForWindow(const std::string& title,
                               std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::vector<xcb_window_t> clientList() const { return cardinals(root_, "_NET_CLIENT_LIST"); }
    xcb_window_t activeWindow() const;
    // True once the window's frame has held still for `still`: the window manager is done with it.
    bool waitForRest(xcb_window_t window, std::chrono::milliseconds still);
    // As a pager asks: honoured without focus-stealing checks; true once it is active.
    bool activate(xcb_window_t window);
    // A 32-bit client message about the window, sent to the root window.
    void sendClientMessage(xcb_window_t window, const std::string& type, std::array<uint32_t, 5> data);

    xcb_atom_t atom(const std::string& name) const;
    std::vector<uint32_t> cardinals(xcb_window_t window, const std::string& property) const;
    std::string text(xcb_window_t window, const std::string& name) const { return property(window, name, 8); }
    std::vector<std::string> wmClass(xcb_window_t window) const;
    // Client geometry plus _NET_FRAME_EXTENTS, less a client-side shadow (_GTK_FRAME_EXTENTS).
    std::optional<Frame> outerFrame(xcb_window_t window) const;

    // The tail of the desktop's logs, for failure messages.
    std::string logs() const { return logsIn(QString::fromStdString(folder_)); }
    static std::string logsIn(const QString& folder);

private:
    std::string property(xcb_window_t window, const std::string& name, int format) const;

    std::string folder_;
    std::string display_;
    qint64 serverPid_ = 0;
    std::string windowManager_;
    Process script_;
    TLXcbConnection connection_;
    xcb_window_t root_ = XCB_WINDOW_NONE;
};
// The desktop the tests of a binary share, brought up on first use (DISPLAY names it) with the
// window manager TL_TEST_WM names (openbox unless it names another).
TLTestDesktop& tlDesktop();
