// The X11 window backend and the mover against the shared test desktop's real window manager.
#include "TLLog.h"
#include "TLX11HotKeyService.h"
#include "TLX11WindowFixture.h"

namespace {

using Frame = TLTestDesktop::Frame;
using Truth = TLDesktopTruth;
using namespace std::chrono_literals;

const TLLayout& layout(const char* identifier) {
    return tlLayout(identifier);
}

class X11Window : public TLX11WindowFixture {};

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
    ASSERT_TRUE(bare.start(&error, "bare")) << error;
    auto bareConnection = TLX11Connection::open(bare.displayName().c_str());
    QStringList log;
    const TLLog sink(
        [&](std::string_view line) { log << QString::fromUtf8(line.data(), qsizetype(line.size())); });
    TLX11WindowControl bareControl(*bareConnection, &sink);
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
    EXPECT_EQ(log, QStringList{TLX11FrameWriter::kStillRestrictedLine});
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
