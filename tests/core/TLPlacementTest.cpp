#include "TLPlacement.h"
#include "TLLayout.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace {

const TLDisplay kA{{0, 0, 1440, 900}, {0, 70, 1440, 805}};
const TLDisplay kB{{1440, 0, 1920, 1080}, {1440, 0, 1920, 1055}};

TLDisplayConfiguration config(std::vector<TLDisplay> displays, std::optional<TLPoint> mouse = std::nullopt,
                              std::optional<std::size_t> main = std::nullopt) {
    TLDisplayConfiguration c;
    c.displays = std::move(displays);
    c.mouseLocation = [mouse] { return mouse; };
    c.mainDisplay = [main] { return main; };
    return c;
}

TLPlacementResult placeLayout(const TLDisplayConfiguration& c, const char* identifier, TLPoint position,
                              TLSize size) {
    const TLLayout* layout = TLLayout::layoutWithIdentifier(identifier);
    EXPECT_NE(layout, nullptr) << identifier;
    return TLPlacement::place(c, position, size, layout->kind(), layout->frac());
}

struct Example {
    const char* name;
    std::vector<TLDisplay> displays;
    const char* layout;
    TLPoint position;
    TLSize size;
    TLIntPoint expectedPosition;
    TLIntSize expectedSize;
};

} // namespace

TEST(TLPlacement, NearestRoundsHalvesAwayFromZero) {
    const std::pair<double, std::int64_t> cases[] = {{402.5, 403},      {-2.5, -3}, {69.5, 70},
                                                     {70.33, 70},       {-0.4, 0},  {724.5, 725},
                                                     {-1009.78, -1010}, {0.0, 0}};
    for (const auto& [in, out] : cases) {
        EXPECT_EQ(TLPlacement::nearest(in), out) << in;
    }
    EXPECT_EQ(TLPlacement::nearest(std::numeric_limits<double>::quiet_NaN()), 0);
    EXPECT_EQ(TLPlacement::nearest(std::numeric_limits<double>::infinity()), 0);
}

TEST(TLPlacement, WorkedExamples) {
    const TLPoint onA{100, 125};
    const TLSize size{720, 400};
    const TLDisplay clampTarget{{-1024, 100, 1024, 768}, {-1024, 100, 1024, 743}};
    const Example examples[] = {
        {"third.left", {kA}, "third.left", onA, size, {0, 25}, {480, 805}},
        {"third.center", {kA}, "third.center", onA, size, {480, 25}, {480, 805}},
        {"third.right", {kA}, "third.right", onA, size, {960, 25}, {480, 805}},
        {"quartercol.2", {kA}, "quartercol.2", onA, size, {360, 25}, {360, 805}},
        {"ninth.r.bot", {kA}, "ninth.r.bot", onA, size, {960, 562}, {480, 268}},
        {"half.bottom", {kA}, "half.bottom", onA, size, {0, 427}, {1440, 403}},
        {"half.top overlaps half.bottom by one", {kA}, "half.top", onA, size, {0, 25}, {1440, 403}},
        {"screen.center", {kA}, "screen.center", onA, size, {240, 65}, {960, 725}},
        {"screen.full", {kA}, "screen.full", onA, size, {0, 25}, {1440, 805}},
        {"next from A reaches above the primary top",
         {kA, kB},
         "screen.next",
         onA,
         size,
         {1573, -24},
         {960, 524}},
        {"prev from A wraps to B", {kA, kB}, "screen.prev", onA, size, {1573, -24}, {960, 524}},
        {"next from B returns to A",
         {kA, kB},
         "screen.next",
         {1573, -24},
         {960, 524},
         {100, 125},
         {720, 400}},
        {"larger overlap with B wins",
         {kA, kB},
         "third.left",
         {1340, 100},
         {400, 400},
         {1440, -155},
         {640, 1055}},
        {"equal overlaps go to the earlier display",
         {kA, kB},
         "third.left",
         {1240, 100},
         {400, 400},
         {0, 25},
         {480, 805}},
        {"oversized window is capped and clamped",
         {kA, clampTarget},
         "screen.next",
         {20, 30},
         {1400, 850},
         {-1010, 57},
         {996, 743}},
        {"window sticking out left arrives flush left",
         {kA, kB},
         "screen.next",
         {-300, 125},
         {720, 400},
         {1440, -24},
         {960, 524}},
        {"window sticking out right arrives flush right",
         {kA, kB},
         "screen.prev",
         {1000, 125},
         {720, 400},
         {2400, -24},
         {960, 524}},
    };
    for (const Example& e : examples) {
        SCOPED_TRACE(e.name);
        const TLPlacementResult r = placeLayout(config(e.displays), e.layout, e.position, e.size);
        ASSERT_TRUE(r.ok) << r.failure;
        EXPECT_EQ(r.position, e.expectedPosition);
        EXPECT_EQ(r.size, e.expectedSize);
    }
}

