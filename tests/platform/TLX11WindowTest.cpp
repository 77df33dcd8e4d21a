// The X11 window backend and the mover against the shared test desktop's real window manager.
#include "TLPlacement.h"
#include "TLTest.h"
#include "TLTestDesktop.h"
#include "TLVisibleFrames.h"
#include "TLWindowMover.h"
#include "TLX11Connection.h"
#include "TLX11HotKeyService.h"
#include "TLX11WindowControl.h"

namespace {

using Frame = TLTestDesktop::Frame;
using namespace std::chrono_literals;

const TLLayout& layout(const char* identifier) {
    return *TLLayout::layoutWithIdentifier(identifier);
}

// The desktop as the fixture defines it, in root coordinates: the panel on LEFT, and rightTop
// reserved at the top of the screen, which only RIGHT reaches.
struct Truth {
    explicit Truth(int rightTop = 0) {
        for (const auto& m : TLTestDesktop::kMonitors) {
            const int top = m.y == 0 ? rightTop : 0, bottom = m.y == 0 ? 0 : TLTestDesktop::kPanelHeight;
            monitors.push_back({m.x, m.y, m.width, m.height});
            visible.push_back({m.x, m.y + top, m.width, m.height - top - bottom});
        }
        displays = TLVisibleFrames::toDisplays(monitors, visible, 0);
    }
    std::vector<TLX11Rect> monitors, visible;
    std::vector<TLDisplay> displays;
};

// Where a layout puts a window whose outer frame is `from`, in root coordinates (the window
// system of the placement is anchored at the primary, RIGHT at x 1440).
Frame expectedFrame(const TLLayout& layout, const Frame& from) {
    const TLPlacementResult r =
        TLPlacement::place({Truth().displays, nullptr, nullptr}, {double(from.x - 1440), double(from.y)},
                           {double(from.width), double(from.height)}, layout.kind(), layout.frac());
    return {int(r.position.x + 1440), int(r.position.y), int(r.size.width), int(r.size.height)};
}

class X11Window : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        connection = TLX11Connection::open(tlDesktop().displayName().c_str());
        control = std::make_unique<TLX11WindowControl>(*connection);
        mover = std::make_unique<TLWindowMover>(*control);
    }
    static void TearDownTestSuite() {
        mover.reset();
        control.reset();
        connection.reset();
    }
    // Starts a client and waits until its window is managed and active.
    xcb_window_t open(const std::string& title, const QStringList& extra = {},
                      const std::string& wmClass = "tlprobe") {
        clients.push_back(desktop.launchTestClient(title, wmClass, 500, 400, extra));
        const xcb_window_t w = desktop.waitForWindow(title);
        EXPECT_TRUE(w && desktop.activate(w)) << title;
        return w;
    }
    // The frame once it equals `want` (the backends learn from events), else the last one seen.
    Frame settleAt(xcb_window_t w, const Frame& want, TLTestDesktop& on = tlDesktop()) {
        Frame last;
        tlWaitFor([&] { return (last = on.outerFrame(w).value_or(last)) == want; }, 3000);
        return last;
    }
    // Applies the layout to the active window and checks that it lands where the placement puts it.
    Frame expectApplied(xcb_window_t w, const TLLayout& layout) {
        const Frame before = *desktop.outerFrame(w), want = expectedFrame(layout, before);
        QString message;
        EXPECT_TRUE(mover->applyLayout(layout, &message))
            << layout.identifier() << ": " << message.toStdString();
        const Frame got = settleAt(w, want);
        EXPECT_EQ(got, want) << layout.identifier() << " from " << ::testing::PrintToString(before);
        return got;
    }
    // Puts the window's frame somewhere, as the window manager's own move would.
    void place(xcb_window_t w, const Frame& f) {
        std::vector<uint32_t> e = desktop.cardinals(w, "_NET_FRAME_EXTENTS");
        e.resize(4, 0);
        desktop.sendClientMessage(w, "_NET_MOVERESIZE_WINDOW",
                                  {1 | (0xf << 8) | (2 << 12), uint32_t(f.x), uint32_t(f.y),
                                   f.width - e[0] - e[1], f.height - e[2] - e[3]});
        ASSERT_EQ(settleAt(w, f), f);
    }
    void setState(xcb_window_t w, const char* state, const char* second = nullptr) {
        desktop.sendClientMessage(w, "_NET_WM_STATE",
                                  {1, desktop.atom(state), second ? desktop.atom(second) : 0, 2, 0});
    }
    bool hasState(xcb_window_t w, const char* state, TLTestDesktop& on = tlDesktop()) {
        return std::ranges::count(on.cardinals(w, "_NET_WM_STATE"), on.atom(state)) > 0;
    }

    static inline std::unique_ptr<TLX11Connection> connection;
    static inline std::unique_ptr<TLX11WindowControl> control;
    static inline std::unique_ptr<TLWindowMover> mover;
    TLTestDesktop& desktop = tlDesktop();
    std::vector<TLTestDesktop::Process> clients;
};

