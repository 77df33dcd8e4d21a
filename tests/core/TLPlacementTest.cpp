#include "TLPlacement.h"
#include "TLLayout.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>
#include <optional>
#include <vector>

namespace {

const TLDisplay kA{{0, 0, 1440, 900}, {0, 70, 1440, 805}};
const TLDisplay kB{{1440, 0, 1920, 1080}, {1440, 0, 1920, 1055}};
const TLDisplay kLeftOfA{{-1024, 100, 1024, 768}, {-1024, 100, 1024, 743}};
// 1875 x 1169 visible: a 45-point panel on the left, 31 points at the top.
const TLDisplay kOdd{{0, 0, 1920, 1200}, {45, 0, 1875, 1169}};
const TLDisplay kOddRightOfA{{1440, 0, 1920, 1200}, {1485, 0, 1875, 1169}};

// Counts how often the lazy inputs are asked for.
struct Lazy {
    std::optional<TLPoint> mouse;
    std::optional<std::size_t> main;
    int asked = 0;
};

TLDisplayConfiguration config(std::vector<TLDisplay> displays, Lazy* lazy = nullptr) {
    TLDisplayConfiguration c;
    c.displays = std::move(displays);
    if (lazy) {
        c.mouseLocation = [lazy] { return ++lazy->asked, lazy->mouse; };
        c.mainDisplay = [lazy] { return ++lazy->asked, lazy->main; };
    }
    return c;
}

// Window and result as accessibility position and size: x, y, width, height.
using Frame = std::array<double, 4>;

TLPlacementResult place(const TLDisplayConfiguration& c, const char* identifier, const Frame& window) {
    const TLLayout* layout = TLLayout::layoutWithIdentifier(identifier);
    EXPECT_NE(layout, nullptr) << identifier;
    return TLPlacement::place(c, {window[0], window[1]}, {window[2], window[3]}, layout->kind(),
                              layout->frac());
}

Frame frameOf(const TLPlacementResult& r) {
    return {double(r.position.x), double(r.position.y), double(r.size.width), double(r.size.height)};
}

const Frame kOnA{100, 125, 720, 400};

} // namespace