TEST(TLPlacement, DisplayMovesNeedTwoDisplays) {
    for (const char* layout : {"screen.next", "screen.prev"}) {
        for (const auto& displays : {std::vector<TLDisplay>{kA}, std::vector<TLDisplay>{}}) {
            const TLPlacementResult r = placeLayout(config(displays), layout, {100, 125}, {720, 400});
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(r.failure, "Nur ein Bildschirm angeschlossen.");
        }
    }
}

TEST(TLPlacement, NoDisplayLeavesTheWindowAlone) {
    const TLPlacementResult r = placeLayout(config({}), "third.left", {100, 125}, {720, 400});
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.failure, "Kein Bildschirm gefunden.");
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
        EXPECT_EQ(TLPlacement::currentDisplay(config({kA, kB}, c.mouse, c.main), outside), c.expected);
    }
}

TEST(TLPlacement, TouchingIsNotOverlapping) {
    // The window's left edge touches B's left edge from the outside: it lies on A only.
    const TLRect window{1040, 100, 400, 400};
    EXPECT_EQ(TLPlacement::currentDisplay(config({kA, kB}, TLPoint{2000, 500}), window), 0u);
}

TEST(TLPlacement, MouseAndMainDisplayAreAskedOnlyWhenNeeded) {
    int mouseCalls = 0;
    int mainCalls = 0;
    TLDisplayConfiguration c;
    c.displays = {kA, kB};
    c.mouseLocation = [&] {
        ++mouseCalls;
        return std::optional<TLPoint>{};
    };
    c.mainDisplay = [&] {
        ++mainCalls;
        return std::optional<std::size_t>{1};
    };
    ASSERT_TRUE(placeLayout(c, "half.left", {100, 125}, {720, 400}).ok);
    EXPECT_EQ(mouseCalls, 0);
    EXPECT_EQ(mainCalls, 0);

    const TLPlacementResult r = placeLayout(c, "half.left", {9000, 9000}, {720, 400});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(mouseCalls, 1);
    EXPECT_EQ(mainCalls, 1);
    EXPECT_EQ(r.position, (TLIntPoint{1440, -155}));
}

TEST(TLPlacement, EmptyCallbacksAreAllowed) {
    TLDisplayConfiguration c;
    c.displays = {kA, kB};
    const TLPlacementResult r = placeLayout(c, "half.left", {9000, 9000}, {720, 400});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.position, (TLIntPoint{0, 25}));
}

TEST(TLPlacement, DegenerateVisibleFrameGivesNoGarbage) {
    // A panel covering the whole source monitor leaves an empty visible frame.
    const TLDisplay covered{{0, 0, 1440, 900}, {0, 900, 1440, 0}};
    const TLPlacementResult r = placeLayout(config({covered, kB}), "screen.next", {100, 125}, {720, 400});
    ASSERT_TRUE(r.ok);
    // Relative height and top offset fall back to the whole target height.
    EXPECT_EQ(r.size, (TLIntSize{960, 1055}));
    EXPECT_EQ(r.position, (TLIntPoint{1573, -155}));
}