TEST_F(X11Window, DisplaysFollowPanelsAndMonitorsAsTheyComeAndGoAndTheMouse) {
    // Struts, not _NET_WORKAREA (which cuts the panel off the whole screen): the right monitor
    // keeps its full height.
    EXPECT_EQ(control->readFrontmostWindow().displays, Truth().displays);
    EXPECT_EQ(control->readFrontmostWindow().mainDisplay, std::optional<std::size_t>(0));
    auto panel = desktop.launchTestClient("Panel probe", "tlpanel", 200, 20,
                                          {"--type", "DOCK", "--strut", "0,0,20,0"});
    EXPECT_TRUE(tlWaitFor([&] { return control->readFrontmostWindow().displays == Truth(20).displays; }));
    panel.reset();
    EXPECT_TRUE(tlWaitFor([&] { return control->readFrontmostWindow().displays == Truth().displays; }));
    // A monitor goes and comes back (LEFT stands for the screen's output: removing it would bring
    // back the output's own monitor).
    ASSERT_EQ(desktop.run({"xrandr", "--delmonitor", "RIGHT"}), 0);
    EXPECT_TRUE(tlWaitFor([&] { return control->readFrontmostWindow().displays.size() == 1; }));
    ASSERT_EQ(desktop.run({"xrandr", "--setmonitor", "*RIGHT", "1920/508x1080/286+1440+0", "none"}), 0);
    EXPECT_TRUE(tlWaitFor([&] { return control->readFrontmostWindow().displays == Truth().displays; }));
    xcb_warp_pointer(desktop.connection(), XCB_WINDOW_NONE, desktop.root(), 0, 0, 0, 0, 100, 500);
    xcb_flush(desktop.connection());
    EXPECT_TRUE(tlWaitFor([&] { return control->mouseLocation() == TLPoint{100 - 1440, 1080 - 500}; }));
}

TEST_F(X11Window, AllLayoutsLandOnTheComputedFrameOnBothMonitors) {
    const xcb_window_t w = open("Layout probe");
    const Truth t;
    for (std::size_t m = 0; m < t.monitors.size(); ++m) {
        for (const TLLayout& layout : TLLayout::allLayouts()) {
            place(w,
                  {int(t.visible[m].x) + 40, int(t.visible[m].y) + 30, 500, 400}); // the same start each time
            const Frame got = expectApplied(w, layout);
            // Fractions stay on the monitor; display moves (both ways, from both monitors) leave it.
            const TLX11Rect& area = t.visible[layout.kind() == TLLayoutKindFrac ? m : 1 - m];
            EXPECT_TRUE(got.x >= area.x && got.y >= area.y && got.x + got.width <= area.maxX() &&
                        got.y + got.height <= area.maxY())
                << layout.identifier() << " " << ::testing::PrintToString(got);
        }
    }
}

