#include "TLPlacement.h"
#include "TLLayout.h"
#include "TLTest.h"

namespace {

const TLDisplay kA{{0, 0, 1440, 900}, {0, 70, 1440, 805}};
const TLDisplay kB{{1440, 0, 1920, 1080}, {1440, 0, 1920, 1055}};
const TLDisplay kLeftOfA{{-1024, 100, 1024, 768}, {-1024, 100, 1024, 743}};
// 1875 x 1169 visible: a 45-point panel on the left, 31 points at the top.
const TLDisplay kOdd{{0, 0, 1920, 1200}, {45, 0, 1875, 1169}};
const TLDisplay kOddRightOfA{{1440, 0, 1920, 1200}, {1485, 0, 1875, 1169}};

// The lazy inputs of a configuration.
struct Lazy {
    std::optional<TLPoint> mouse;
    std::optional<std::size_t> main;
};

TLDisplayConfiguration config(std::vector<TLDisplay> displays, Lazy* lazy = nullptr) {
    TLDisplayConfiguration c;
    c.displays = std::move(displays);
    if (lazy) {
        c.mouseLocation = [lazy] { return lazy->mouse; };
        c.mainDisplay = [lazy] { return lazy->main; };
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
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    const std::pair<double, std::int64_t> cases[] = {{402.5, 403}, {-2.5, -3}, {70.33, 70},
                                                     {-0.4, 0},    {nan, 0},   {inf, 0}};
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(TLPlacement::nearest(in), out) << in;
    }
}

TEST(TLPlacement, WorkedExamples) {
    struct Example {
        const char* name;
        std::vector<TLDisplay> displays;
        const char* layout;
        Frame window, expected;
        const char* failure = nullptr; // instead of a frame
    };
    const std::vector<TLDisplay> one{kA}, two{kA, kB};
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
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
        {"three displays: next is the following one",
         {kA, kB, kLeftOfA},
         "screen.next",
         kOnA,
         {1573, -24, 960, 524}},
        {"three displays: prev from the first wraps to the last",
         {kA, kB, kLeftOfA},
         "screen.prev",
         {20, 30, 1400, 850},
         {-1010, 57, 996, 743}},
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
        {"next with one display", one, "screen.next", kOnA, {}, "Nur ein Bildschirm angeschlossen."},
        {"prev with one display", one, "screen.prev", kOnA, {}, "Nur ein Bildschirm angeschlossen."},
        {"next with none", {}, "screen.next", kOnA, {}, "Nur ein Bildschirm angeschlossen."},
        {"fraction with none", {}, "third.left", kOnA, {}, "Kein Bildschirm gefunden."},
        // Broken display reports give no frame.
        {"NaN width", {{kA.frame, {0, 70, nan, 805}}}, "third.left", kOnA, {}, "Kein Bildschirm gefunden."},
        {"negative width",
         {{kA.frame, {0, 70, -1440, 805}}},
         "third.left",
         kOnA,
         {},
         "Kein Bildschirm gefunden."},
        {"infinite frame",
         {{{0, 0, inf, inf}, kA.visibleFrame}},
         "third.left",
         kOnA,
         {},
         "Kein Bildschirm gefunden."},
        {"huge target",
         {kA, {kB.frame, {1440, 0, 1e300, 1055}}},
         "screen.next",
         kOnA,
         {},
         "Kein Bildschirm gefunden."},
    };
    for (const Example& e : examples) {
        SCOPED_TRACE(e.name);
        const TLPlacementResult r = place(config(e.displays), e.layout, e.window);
        EXPECT_EQ(std::pair(r.ok, r.failure), std::pair(!e.failure, std::string(e.failure ? e.failure : "")));
        EXPECT_EQ(frameOf(r), e.failure ? Frame{} : e.expected);
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
        {"bottom edge belongs to no display", TLPoint{2000, 0}, 1, 1},
        {"right edge of A is left edge of B", TLPoint{1440, 500}, 0, 1},
        {"right edge of B belongs to no display", TLPoint{3360, 500}, 0, 0},
        {"mouse nowhere: main display", TLPoint{-500, -500}, 1, 1},
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
