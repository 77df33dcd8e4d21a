#include "TLVisibleFrames.h"
#include "TLPlacement.h"

#include <gtest/gtest.h>

namespace {

using Struts = std::vector<std::vector<std::uint32_t>>;

// Two monitors of unequal height side by side on a 3360 x 1080 screen: the shorter one on the
// left, its bottom on the screen's bottom edge.
const TLX11Rect kRoot{0, 0, 3360, 1080};
const TLX11Rect kLeft{0, 180, 1440, 900};
const TLX11Rect kRight{1440, 0, 1920, 1080};

std::vector<std::uint32_t> partial(std::uint32_t l, std::uint32_t r, std::uint32_t t, std::uint32_t b,
                                   std::array<std::uint32_t, 8> ranges) {
    std::vector<std::uint32_t> s = {l, r, t, b};
    s.insert(s.end(), ranges.begin(), ranges.end());
    return s;
}

struct Row {
    const char* name;
    Struts struts;
    TLX11Rect left, right; // expected visible areas
};

TEST(TLVisibleFrames, ReservationsCutOnlyTheMonitorTheyCover) {
    const Row rows[] = {
        {"no panels", {}, kLeft, kRight},
        {"bottom panel on the shorter monitor",
         {partial(0, 0, 0, 32, {0, 0, 0, 0, 0, 0, 0, 1439})},
         {0, 180, 1440, 868},
         kRight},
        {"bottom panel on the taller monitor",
         {partial(0, 0, 0, 40, {0, 0, 0, 0, 0, 0, 1440, 3359})},
         kLeft,
         {1440, 0, 1920, 1040}},
        {"top panel on the shorter monitor reaches down past the gap above it",
         {partial(0, 0, 205, 0, {0, 0, 0, 0, 0, 1439, 0, 0})},
         {0, 205, 1440, 875},
         kRight},
        {"panel on the inner edge of the left monitor",
         {partial(0, 1952, 0, 0, {0, 0, 180, 1079, 0, 0, 0, 0})},
         {0, 180, 1408, 900},
         kRight},
        {"panel on the inner edge of the right monitor",
         {partial(1472, 0, 0, 0, {0, 1079, 0, 0, 0, 0, 0, 0})},
         kLeft,
         {1472, 0, 1888, 1080}},
        {"two panels on different monitors",
         {partial(0, 0, 0, 32, {0, 0, 0, 0, 0, 0, 0, 1439}),
          {},
          partial(0, 0, 30, 0, {0, 0, 0, 0, 1440, 3359, 0, 0})},
         {0, 180, 1440, 868},
         {1440, 30, 1920, 1050}},
        {"plain strut reserves the whole bottom edge",
         {{0, 0, 0, 32}},
         {0, 180, 1440, 868},
         {1440, 0, 1920, 1048}},
        {"left dock on the outer edge",
         {partial(48, 0, 0, 0, {180, 1079, 0, 0, 0, 0, 0, 0})},
         {48, 180, 1392, 900},
         kRight},
        {"nonsense is ignored: too short, end before start, beyond the screen",
         {{0, 0, 32}, partial(0, 0, 0, 50, {0, 0, 0, 0, 0, 0, 900, 100}), {0, 0, 0, 5000}},
         kLeft,
         kRight},
    };
    for (const Row& row : rows) {
        TLVisibleFrames::Input input;
        input.root = kRoot;
        input.monitors = {kLeft, kRight};
        input.struts = row.struts;
        input.workarea = TLX11Rect{0, 0, 3360, 1000}; // never used while there is a client list
        std::vector<TLX11Rect> visible = TLVisibleFrames::compute(input);
        ASSERT_EQ(visible.size(), 2u) << row.name;
        EXPECT_EQ(visible[0], row.left) << row.name;
        EXPECT_EQ(visible[1], row.right) << row.name;
    }
}

TEST(TLVisibleFrames, PublishedWorkareasWinAndAreMatchedByOverlap) {
    TLVisibleFrames::Input input;
    input.root = kRoot;
    input.monitors = {kLeft, kRight};
    input.struts = Struts{{0, 0, 0, 100}};
    // Listed right monitor first; the second reaches past its monitor and is trimmed.
    input.gtkWorkareas = std::vector<TLX11Rect>{{1440, 27, 1920, 1053}, {0, 180, 1500, 850}};
    std::vector<TLX11Rect> visible = TLVisibleFrames::compute(input);
    ASSERT_EQ(visible.size(), 2u);
    EXPECT_EQ(visible[0], (TLX11Rect{0, 180, 1440, 850}));
    EXPECT_EQ(visible[1], (TLX11Rect{1440, 27, 1920, 1053}));
}

TEST(TLVisibleFrames, ScreenWorkareaIsTheLastFallback) {
    TLVisibleFrames::Input input;
    input.root = kRoot;
    input.monitors = {kLeft, kRight};
    input.workarea = TLX11Rect{0, 0, 3360, 1048};
    std::vector<TLX11Rect> visible = TLVisibleFrames::compute(input);
    EXPECT_EQ(visible[0], (TLX11Rect{0, 180, 1440, 868}));
    EXPECT_EQ(visible[1], (TLX11Rect{1440, 0, 1920, 1048}));

    input.workarea = TLX11Rect{0, 0, 1000, 100}; // misses the left monitor entirely
    visible = TLVisibleFrames::compute(input);
    EXPECT_EQ(visible[0], kLeft);
    EXPECT_EQ(visible[1], kRight);

    input.workarea.reset();
    visible = TLVisibleFrames::compute(input);
    EXPECT_EQ(visible[0], kLeft);
}

TEST(TLVisibleFrames, GlobalCoordinatesAnchorAtThePrimaryBottomLeft) {
    const std::vector<TLX11Rect> monitors = {kLeft, kRight};
    const std::vector<TLX11Rect> visible = {{0, 180, 1440, 868}, {1440, 30, 1920, 1050}};
    std::vector<TLDisplay> displays = TLVisibleFrames::toDisplays(monitors, visible, 1);
    ASSERT_EQ(displays.size(), 2u);
    auto expectRect = [](const TLRect& r, double x, double y, double w, double h) {
        EXPECT_EQ(r.x, x);
        EXPECT_EQ(r.y, y);
        EXPECT_EQ(r.width, w);
        EXPECT_EQ(r.height, h);
    };
    expectRect(displays[0].frame, 0, 0, 1920, 1080);
    expectRect(displays[0].visibleFrame, 0, 0, 1920, 1050);
    expectRect(displays[1].frame, -1440, 0, 1440, 900);
    expectRect(displays[1].visibleFrame, -1440, 32, 1440, 868);

    EXPECT_TRUE(TLVisibleFrames::toDisplays({}, {}, 0).empty());
    EXPECT_TRUE(TLVisibleFrames::toDisplays(monitors, {kLeft}, 0).empty());
    EXPECT_EQ(TLVisibleFrames::toDisplays(monitors, visible, 7).size(), 2u);
}

TEST(TLVisibleFrames, PlacementLandsOnTheVisibleAreaInRootCoordinates) {
    // Filling each monitor must give its visible area back, through both conversions.
    const std::vector<TLX11Rect> monitors = {kLeft, kRight};
    const std::vector<TLX11Rect> visible = {{0, 180, 1440, 868}, {1440, 30, 1920, 1050}};
    TLDisplayConfiguration config;
    config.displays = TLVisibleFrames::toDisplays(monitors, visible, 1);
    for (const TLX11Rect& area : visible) {
        TLPoint inside = TLVisibleFrames::toAccessibility(area.x + 10, area.y + 10, kRight);
        TLPlacementResult r = TLPlacement::place(config, inside, {200, 100}, TLLayoutKindFrac, {0, 0, 1, 1});
        ASSERT_TRUE(r.ok);
        TLPoint expected = TLVisibleFrames::toAccessibility(area.x, area.y, kRight);
        EXPECT_EQ(r.position.x, expected.x);
        EXPECT_EQ(r.position.y, expected.y);
        EXPECT_EQ(r.size.width, area.width);
        EXPECT_EQ(r.size.height, area.height);
    }
}

} // namespace
