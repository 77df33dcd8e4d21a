// What differs between window managers, run on the desktop's own (TL_TEST_WM; ctest runs it on
// openbox, fluxbox, metacity, JWM and Window Maker, whose lack of _NET_MOVERESIZE_WINDOW takes
// the configure-request path): placements, restores, rapid display moves, windows with size
// limits and a real hot-key press. Each row is one case in the output.
#include "TLHotkeyManager.h"
#include "TLLog.h"
#include "TLUserDefaults.h"
#include "TLX11HotKeyService.h"
#include "TLX11KeyboardLayout.h"
#include "TLX11WindowFixture.h"
#include "TLXTestUser.h"

namespace {

using Frame = TLTestDesktop::Frame;
constexpr const char* kMaxV = "_NET_WM_STATE_MAXIMIZED_VERT";
constexpr const char* kMaxH = "_NET_WM_STATE_MAXIMIZED_HORZ";
constexpr const char* kFull = "_NET_WM_STATE_FULLSCREEN";

struct Case {
    const char* name;
    const char* layout;
    int monitor;                                                  // where the window starts: 0 RIGHT, 1 LEFT
    std::vector<std::pair<const char*, const char*>> states = {}; // set one after the other
    int presses = 1;                                              // 1 ms apart
    std::array<int, 2> minSize = {}, maxSize = {};                // the client's size limits
    bool hotKey = false;     // pressed as ⌃⌥1 (the layout's default) through the hot-key service
    bool fullHeight = false; // starts as tall as its area: a vertical maximize changes nothing
    friend void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }
};

const Case kCases[] = {
    {"ThirdLeftOnLeft", "third.left", 1},
    {"QuarterBottomRightOnRight", "quarter.br", 0},
    {"NextDisplayFromLeft", "screen.next", 1},
    {"PreviousDisplayFromRight", "screen.prev", 0},
    {"HotKeyOnRight", "third.left", 0, {}, 1, {}, {}, true},
    {"Maximized", "half.right", 0, {{kMaxV, kMaxH}}},
    {"MaximizedHorizontally", "screen.center", 0, {{kMaxH, nullptr}}},
    {"MaximizedVertically", "third.left", 1, {{kMaxV, nullptr}}},
    {"MaximizedVerticallyAtFullHeight", "half.right", 0, {{kMaxV, nullptr}}, 1, {}, {}, false, true},
    {"Fullscreen", "quarter.tl", 0, {{kFull, nullptr}}},
    {"MaximizedThenFullscreen", "half.left", 0, {{kMaxV, kMaxH}, {kFull, nullptr}}},
    {"MaximizedHorizontallyThenFullscreen", "quarter.br", 1, {{kMaxH, nullptr}, {kFull, nullptr}}},
    {"Shaded", "third.center", 0, {{"_NET_WM_STATE_SHADED", nullptr}}},
    {"TenDisplayMovesInARow", "screen.next", 0, {}, 10},
    {"MinimumSizeInRightThird", "third.right", 1, {}, 1, {900, 700}},
    {"MinimumSizeInBottomRightQuarter", "quarter.br", 1, {}, 1, {900, 700}},
    {"MaximumSizeInLeftHalf", "half.left", 0, {}, 1, {}, {300, 200}},
};

// Real hot keys: the defaults registered through the X11 service, a press applying its layout.
struct HotKeys {
    explicit HotKeys(TLX11Connection& connection, TLWindowMover& mover)
        : service(connection), keyboard(connection) {
        manager.setHandler([&mover](const TLLayout& pressed) { mover.applyLayout(pressed); });
    }
    TLX11HotKeyService service;
    TLX11KeyboardLayout keyboard;
    QTemporaryDir dir;
    TLLog log{nullptr};
    TLUserDefaults defaults{dir.filePath("Tilora.plist"), log};
    TLHotkeyManager manager{defaults, service, keyboard};
};

class X11WindowManager : public TLX11WindowFixture, public ::testing::WithParamInterface<Case> {};

TEST_P(X11WindowManager, LandsWhereThePlacementPutsIt) {
    const Case& c = GetParam();
    QStringList limits;
    for (const auto& [option, size] : {std::pair{"--min", c.minSize}, std::pair{"--max", c.maxSize}}) {
        limits << (size[0] > 0 ? QStringList{option, QStringLiteral("%1x%2").arg(size[0]).arg(size[1])}
                               : QStringList{});
    }
    const xcb_window_t w = open(c.name, limits);
    std::vector<uint32_t> e = desktop.cardinals(w, "_NET_FRAME_EXTENTS");
    e.resize(4, 0);
    const int ew = int(e[0] + e[1]), eh = int(e[2] + e[3]);
    const TLX11Rect area = TLDesktopTruth().visible[c.monitor];
    const auto limit = [](int size, int min, int max) {
        return std::max(min, max > 0 ? std::min(size, max) : size);
    };
    place(w, {int(area.x) + 40, int(area.y) + (c.fullHeight ? 0 : 30),
              limit(500 - ew, c.minSize[0], c.maxSize[0]) + ew,
              c.fullHeight ? int(area.height) : limit(400 - eh, c.minSize[1], c.maxSize[1]) + eh});
    for (const auto& [state, second] : c.states) {
        setState(w, state, second);
        ASSERT_TRUE(desktop.waitUntil([&] { return hasState(w, state); }) &&
                    desktop.waitForRest(w, std::chrono::milliseconds(100)))
            << state;
    }

    const TLLayout& layout = tlLayout(c.layout);
    Frame want = *desktop.outerFrame(w);
    for (int i = 0; i < c.presses; ++i) {
        want = expectedFrame(layout, want); // each press starts where the one before ends
    }
    // A window that cannot take the layout's size: a larger one against the layout's far edge
    // but never past the area's near edge, a smaller one centred.
    const auto fit = [&](int& at, int& length, int decor, int min, int max, int areaStart) {
        const int size = limit(length - decor, min, max) + decor;
        at = size > length ? std::max(areaStart, at + length - size) : at + (length - size) / 2;
        length = size;
    };
    fit(want.x, want.width, ew, c.minSize[0], c.maxSize[0], int(area.x));
    fit(want.y, want.height, eh, c.minSize[1], c.maxSize[1], int(area.y));

    std::optional<HotKeys> hotKeys;
    if (c.hotKey) {
        const QStringList refused = hotKeys.emplace(*connection, *mover).manager.registerAll();
        std::printf("[ refused  ] %s holds %s\n", desktop.windowManager().c_str(),
                    refused.isEmpty() ? "none" : refused.join(", ").toUtf8().constData());
        ASSERT_FALSE(refused.contains("Linkes Drittel (⌃⌥1)"));
    }
    QElapsedTimer clock;
    clock.start();
    if (c.hotKey) {
        TLXTestUser(desktop.displayName()).chord({TLXKey::ControlL, TLXKey::AltL, TLXKey::Digit1});
    }
    for (int i = 0; !c.hotKey && i < c.presses; ++i) {
        QElapsedTimer press;
        press.start();
        QString message;
        EXPECT_TRUE(mover->applyLayout(layout, &message)) << message.toStdString();
        EXPECT_LT(press.elapsed(), 100) << "a press returns at once";
        QTest::qWait(1);
    }
    EXPECT_EQ(settleAt(w, want), want);
    EXPECT_TRUE(tlWaitFor([&] { return !control->restoring(); }));
    EXPECT_LT(clock.elapsed(), 800) << "done on the window manager's confirmation, well before the deadline";
    for (const auto& [state, second] : c.states) {
        EXPECT_FALSE(hasState(w, state) || (second && hasState(w, second))) << state;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, X11WindowManager, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
