#include "TLClosingWindowControl.h"
#include "TLPlacement.h"
#include "TLTestDesktop.h"
#include "TLVisibleFrames.h"
#include "TLWindowMover.h"
#include "TLX11Connection.h"
#include "TLX11WindowControl.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <utility>

namespace {

using Frame = TLTestDesktop::Frame;
using namespace std::chrono_literals;

// The desktop as the fixture defines it, in root coordinates: ground truth for the checks.
struct Truth {
    std::vector<TLX11Rect> monitors; // primary first
    std::vector<TLX11Rect> visible;
    std::vector<TLDisplay> displays;
};

// rightTop: a panel's reservation at the top of the screen, which only the right monitor reaches.
Truth truth(int rightTop = 0) {
    Truth t;
    for (const auto& m : TLTestDesktop::monitors()) {
        t.monitors.push_back({m.x, m.y, m.width, m.height});
        // The fixture's panel sits at the bottom of the left monitor.
        if (m.name == "LEFT") {
            t.visible.push_back({m.x, m.y, m.width, m.height - TLTestDesktop::kPanelHeight});
        } else {
            t.visible.push_back({m.x, m.y + rightTop, m.width, m.height - rightTop});
        }
    }
    t.displays = TLVisibleFrames::toDisplays(t.monitors, t.visible, 0);
    return t;
}

std::vector<std::array<double, 8>> values(const std::vector<TLDisplay>& displays) {
    std::vector<std::array<double, 8>> v;
    for (const TLDisplay& d : displays) {
        const TLRect &f = d.frame, &a = d.visibleFrame;
        v.push_back({f.x, f.y, f.width, f.height, a.x, a.y, a.width, a.height});
    }
    return v;
}

// Where a layout must put a window whose outer frame is `from`, in root coordinates.
Frame expectedFrame(const TLLayout& layout, const Frame& from) {
    const Truth t = truth();
    const TLX11Rect& primary = t.monitors[0];
    TLPlacementResult r = TLPlacement::place(
        {t.displays, nullptr, nullptr}, {double(from.x - primary.x), double(from.y - primary.y)},
        {double(from.width), double(from.height)}, layout.kind(), layout.frac());
    EXPECT_TRUE(r.ok) << layout.identifier();
    return {int(r.position.x + primary.x), int(r.position.y + primary.y), int(r.size.width),
            int(r.size.height)};
}

int monitorOf(const Frame& f) {
    const Truth t = truth();
    for (std::size_t i = 0; i < t.monitors.size(); ++i) {
        const TLX11Rect& m = t.monitors[i];
        if (f.x >= m.x && f.x < m.maxX() && f.y >= m.y && f.y < m.maxY()) {
            return int(i);
        }
    }
    return -1;
}

const TLLayout& layout(const char* identifier) {
    return *TLLayout::layoutWithIdentifier(identifier);
}

// Polls with the event loop running: the backends learn of changes from events.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout = 3s) {
    return TLTestDesktop::waitUntil(
        [&] {
            QCoreApplication::processEvents();
            return condition();
        },
        timeout);
}

