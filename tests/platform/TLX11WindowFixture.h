#pragma once

// What the X11 window tests share: the desktop as the fixture defines it, where the placement
// puts a window, and one connection, window control and mover for a whole suite.
#include "TLPlacement.h"
#include "TLTest.h"
#include "TLTestDesktop.h"
#include "TLVisibleFrames.h"
#include "TLWindowMover.h"
#include "TLX11Connection.h"
#include "TLX11WindowControl.h"

inline const TLLayout& tlLayout(const char* identifier) {
    return *TLLayout::layoutWithIdentifier(identifier);
}

// The desktop in root coordinates: the panel on LEFT, and rightTop reserved at the top of the
// screen, which only RIGHT reaches.
struct TLDesktopTruth {
    explicit TLDesktopTruth(int rightTop = 0) {
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

class TLX11WindowFixture : public ::testing::Test {
public:
    using Frame = TLTestDesktop::Frame;

    // Where a layout puts a window whose outer frame is `from`, in root coordinates (the window
    // system of the placement is anchored at the primary, RIGHT at x 1440).
    static Frame expectedFrame(const TLLayout& layout, const Frame& from) {
        const TLPlacementResult r = TLPlacement::place(
            {TLDesktopTruth().displays, nullptr, nullptr}, {double(from.x - 1440), double(from.y)},
            {double(from.width), double(from.height)}, layout.kind(), layout.frac());
        return {int(r.position.x + 1440), int(r.position.y), int(r.size.width), int(r.size.height)};
    }

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
    // Puts the window's frame somewhere, as the window manager's own move would (a configure
    // request where it has no _NET_MOVERESIZE_WINDOW).
    void place(xcb_window_t w, const Frame& f) {
        std::vector<uint32_t> e = desktop.cardinals(w, "_NET_FRAME_EXTENTS");
        e.resize(4, 0);
        const std::array<uint32_t, 4> values{uint32_t(f.x), uint32_t(f.y), f.width - e[0] - e[1],
                                             f.height - e[2] - e[3]};
        if (std::ranges::count(desktop.cardinals(desktop.root(), "_NET_SUPPORTED"),
                               desktop.atom("_NET_MOVERESIZE_WINDOW")) > 0) {
            desktop.sendClientMessage(
                w, "_NET_MOVERESIZE_WINDOW",
                {1 | (0xf << 8) | (2 << 12), values[0], values[1], values[2], values[3]});
        } else {
            xcb_configure_window(desktop.connection(), w, 0xf, values.data());
            xcb_flush(desktop.connection());
        }
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
