#include "TLPlacement.h"
#include "TLTestDesktop.h"
#include "TLVisibleFrames.h"
#include "TLWindowMover.h"
#include "TLX11Accessibility.h"
#include "TLX11Displays.h"
#include "TLX11Session.h"

#include <QCoreApplication>

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

Truth truth() {
    Truth t;
    for (const auto& m : TLTestDesktop::monitors()) {
        t.monitors.push_back({m.x, m.y, m.width, m.height});
        // The panel sits at the bottom of the left monitor.
        t.visible.push_back(
            {m.x, m.y, m.width, m.height - (m.name == "LEFT" ? TLTestDesktop::kPanelHeight : 0)});
    }
    t.displays = TLVisibleFrames::toDisplays(t.monitors, t.visible, 0);
    return t;
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

std::string show(const Frame& f) {
    return std::to_string(f.width) + "x" + std::to_string(f.height) + "+" + std::to_string(f.x) + "+" +
           std::to_string(f.y);
}

const TLLayout& layout(const char* identifier) {
    return *TLLayout::layoutWithIdentifier(identifier);
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
        session = TLX11Session::open(desktop->displayName().c_str());
        ASSERT_TRUE(session);
        accessibility = new TLX11Accessibility(session);
        displays = new TLX11Displays(session);
    }
    static void TearDownTestSuite() {
        TLWindowMover::setPlatform(nullptr, nullptr);
        delete accessibility;
        delete displays;
        session.reset();
        delete desktop;
    }
    void SetUp() override {
        ASSERT_TRUE(desktop && desktop->isRunning());
        TLWindowMover::setPlatform(accessibility, displays);
    }

    // Starts a client (the test client unless argv is given) and waits until it is managed and active.
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

    // The frame once it equals `want` (polled against a deadline), else the last one seen.
    Frame settleAt(xcb_window_t w, const Frame& want) {
        Frame last;
        desktop->waitUntil(
            [&] {
                auto f = desktop->outerFrame(w);
                last = f.value_or(last);
                return f == want;
            },
            3s);
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
        EXPECT_TRUE(TLWindowMover::applyLayout(layout, &message))
            << layout.identifier() << ": " << message.toStdString();
        const Frame got = settleAt(w, want);
        EXPECT_EQ(show(got), show(want)) << layout.identifier() << " from " << show(before);
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
    static inline std::shared_ptr<TLX11Session> session;
    static inline TLX11Accessibility* accessibility = nullptr;
    static inline TLX11Displays* displays = nullptr;
};

TEST_F(TLX11WindowTest, DisplaysArePrimaryFirstWithTheirOwnVisibleAreas) {
    // Struts, not _NET_WORKAREA (which cuts the panel off the whole screen): the right monitor
    // keeps its full height.
    auto values = [](const std::vector<TLDisplay>& displays) {
        std::vector<std::array<double, 8>> v;
        for (const TLDisplay& d : displays) {
            const TLRect &f = d.frame, &a = d.visibleFrame;
            v.push_back({f.x, f.y, f.width, f.height, a.x, a.y, a.width, a.height});
        }
        return v;
    };
    EXPECT_EQ(values(displays->displays()), values(truth().displays));
    EXPECT_EQ(displays->mainDisplay(), std::optional<std::size_t>(0));

    xcb_warp_pointer(desktop->connection(), XCB_WINDOW_NONE, desktop->root(), 0, 0, 0, 0, 100, 500);
    xcb_flush(desktop->connection());
    std::optional<TLPoint> mouse;
    EXPECT_TRUE(desktop->waitUntil([&] {
        mouse = displays->mouseLocation();
        return mouse && mouse->x == 100 - 1440;
    }));
    ASSERT_TRUE(mouse);
    EXPECT_EQ(mouse->y, 1080 - 500);
}

TEST_F(TLX11WindowTest, TrustNeedsAnEwmhWindowManager) {
    EXPECT_TRUE(TLWindowMover::isTrusted());
    TLWindowMover::requestTrust(); // harmless: nothing to prompt for
    EXPECT_TRUE(TLWindowMover::isTrusted());

    TLTestDesktop bare;
    std::string error;
    ASSERT_TRUE(bare.start({.windowManager = false}, &error)) << error;
    auto bareSession = TLX11Session::open(bare.displayName().c_str());
    ASSERT_TRUE(bareSession);
    TLX11Accessibility bareAccessibility(bareSession);
    EXPECT_FALSE(bareAccessibility.isProcessTrusted());
    EXPECT_FALSE(bareAccessibility.frontmostApplication());

    EXPECT_FALSE(TLX11Session::open(":32000"));

    // The server goes away under a live session: every call fails quietly.
    TLX11Displays bareDisplays(bareSession);
    EXPECT_EQ(bareDisplays.displays().size(), TLTestDesktop::monitors().size());
    bare.stop();
    EXPECT_FALSE(bareAccessibility.isProcessTrusted());
    EXPECT_FALSE(bareAccessibility.frontmostApplication());
    EXPECT_TRUE(bareDisplays.displays().empty());
    EXPECT_FALSE(bareDisplays.mouseLocation());
    EXPECT_FALSE(bareSession->isConnected());
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
                << layout.identifier() << " " << show(got);
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

TEST_F(TLX11WindowTest, MaximizedFullscreenAndShadedWindowsAreRestoredAndPlaced) {
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
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(TLWindowMover::applyLayout(layout(row.layout)));
        // The restore waits for the window manager's confirmation, not for its deadline.
        EXPECT_LT(std::chrono::steady_clock::now() - start, TLX11Accessibility::kRestoreTimeout) << row.first;
        EXPECT_EQ(show(settleAt(w, want)), show(want)) << row.first;
        EXPECT_FALSE(hasState(w, row.first));
        EXPECT_FALSE(*row.second && hasState(w, row.second));
    }
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

TEST_F(TLX11WindowTest, DesktopWindowsAreNotMovable) {
    std::unique_ptr<TLTestProcess> client;
    xcb_window_t w = open(client, "Desktop probe", {"--type", "DESKTOP"}, "tldesk");
    const Frame before = *desktop->outerFrame(w);
    QString message;
    EXPECT_FALSE(TLWindowMover::applyLayout(layout("half.left"), &message));
    EXPECT_EQ(message.toStdString(), "tldesk hat kein bewegbares Fenster (AXError 0).");
    EXPECT_EQ(*desktop->outerFrame(w), before);
}

// Forwards to the real backend and closes the client right after a chosen step, so the window
// vanishes between the mover's steps.
class ClosingAccessibility : public TLAccessibility {
public:
    ClosingAccessibility(TLAccessibility& real, std::function<void()> close, std::string after)
        : real_(real), close_(std::move(close)), after_(std::move(after)) {}

    bool isProcessTrusted() override { return real_.isProcessTrusted(); }
    void requestTrustPrompt() override { real_.requestTrustPrompt(); }
    std::optional<TLRunningApplication> frontmostApplication() override {
        return step("frontmostApplication", real_.frontmostApplication());
    }
    TLAXElementPtr createApplicationElement(const TLRunningApplication& a) override {
        return real_.createApplicationElement(a);
    }
    std::int32_t copyWindow(TLAXElement& app, WindowAttribute attribute, TLAXElementPtr* window) override {
        return step("copyWindow", real_.copyWindow(app, attribute, window));
    }
    std::int32_t copyPosition(TLAXElement& window, std::optional<TLPoint>* p) override {
        return step("copyPosition", real_.copyPosition(window, p));
    }
    std::int32_t copySize(TLAXElement& window, std::optional<TLSize>* s) override {
        return step("copySize", real_.copySize(window, s));
    }
    void setPosition(TLAXElement& window, TLPoint p) override { real_.setPosition(window, p); }
    void setSize(TLAXElement& window, TLSize s) override { real_.setSize(window, s); }

private:
    template <typename T>
    T step(const std::string& name, T result) {
        if (name == after_ && close_) {
            std::exchange(close_, nullptr)();
        }
        return result;
    }
    TLAccessibility& real_;
    std::function<void()> close_;
    std::string after_;
};

TEST_F(TLX11WindowTest, WindowClosedMidwayFailsCleanly) {
    struct Row {
        const char* after;
        bool ok;
        const char* message;
    };
    const Row rows[] = {
        // The focused query meets BadWindow, the main query finds no other window: code 0.
        {"frontmostApplication", false, "tlprobe hat kein bewegbares Fenster (AXError 0)."},
        {"copyWindow", false, "Fensterposition konnte nicht gelesen werden."},
        // Gone after the reads: the writes are issued into the void, and that is no failure.
        {"copySize", true, ""},
    };
    for (const Row& row : rows) {
        std::unique_ptr<TLTestProcess> client;
        xcb_window_t w = open(client, std::string("Closing probe ") + row.after);
        auto close = [&] {
            client->terminate();
            desktop->waitUntil([&] { return !desktop->outerFrame(w); });
        };
        ClosingAccessibility closing(*accessibility, close, row.after);
        TLWindowMover::setPlatform(&closing, displays);
        QString message;
        const bool ok = TLWindowMover::applyLayout(layout("half.left"), &message);
        TLWindowMover::setPlatform(accessibility, displays);
        EXPECT_EQ(ok, row.ok) << row.after;
        EXPECT_EQ(message.toStdString(), row.message) << row.after;
    }
    // The connection survived every error.
    EXPECT_TRUE(session->isConnected());
    EXPECT_TRUE(TLWindowMover::isTrusted());
}

TEST_F(TLX11WindowTest, MainWindowQueryFindsTheProcessWindow) {
    // The fallback query finds the topmost window of the frontmost process, and its frame
    // reads back in accessibility coordinates (anchored at the primary, right monitor).
    std::unique_ptr<TLTestProcess> client;
    xcb_window_t w = open(client, "Main probe");
    std::optional<TLRunningApplication> app = accessibility->frontmostApplication();
    ASSERT_TRUE(app);
    EXPECT_EQ(app->localizedName, std::optional<QString>("tlprobe"));
    EXPECT_EQ(app->processIdentifier, client->pid());
    TLAXElementPtr element = accessibility->createApplicationElement(*app);
    TLAXElementPtr window;
    EXPECT_EQ(accessibility->copyWindow(*element, TLAccessibility::WindowAttribute::MainWindow, &window), 0);
    ASSERT_TRUE(window);
    std::optional<TLPoint> position;
    std::optional<TLSize> size;
    ASSERT_EQ(accessibility->copyPosition(*window, &position) | accessibility->copySize(*window, &size), 0);
    const Frame f = *desktop->outerFrame(w);
    EXPECT_EQ((Frame{int(position->x), int(position->y), int(size->width), int(size->height)}),
              (Frame{f.x - 1440, f.y, f.width, f.height}));
}

} // namespace