class TLX11WindowTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "tl_x11_window_test";
        static char* argv[] = {name, nullptr};
        static QCoreApplication app(argc, argv);
        desktop = new TLTestDesktop;
        std::string error;
        ASSERT_TRUE(desktop->start(&error)) << error;
        connection = TLX11Connection::open(desktop->displayName().c_str()).release();
        ASSERT_TRUE(connection);
        control = new TLX11WindowControl(*connection);
        mover = new TLWindowMover(*control);
    }
    static void TearDownTestSuite() {
        delete mover;
        delete control;
        delete connection;
        delete desktop;
    }
    void SetUp() override { ASSERT_TRUE(desktop && desktop->isRunning() && mover); }

    // Starts the test client and waits until its window is managed and active.
    xcb_window_t open(std::unique_ptr<TLTestProcess>& process, const std::string& title,
                      const std::vector<std::string>& extra = {}, const char* wmClass = "tlprobe",
                      const std::vector<std::string>& argv = {}) {
        process =
            argv.empty() ? desktop->launchTestClient(title, wmClass, 500, 400, extra) : desktop->launch(argv);
        EXPECT_TRUE(process);
        xcb_window_t w = desktop->waitForWindow(TLTestDesktop::WindowMatch::byTitle(title));
        EXPECT_NE(w, XCB_WINDOW_NONE) << title;
        EXPECT_TRUE(desktop->activate(w)) << title;
        return w;
    }

    // The frame once it equals `want`, else the last one seen.
    Frame settleAt(xcb_window_t w, const Frame& want) {
        Frame last;
        eventually([&] {
            auto f = desktop->outerFrame(w);
            last = f.value_or(last);
            return f == want;
        });
        return last;
    }

    // Applies the layout to the active window w and checks that its frame lands where the
    // placement puts it (or on `reachable`, for a window that rounds its size). Returns it.
    Frame expectApplied(xcb_window_t w, const TLLayout& layout,
                        const std::function<Frame(const Frame&)>& reachable = nullptr) {
        const Frame before = *desktop->outerFrame(w);
        const Frame want =
            reachable ? reachable(expectedFrame(layout, before)) : expectedFrame(layout, before);
        QString message;
        EXPECT_TRUE(mover->applyLayout(layout, &message))
            << layout.identifier() << ": " << message.toStdString();
        const Frame got = settleAt(w, want);
        EXPECT_EQ(got, want) << layout.identifier() << " from " << ::testing::PrintToString(before);
        return got;
    }

    // Puts the window's frame at a place directly, as the window manager's own move would.
    void place(xcb_window_t w, const Frame& f) {
        std::vector<uint32_t> e = desktop->cardinals(w, "_NET_FRAME_EXTENTS");
        e.resize(4, 0);
        desktop->sendClientMessage(w, "_NET_MOVERESIZE_WINDOW",
                                   {1 | (0xf << 8) | (2 << 12), uint32_t(f.x), uint32_t(f.y),
                                    uint32_t(f.width) - e[0] - e[1], uint32_t(f.height) - e[2] - e[3]});
        ASSERT_EQ(settleAt(w, f), f);
    }

    bool hasState(xcb_window_t w, const std::string& state) {
        std::vector<uint32_t> states = desktop->cardinals(w, "_NET_WM_STATE");
        return std::find(states.begin(), states.end(), desktop->atom(state)) != states.end();
    }

    static inline TLTestDesktop* desktop = nullptr;
    static inline TLX11Connection* connection = nullptr;
    static inline TLX11WindowControl* control = nullptr;
    static inline TLWindowMover* mover = nullptr;
};

TEST_F(TLX11WindowTest, DisplaysFollowPanelsAsTheyComeAndGo) {
    // Struts, not _NET_WORKAREA (which cuts the panel off the whole screen): the right monitor
    // keeps its full height.
    const TLFrontmostWindow front = control->readFrontmostWindow();
    EXPECT_EQ(values(front.displays), values(truth().displays));
    EXPECT_EQ(front.mainDisplay, std::optional<std::size_t>(0));

    // A second panel at the top of the screen, then gone again: taken in from the events.
    std::unique_ptr<TLTestProcess> panel = desktop->launchTestClient(
        "Panel probe", "tlpanel", 200, 20, {"--type", "DOCK", "--strut", "0,0,20,0"});
    ASSERT_NE(desktop->waitForWindow(TLTestDesktop::WindowMatch::byTitle("Panel probe")), XCB_WINDOW_NONE);
    EXPECT_TRUE(eventually(
        [&] { return values(control->readFrontmostWindow().displays) == values(truth(20).displays); }));
    panel.reset();
    EXPECT_TRUE(eventually(
        [&] { return values(control->readFrontmostWindow().displays) == values(truth().displays); }));

    xcb_warp_pointer(desktop->connection(), XCB_WINDOW_NONE, desktop->root(), 0, 0, 0, 0, 100, 500);
    xcb_flush(desktop->connection());
    std::optional<TLPoint> mouse;
    EXPECT_TRUE(desktop->waitUntil([&] {
        mouse = control->mouseLocation();
        return mouse && mouse->x == 100 - 1440;
    }));
    ASSERT_TRUE(mouse);
    EXPECT_EQ(mouse->y, 1080 - 500);
}

