// The X11 window backend and the mover against the shared test desktop's real window manager.
#include "TLLog.h"
#include "TLX11WindowFixture.h"

namespace {

using Frame = TLTestDesktop::Frame;
using Truth = TLDesktopTruth;
using namespace std::chrono_literals;

const TLLayout& layout(const char* identifier) {
    return tlLayout(identifier);
}

// Frames and visible frames, for comparing displays.
std::vector<std::array<double, 8>> values(const std::vector<TLDisplay>& displays) {
    std::vector<std::array<double, 8>> v;
    for (const auto& [f, a] : displays) {
        v.push_back({f.x, f.y, f.width, f.height, a.x, a.y, a.width, a.height});
    }
    return v;
}

class X11Window : public TLX11WindowFixture {};

TEST_F(X11Window, DisplaysFollowPanelsAsTheyComeAndGoAndTheMouse) {
    // Struts, not _NET_WORKAREA (which cuts the panel off the whole screen): the right monitor
    // keeps its full height.
    EXPECT_EQ(values(control->readFrontmostWindow().displays), values(Truth().displays));
    EXPECT_EQ(control->readFrontmostWindow().mainDisplay, std::optional<std::size_t>(0));
    auto panel = desktop.launchTestClient("Panel probe", "tlpanel", 200, 20,
                                          {"--type", "DOCK", "--strut", "0,0,20,0"});
    EXPECT_TRUE(tlWaitFor(
        [&] { return values(control->readFrontmostWindow().displays) == values(Truth(20).displays); }));
    panel.reset();
    EXPECT_TRUE(tlWaitFor(
        [&] { return values(control->readFrontmostWindow().displays) == values(Truth().displays); }));
    xcb_warp_pointer(desktop.connection(), XCB_WINDOW_NONE, desktop.root(), 0, 0, 0, 0, 100, 500);
    xcb_flush(desktop.connection());
    EXPECT_TRUE(tlWaitFor([&] {
        const auto mouse = control->mouseLocation();
        return mouse && mouse->x == 100 - 1440 && mouse->y == 1080 - 500;
    }));
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
    const TLRect r = front.frame.value_or(TLRect{});
    EXPECT_EQ((Frame{int(r.x), int(r.y), int(r.width), int(r.height)}),
              (Frame{f.x - 1440, f.y, f.width, f.height}));
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

// Forwards to the real backend and closes the client between the read and the write.
class ClosingControl : public TLWindowControl {
public:
    ClosingControl(TLWindowControl& real, std::function<void()> close)
        : real_(real), close_(std::move(close)) {}
    bool isTrusted() override { return real_.isTrusted(); }
    void requestTrust() override { real_.requestTrust(); }
    TLFrontmostWindow readFrontmostWindow() override {
        TLFrontmostWindow front = real_.readFrontmostWindow();
        close_();
        return front;
    }
    std::optional<TLPoint> mouseLocation() override { return real_.mouseLocation(); }
    void setFrame(std::uint64_t w, TLIntPoint p, TLIntSize s) override { real_.setFrame(w, p, s); }

private:
    TLWindowControl& real_;
    std::function<void()> close_;
};

TEST_F(X11Window, AWindowClosedBeforeItsWriteFailsNothingAndLeavesNoState) {
    for (const char* state : {"", "_NET_WM_STATE_MAXIMIZED_VERT"}) {
        const xcb_window_t w = open(std::string("Closing probe ") + state);
        if (*state) {
            setState(w, state);
            ASSERT_TRUE(desktop.waitUntil([&] { return hasState(w, state); }));
        }
        ClosingControl closing(*control, [&] {
            clients.back().reset();
            desktop.waitUntil([&] { return !desktop.outerFrame(w); });
        });
        QString message;
        EXPECT_TRUE(TLWindowMover(closing).applyLayout(layout("half.left"), &message))
            << message.toStdString();
        EXPECT_TRUE(tlWaitFor([&] { return !control->restoring(); })) << state;
    }
    // The connection survived every error, and the next window is read afresh.
    EXPECT_TRUE(connection->isConnected());
    expectApplied(open("Next probe"), layout("half.right"));
}

TEST_F(X11Window, WithoutAWindowManagerNothingIsTrustedAndAnUnconfirmedRestoreWritesAtItsDeadline) {
    EXPECT_TRUE(mover->isTrusted());
    TLTestDesktop bare;
    std::string error;
    ASSERT_TRUE(bare.start(&error, "bare")) << error;
    auto bareConnection = TLX11Connection::open(bare.displayName().c_str());
    QStringList log;
    const TLLog sink(
        [&](std::string_view line) { log << QString::fromUtf8(line.data(), qsizetype(line.size())); });
    TLX11WindowControl bareControl(*bareConnection, &sink);
    EXPECT_FALSE(bareControl.isTrusted());
    EXPECT_FALSE(bareControl.readFrontmostWindow().hasApplication);
    EXPECT_EQ(bareControl.readFrontmostWindow().displays.size(), 2u);
    // No window manager keeps a client list: the windows are the root's children, by name.
    TLTestDesktop::Process a = bare.launchTestClient("A", "tlprobe", 300, 200),
                           b = bare.launchTestClient("B", "tlprobe", 300, 200);
    xcb_window_t windows[2] = {};
    ASSERT_TRUE(bare.waitUntil([&] {
        TLXcbReply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(bare.connection(), xcb_query_tree(bare.connection(), bare.root()), nullptr));
        for (int i = 0; tree && i < xcb_query_tree_children_length(tree.get()); ++i) {
            const xcb_window_t child = xcb_query_tree_children(tree.get())[i];
            const std::string name = bare.text(child, "_NET_WM_NAME");
            if (name == "A" || name == "B") {
                windows[name == "B"] = child;
            }
        }
        return windows[0] && windows[1];
    }));
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
    // The server goes away under a live connection: every call fails quietly.
    bare.stop();
    EXPECT_FALSE(bareControl.isTrusted());
    EXPECT_TRUE(bareControl.readFrontmostWindow().displays.empty());
    EXPECT_FALSE(bareControl.mouseLocation());
    bareControl.setFrame(1, {0, 0}, {10, 10});
    EXPECT_FALSE(bareConnection->isConnected());
}

} // namespace