TEST_F(X11Window, SpecialWindowsLandWhereTheyShould) {
    // A client-side-decorated window: its visible frame, without the shadow, is placed.
    expectApplied(open("Shadow probe", {"--gtk-extents", "12,14,8,20"}), layout("quarter.tl"));
    // A desktop window gives way to the topmost movable window of its process, whose frame reads
    // in window coordinates (anchored at the primary, right monitor).
    open("Desktop probe", {"--type", "DESKTOP", "--companion", "Companion probe"}, "tldesk");
    const xcb_window_t companion = desktop.waitForWindow("Companion probe");
    ASSERT_TRUE(desktop.activate(desktop.waitForWindow("Desktop probe")));
    const TLFrontmostWindow front = control->readFrontmostWindow();
    EXPECT_EQ(front.applicationName, std::optional<QString>("tldesk"));
    EXPECT_EQ(front.window, std::optional<std::uint64_t>(companion));
    const Frame f = *desktop.outerFrame(companion);
    EXPECT_EQ(front.frame, (TLRect{double(f.x - 1440), double(f.y), double(f.width), double(f.height)}));
    expectApplied(companion, layout("half.left"));
    clients.back().reset(); // without a movable window of its own, the process has none to offer
    open("Lonely probe", {"--type", "DESKTOP"}, "tldesk");
    QString message;
    EXPECT_FALSE(mover->applyLayout(layout("half.left"), &message));
    EXPECT_EQ(message.toStdString(), "tldesk hat kein bewegbares Fenster (AXError 0).");
}

TEST_F(X11Window, TheNewlyActiveWindowIsMovedRightAway) {
    // No event loop runs between the two: the backend itself must notice the change.
    const xcb_window_t a = open("First probe"), b = open("Second probe");
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(desktop.activate(a));
        expectApplied(a, layout("half.left"));
        ASSERT_TRUE(desktop.activate(b));
        expectApplied(b, layout("half.right"));
    }
}

TEST_F(X11Window, RestoresRunAlongsideTheEventLoopAndEndOnTheConfirmation) {
    const std::tuple<const char*, const char*, const char*, std::uint32_t> rows[] = {
        // layout, state, second state, the left frame extent once the window manager applied them
        {"half.right", "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ", 0},
        {"screen.center", "_NET_WM_STATE_MAXIMIZED_HORZ", nullptr, 0},
        {"quarter.tl", "_NET_WM_STATE_FULLSCREEN", nullptr, 0},
        {"third.center", "_NET_WM_STATE_SHADED", nullptr, 1},
    };
    const xcb_window_t w = open("Restore probe");
    for (const auto& [id, state, second, leftExtent] : rows) {
        SCOPED_TRACE(state);
        place(w, {1600, 100, 500, 400}); // on the right monitor, where the layout goes
        const Frame want = expectedFrame(layout(id), *desktop.outerFrame(w));
        setState(w, state, second);
        ASSERT_TRUE(desktop.waitUntil([&] {
            const std::vector<uint32_t> extents = desktop.cardinals(w, "_NET_FRAME_EXTENTS");
            return hasState(w, state) && !extents.empty() && extents[0] == leftExtent;
        }));
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(mover->applyLayout(layout(id)));
        EXPECT_LT(clock.elapsed(), 100) << "the press returns at once";
        EXPECT_TRUE(control->restoring());
        EXPECT_EQ(settleAt(w, want), want);
        EXPECT_TRUE(tlWaitFor([&] { return !control->restoring(); }));
        EXPECT_LT(clock.elapsed(), 800) << "done on the confirmation, well before the deadline";
        EXPECT_FALSE(hasState(w, state) || (second && hasState(w, second)));
    }
}

TEST_F(X11Window, AWindowClosedBeforeItsWriteFailsNothingAndLeavesNoState) {
    for (const char* state : {"", "_NET_WM_STATE_MAXIMIZED_VERT"}) {
        const xcb_window_t w = open(std::string("Closing probe ") + state);
        if (*state) {
            setState(w, state);
            ASSERT_TRUE(desktop.waitUntil([&] { return hasState(w, state); }));
        }
        const TLFrontmostWindow front = control->readFrontmostWindow();
        ASSERT_EQ(front.window, std::optional<std::uint64_t>(w));
        clients.back().reset();
        ASSERT_TRUE(desktop.waitUntil([&] { return !desktop.outerFrame(w); }));
        control->setFrame(w, {0, 0}, {400, 300});
        // A restore for the gone window ends at once, long before its deadline.
        EXPECT_TRUE(tlWaitFor([&] { return !control->restoring(); },
                              int(TLX11FrameWriter::kRestoreTimeout.count()) / 2))
            << state;
    }
    // The connection survived every error, and the next window is read afresh.
    EXPECT_TRUE(connection->isConnected());
    expectApplied(open("Next probe"), layout("half.right"));
}