TEST_F(TLX11WindowTest, TrustNeedsAnEwmhWindowManager) {
    EXPECT_TRUE(mover->isTrusted());
    mover->requestTrust(); // harmless: nothing to prompt for
    EXPECT_TRUE(mover->isTrusted());

    TLTestDesktop bare;
    std::string error;
    ASSERT_TRUE(bare.start({.windowManager = false}, &error)) << error;
    auto bareConnection = TLX11Connection::open(bare.displayName().c_str());
    ASSERT_TRUE(bareConnection);
    TLX11WindowControl bareControl(*bareConnection);
    EXPECT_FALSE(bareControl.isTrusted());
    EXPECT_FALSE(bareControl.readFrontmostWindow().hasApplication);
    EXPECT_EQ(bareControl.readFrontmostWindow().displays.size(), TLTestDesktop::monitors().size());

    // The server goes away under a live connection: every call fails quietly.
    bare.stop();
    EXPECT_FALSE(bareControl.isTrusted());
    const TLFrontmostWindow front = bareControl.readFrontmostWindow();
    EXPECT_FALSE(front.hasApplication);
    EXPECT_TRUE(front.displays.empty());
    EXPECT_FALSE(bareControl.mouseLocation());
    bareControl.setFrame(1, {0, 0}, {10, 10});
    EXPECT_FALSE(bareConnection->isConnected());
}

TEST_F(TLX11WindowTest, AllLayoutsLandOnTheComputedFrameOnBothMonitors) {
    std::unique_ptr<TLTestProcess> client;
    xcb_window_t w = open(client, "Layout probe");
    const Truth t = truth();
    for (std::size_t m = 0; m < t.monitors.size(); ++m) {
        const TLX11Rect& start = t.visible[m];
        for (const TLLayout& layout : TLLayout::allLayouts()) {
            // Start each layout from the same place on this monitor.
            place(w, {int(start.x + 40), int(start.y + 30), 500, 400});
            const Frame got = expectApplied(w, layout);
            const int landed = monitorOf(got);
            ASSERT_GE(landed, 0) << layout.identifier();
            const TLX11Rect& area = t.visible[std::size_t(landed)];
            EXPECT_TRUE(got.x >= area.x && got.y >= area.y && got.x + got.width <= area.maxX() &&
                        got.y + got.height <= area.maxY())
                << layout.identifier() << " " << ::testing::PrintToString(got);
            // Fractions stay on the monitor; display moves (both ways, from both monitors) leave it.
            EXPECT_EQ(landed == int(m), layout.kind() == TLLayoutKindFrac) << layout.identifier();
        }
    }
}

TEST_F(TLX11WindowTest, XtermLandsAtThePositionWithItsReachableSize) {
    std::unique_ptr<TLTestProcess> xterm;
    xcb_window_t w = open(xterm, "Cell probe", {}, "", {"xterm", "-T", "Cell probe", "-geometry", "80x24"});
    ASSERT_TRUE(xterm && w != XCB_WINDOW_NONE && desktop->activeWindow() == w);
    // WM_SIZE_HINTS: flags, x, y, w, h, min w/h (5, 6), max (7, 8), inc (9, 10), aspect, base (15, 16).
    std::vector<uint32_t> hints = desktop->cardinals(w, "WM_NORMAL_HINTS");
    ASSERT_GE(hints.size(), 17u);
    const int incW = int(hints[9]), incH = int(hints[10]), baseW = int(hints[15]), baseH = int(hints[16]);
    ASSERT_GT(incW, 1);
    std::vector<uint32_t> e = desktop->cardinals(w, "_NET_FRAME_EXTENTS");
    ASSERT_EQ(e.size(), 4u);
    const int decoW = int(e[0] + e[1]), decoH = int(e[2] + e[3]);
    // The client size rounds down to whole cells above the base size.
    auto reachable = [&](const Frame& f) {
        return Frame{f.x, f.y, decoW + baseW + (f.width - decoW - baseW) / incW * incW,
                     decoH + baseH + (f.height - decoH - baseH) / incH * incH};
    };
    for (const char* id : {"half.left", "third.right", "quarter.br"}) {
        expectApplied(w, layout(id), reachable);
    }
}