TEST(TLPlacement, NearestRoundsHalvesAwayFromZero) {
    const std::pair<double, std::int64_t> cases[] = {{402.5, 403}, {-2.5, -3}, {69.5, 70},       {70.33, 70},
                                                     {-0.4, 0},    {0.0, 0},   {-1009.78, -1010}};
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(TLPlacement::nearest(in), out) << in;
    }
    EXPECT_EQ(TLPlacement::nearest(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(TLPlacement::nearest(std::numeric_limits<double>::infinity()), 0);
}

TEST(TLPlacement, WorkedExamples) {
    struct Example {
        const char* name;
        std::vector<TLDisplay> displays;
        const char* layout;
        Frame window, expected;
    };
    const std::vector<TLDisplay> one{kA}, two{kA, kB};
    const Example examples[] = {
        {"third.left", one, "third.left", kOnA, {0, 25, 480, 805}},
        {"third.center", one, "third.center", kOnA, {480, 25, 480, 805}},
        {"third.right", one, "third.right", kOnA, {960, 25, 480, 805}},
        {"quartercol.2", one, "quartercol.2", kOnA, {360, 25, 360, 805}},
        {"ninth.r.bot", one, "ninth.r.bot", kOnA, {960, 562, 480, 268}},
        {"half.bottom", one, "half.bottom", kOnA, {0, 427, 1440, 403}},
        {"half.top overlaps half.bottom by one", one, "half.top", kOnA, {0, 25, 1440, 403}},
        {"screen.center", one, "screen.center", kOnA, {240, 65, 960, 725}},
        {"next from A reaches above the primary top", two, "screen.next", kOnA, {1573, -24, 960, 524}},
        {"prev from A wraps to B", two, "screen.prev", kOnA, {1573, -24, 960, 524}},
        {"next from B returns to A", two, "screen.next", {1573, -24, 960, 524}, kOnA},
        {"larger overlap wins", two, "third.left", {1340, 100, 400, 400}, {1440, -155, 640, 1055}},
        {"equal overlaps: earlier display", two, "third.left", {1240, 100, 400, 400}, {0, 25, 480, 805}},
        {"capped and clamped", {kA, kLeftOfA}, "screen.next", {20, 30, 1400, 850}, {-1010, 57, 996, 743}},
        {"out left: flush left", two, "screen.next", {-300, 125, 720, 400}, {1440, -24, 960, 524}},
        {"out right: flush right", two, "screen.prev", {1000, 125, 720, 400}, {2400, -24, 960, 524}},
        {"negative size counts as none", two, "screen.next", {100, 125, -720, -400}, {1573, -24, 0, 0}},
        // Rounded origin plus rounded size past the far edge: the size gives up the overshoot.
        {"odd width: right half ends at the edge", {kOdd}, "half.right", kOnA, {983, 31, 937, 1169}},
        {"odd width: left half meets it", {kOdd}, "half.left", kOnA, {45, 31, 938, 1169}},
        {"odd height: top quarter", {kOdd}, "quarter.tr", kOnA, {983, 31, 937, 585}},
        {"odd height: bottom quarter meets it", {kOdd}, "quarter.br", kOnA, {983, 616, 937, 584}},
        {"odd height: bottom half", {kOdd}, "half.bottom", kOnA, {45, 616, 1875, 584}},
        {"odd target of a move",
         {kA, kOddRightOfA},
         "screen.next",
         {720, 427.5, 720, 402.5},
         {2423, 316, 937, 584}},
        // A panel covering the whole source leaves an empty visible frame: the window fills it.
        {"empty source area",
         {{kA.frame, {0, 900, 1440, 0}}, kB},
         "screen.next",
         kOnA,
         {1573, -155, 960, 1055}},
    };
    for (const Example& e : examples) {
        SCOPED_TRACE(e.name);
        const TLPlacementResult r = place(config(e.displays), e.layout, e.window);
        ASSERT_TRUE(r.ok) << r.failure;
        EXPECT_EQ(frameOf(r), e.expected);
    }
}

TEST(TLPlacement, NoFrameWithoutUsableDisplays) {
    struct Case {
        std::vector<TLDisplay> displays;
        const char* layout;
        const char* failure;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const char* none = "Kein Bildschirm gefunden.";
    const Case cases[] = {
        {{kA}, "screen.next", "Nur ein Bildschirm angeschlossen."},
        {{kA}, "screen.prev", "Nur ein Bildschirm angeschlossen."},
        {{}, "screen.next", "Nur ein Bildschirm angeschlossen."},
        {{}, "third.left", none}, // nothing sensible without a display
        // Broken display reports.
        {{{kA.frame, {0, 70, nan, 805}}}, "third.left", none},
        {{{kA.frame, {0, 70, -1440, 805}}}, "third.left", none},
        {{{{0, 0, inf, inf}, kA.visibleFrame}}, "third.left", none},
        {{kA, {kB.frame, {1440, 0, 1e300, 1055}}}, "screen.next", none},
    };
    for (const Case& c : cases) {
        const TLPlacementResult r = place(config(c.displays), c.layout, kOnA);
        EXPECT_FALSE(r.ok) << c.layout;
        EXPECT_EQ(r.failure, c.failure) << c.layout;
    }
}

TEST(TLPlacement, WindowOnNoDisplayFallsBackToMouseThenMainThenFirst) {
    struct Case {
        const char* name;
        std::optional<TLPoint> mouse;
        std::optional<std::size_t> main;
        std::size_t expected;
    };
    const Case cases[] = {
        {"mouse inside B", TLPoint{2000, 500}, 0, 1},
        {"mouse on A's top-left corner belongs to A", TLPoint{0, 900}, 1, 0},
        {"mouse on B's top edge belongs to B", TLPoint{2000, 1080}, 0, 1},
        {"bottom edge belongs to no display", TLPoint{2000, 0}, 1, 1},
        {"right edge of A is left edge of B", TLPoint{1440, 500}, 0, 1},
        {"right edge of B belongs to no display", TLPoint{3360, 500}, 0, 0},
        {"mouse nowhere: main display", TLPoint{-500, -500}, 1, 1},
        {"no mouse: main display", std::nullopt, 1, 1},
        {"no mouse, no main: first display", std::nullopt, std::nullopt, 0},
        {"main out of range: first display", std::nullopt, 7, 0},
    };
    const TLRect outside{5000, 5000, 100, 100};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Lazy lazy{c.mouse, c.main};
        EXPECT_EQ(TLPlacement::currentDisplay(config({kA, kB}, &lazy), outside), c.expected);
    }
    // Without callbacks the last fallback still holds.
    EXPECT_EQ(TLPlacement::currentDisplay(config({kA, kB}), outside), 0u);
}

TEST(TLPlacement, MouseAndMainDisplayAreAskedOnlyWhenNeeded) {
    Lazy lazy{std::nullopt, 1};
    ASSERT_TRUE(place(config({kA, kB}, &lazy), "half.left", kOnA).ok);
    EXPECT_EQ(lazy.asked, 0);

    const TLPlacementResult r = place(config({kA, kB}, &lazy), "half.left", {9000, 9000, 720, 400});
    EXPECT_EQ(lazy.asked, 2);
    EXPECT_EQ(frameOf(r), (Frame{1440, -155, 960, 1055}));
}