TEST_F(X11Window, WithoutAWindowManagerNothingIsTrustedAndAnUnconfirmedRestoreWritesAtItsDeadline) {
    EXPECT_TRUE(mover->isTrusted());
    EXPECT_FALSE(TLX11Connection::open(":999999"));
    TLTestDesktop bare;
    std::string error;
    ASSERT_TRUE(bare.start(&error, true)) << error;
    auto bareConnection = TLX11Connection::open(bare.displayName().c_str());
    TLX11WindowControl bareControl(*bareConnection);
    TLX11HotKeyService hotKeys(*bareConnection);
    EXPECT_FALSE(bareControl.isTrusted());
    EXPECT_FALSE(bareControl.readFrontmostWindow().hasApplication);
    EXPECT_EQ(bareControl.readFrontmostWindow().displays.size(), 2u);
    // No window manager keeps a client list: the windows are found by name.
    TLTestDesktop::Process a = bare.launchTestClient("A", "tlprobe", 300, 200),
                           b = bare.launchTestClient("B", "tlprobe", 300, 200);
    xcb_window_t windows[2] = {};
    for (int i = 0; i < 2; ++i) {
        std::string id;
        ASSERT_EQ(bare.run({"xdotool", "search", "--sync", "--name", i ? "^B$" : "^A$"}, &id), 0) << id;
        windows[i] = xcb_window_t(std::stoul(id));
    }
    const xcb_atom_t maximized = bare.atom("_NET_WM_STATE_MAXIMIZED_VERT");
    xcb_change_property(bare.connection(), XCB_PROP_MODE_REPLACE, windows[0], bare.atom("_NET_WM_STATE"),
                        XCB_ATOM_ATOM, 32, 1, &maximized);
    xcb_flush(bare.connection());
    ASSERT_TRUE(bare.waitUntil([&] { return hasState(windows[0], "_NET_WM_STATE_MAXIMIZED_VERT", bare); }));
    QElapsedTimer clock;
    clock.start();
    bareControl.setFrame(windows[0], {10, 10}, {300, 200});
    ASSERT_TRUE(bareControl.restoring());
    EXPECT_EQ(settleAt(windows[0], {1450, 10, 300, 200}, bare), (Frame{1450, 10, 300, 200}));
    EXPECT_GT(clock.elapsed(), 900) << "not before the deadline";
    // A newer frame, for any window, supersedes a waiting restore.
    bareControl.setFrame(windows[0], {20, 20}, {300, 200});
    bareControl.setFrame(windows[1], {400, 20}, {300, 200});
    EXPECT_FALSE(bareControl.restoring());
    EXPECT_EQ(settleAt(windows[1], {1840, 20, 300, 200}, bare), (Frame{1840, 20, 300, 200}));
    tlWaitFor([] { return false; }, int((TLX11FrameWriter::kRestoreTimeout + 200ms).count()));
    EXPECT_EQ(bare.outerFrame(windows[0]), (Frame{1450, 10, 300, 200}));
    // The server goes away under a live connection: every call fails quietly, nothing is registered.
    bare.stop();
    EXPECT_FALSE(bareControl.isTrusted());
    EXPECT_TRUE(bareControl.readFrontmostWindow().displays.empty());
    EXPECT_FALSE(bareControl.mouseLocation());
    bareControl.setFrame(1, {0, 0}, {10, 10});
    EXPECT_FALSE(hotKeys.registerHotKeys({{18, 0x1800, {1, 0}}}).at(0));
    hotKeys.unregisterHotKey(1);
    bareConnection->dispatchPending();
    EXPECT_FALSE(bareConnection->isConnected());
}

} // namespace