TEST_F(TLX11WindowTest, RestoresRunAlongsideTheEventLoopAndEndOnTheConfirmation) {
    struct Row {
        const char* layout;
        const char* first;
        const char* second;
        std::uint32_t leftExtent; // _NET_FRAME_EXTENTS once the window manager has applied the state
    };
    const Row rows[] = {
        {"half.right", "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ", 0},
        {"screen.center", "_NET_WM_STATE_MAXIMIZED_HORZ", "", 0},
        {"quarter.tl", "_NET_WM_STATE_FULLSCREEN", "", 0},
        {"third.center", "_NET_WM_STATE_SHADED", "", 1},
    };
    std::unique_ptr<TLTestProcess> client;
    xcb_window_t w = open(client, "Restore probe");
    for (const Row& row : rows) {
        // The window stays on the right monitor throughout, so that is where the layout goes.
        place(w, {1600, 100, 500, 400});
        const Frame want = expectedFrame(layout(row.layout), *desktop->outerFrame(w));
        const xcb_atom_t second = *row.second ? desktop->atom(row.second) : 0;
        desktop->sendClientMessage(w, "_NET_WM_STATE", {1, desktop->atom(row.first), second, 2, 0});
        ASSERT_TRUE(desktop->waitUntil([&] {
            std::vector<uint32_t> extents = desktop->cardinals(w, "_NET_FRAME_EXTENTS");
            return hasState(w, row.first) && !extents.empty() && extents[0] == row.leftExtent;
        })) << row.first;
        QElapsedTimer clock;
        clock.start();
        ASSERT_TRUE(mover->applyLayout(layout(row.layout)));
        // The press returns at once; the window manager confirms the restore later.
        EXPECT_LT(clock.elapsed(), 100) << row.first;
        EXPECT_TRUE(control->restoring()) << row.first;
        EXPECT_EQ(settleAt(w, want), want) << row.first;
        EXPECT_TRUE(eventually([&] { return !control->restoring(); })) << row.first;
        // Done on the confirmation, well before the deadline.
        EXPECT_LT(clock.elapsed(), 800) << row.first;
        EXPECT_FALSE(hasState(w, row.first));
        EXPECT_FALSE(*row.second && hasState(w, row.second));
    }
}

TEST_F(TLX11WindowTest, AnUnconfirmedRestoreWritesAtItsDeadlineUnlessANewerFrameCame) {
    // Without a window manager nothing ever confirms a restore (and frames go as configure
    // requests).
    TLTestDesktop bare;
    std::string error;
    ASSERT_TRUE(bare.start({.windowManager = false}, &error)) << error;
    auto bareConnection = TLX11Connection::open(bare.displayName().c_str());
    TLX11WindowControl bareControl(*bareConnection);
    std::unique_ptr<TLTestProcess> a = bare.launchTestClient("A", "tlprobe", 300, 200);
    std::unique_ptr<TLTestProcess> b = bare.launchTestClient("B", "tlprobe", 300, 200);
    // No window manager keeps a client list: the windows are the root's children, by name.
    xcb_window_t windows[2] = {};
    ASSERT_TRUE(bare.waitUntil([&] {
        xcb_connection_t* c = bare.connection();
        TLXcbReply<xcb_query_tree_reply_t> tree(
            xcb_query_tree_reply(c, xcb_query_tree(c, bare.root()), nullptr));
        const xcb_window_t* children = tree ? xcb_query_tree_children(tree.get()) : nullptr;
        for (int i = 0; tree && i < xcb_query_tree_children_length(tree.get()); ++i) {
            const std::string name = bare.text(children[i], "_NET_WM_NAME");
            if (name == "A" || name == "B") {
                windows[name == "A" ? 0 : 1] = children[i];
            }
        }
        return windows[0] != XCB_WINDOW_NONE && windows[1] != XCB_WINDOW_NONE;
    }));
    const std::uint32_t maximized = bare.atom("_NET_WM_STATE_MAXIMIZED_VERT");
    xcb_change_property(bare.connection(), XCB_PROP_MODE_REPLACE, windows[0], bare.atom("_NET_WM_STATE"),
                        XCB_ATOM_ATOM, 32, 1, &maximized);
    xcb_flush(bare.connection());
    ASSERT_TRUE(bare.waitUntil([&] { return !bare.cardinals(windows[0], "_NET_WM_STATE").empty(); }));

    QElapsedTimer clock;
    clock.start();
    bareControl.setFrame(windows[0], {10, 10}, {300, 200});
    ASSERT_TRUE(bareControl.restoring());
    ASSERT_TRUE(eventually([&] { return bare.outerFrame(windows[0]) == Frame{1450, 10, 300, 200}; }));
    EXPECT_GT(clock.elapsed(), 900) << "not before the deadline (a coarse timer)";

    // A newer frame, for any window, supersedes the waiting restore.
    bareControl.setFrame(windows[0], {20, 20}, {300, 200});
    bareControl.setFrame(windows[1], {400, 20}, {300, 200});
    EXPECT_FALSE(bareControl.restoring());
    EXPECT_TRUE(eventually([&] { return bare.outerFrame(windows[1]) == Frame{1840, 20, 300, 200}; }));
    eventually([] { return false; }, TLX11FrameWriter::kRestoreTimeout + 200ms);
    EXPECT_EQ(bare.outerFrame(windows[0]), (Frame{1450, 10, 300, 200}));
}

TEST_F(TLX11WindowTest, ClientSideDecorationsPlaceTheVisibleFrame) {
    std::unique_ptr<TLTestProcess> client;
    expectApplied(open(client, "Shadow probe", {"--gtk-extents", "12,14,8,20"}), layout("quarter.tl"));
}

TEST_F(TLX11WindowTest, TheNewlyActiveWindowIsMovedRightAway) {
    // No event loop runs between the two applications: the backend itself must notice that
    // the active window changed.
    std::unique_ptr<TLTestProcess> first, second;
    const xcb_window_t a = open(first, "First probe"), b = open(second, "Second probe");
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(desktop->activate(a));
        expectApplied(a, layout("half.left"));
        ASSERT_TRUE(desktop->activate(b));
        expectApplied(b, layout("half.right"));
    }
}

TEST_F(TLX11WindowTest, ADesktopWindowGivesWayToItsProcessesMainWindow) {
    // The fallback query finds the topmost movable window of the frontmost process, and its
    // frame reads in window coordinates (anchored at the primary, right monitor).
    std::unique_ptr<TLTestProcess> client;
    open(client, "Desktop probe", {"--type", "DESKTOP", "--companion", "Companion probe"}, "tldesk");
    const xcb_window_t companion =
        desktop->waitForWindow(TLTestDesktop::WindowMatch::byTitle("Companion probe"));
    ASSERT_TRUE(
        desktop->activate(desktop->waitForWindow(TLTestDesktop::WindowMatch::byTitle("Desktop probe"))));
    const TLFrontmostWindow front = control->readFrontmostWindow();
    EXPECT_EQ(front.applicationName, std::optional<QString>("tldesk"));
    EXPECT_EQ(front.window, std::optional<std::uint64_t>(companion));
    EXPECT_EQ(front.windowError, 0);
    const Frame f = *desktop->outerFrame(companion);
    ASSERT_TRUE(front.frame);
    EXPECT_EQ(
        (Frame{int(front.frame->x), int(front.frame->y), int(front.frame->width), int(front.frame->height)}),
        (Frame{f.x - 1440, f.y, f.width, f.height}));
    expectApplied(companion, layout("half.left"));

    // Without a movable window of its own, the process has none to offer.
    client.reset();
    open(client, "Lonely probe", {"--type", "DESKTOP"}, "tldesk");
    QString message;
    EXPECT_FALSE(mover->applyLayout(layout("half.left"), &message));
    EXPECT_EQ(message.toStdString(), "tldesk hat kein bewegbares Fenster (AXError 0).");
}

TEST_F(TLX11WindowTest, AWindowClosedBeforeItsWriteFailsNothing) {
    for (const char* state : {"", "_NET_WM_STATE_MAXIMIZED_VERT"}) {
        std::unique_ptr<TLTestProcess> client;
        xcb_window_t w = open(client, std::string("Closing probe ") + state);
        if (*state) {
            desktop->sendClientMessage(w, "_NET_WM_STATE", {1, desktop->atom(state), 0, 2, 0});
            ASSERT_TRUE(desktop->waitUntil([&] { return hasState(w, state); }));
        }
        TLClosingWindowControl closing(*control, [&] {
            client->terminate();
            desktop->waitUntil([&] { return !desktop->outerFrame(w); });
        });
        QString message;
        // The write goes into the void, and that is no failure.
        EXPECT_TRUE(TLWindowMover(closing).applyLayout(layout("half.left"), &message))
            << message.toStdString();
        EXPECT_TRUE(eventually([&] { return !control->restoring(); })) << state;
    }
    // The connection survived every error.
    EXPECT_TRUE(connection->isConnected());
    EXPECT_TRUE(mover->isTrusted());
}

} // namespace
