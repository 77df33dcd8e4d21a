#include "TLVisibleFrames.h"
#include "TLPlacement.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>

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

using Areas = std::vector<TLX11Rect>;

struct Row {
    const char* name;
    std::optional<Struts> struts; // absent: no client list
    TLX11Rect left, right;        // expected visible areas
    std::optional<Areas> gtk = std::nullopt;
    std::optional<TLX11Rect> workarea = TLX11Rect{0, 0, 3360, 1000}; // used only without the others
};

TEST(TLVisibleFrames, ReservationsCutOnlyTheMonitorTheyCover) {
    const TLX11Rect leftAboveBottomPanel{0, 180, 1440, 868};
    const Row rows[] = {
        {"no panels", Struts{}, kLeft, kRight},
        {"bottom panel on the shorter monitor", Struts{partial(0, 0, 0, 32, {0, 0, 0, 0, 0, 0, 0, 1439})},
         leftAboveBottomPanel, kRight},
        {"bottom panel on the taller monitor",
         Struts{partial(0, 0, 0, 40, {0, 0, 0, 0, 0, 0, 1440, 3359})},
         kLeft,
         {1440, 0, 1920, 1040}},
        {"top panel on the shorter monitor reaches down past the gap above it",
         Struts{partial(0, 0, 205, 0, {0, 0, 0, 0, 0, 1439, 0, 0})},
         {0, 205, 1440, 875},
         kRight},
        {"panel on the inner edge of the left monitor",
         Struts{partial(0, 1952, 0, 0, {0, 0, 180, 1079, 0, 0, 0, 0})},
         {0, 180, 1408, 900},
         kRight},
        {"panel on the inner edge of the right monitor",
         Struts{partial(1472, 0, 0, 0, {0, 1079, 0, 0, 0, 0, 0, 0})},
         kLeft,
         {1472, 0, 1888, 1080}},
        {"two panels on different monitors",
         Struts{partial(0, 0, 0, 32, {0, 0, 0, 0, 0, 0, 0, 1439}),
                {},
                partial(0, 0, 30, 0, {0, 0, 0, 0, 1440, 3359, 0, 0})},
         leftAboveBottomPanel,
         {1440, 30, 1920, 1050}},
        {"plain strut reserves the whole bottom edge",
         Struts{{0, 0, 0, 32}},
         leftAboveBottomPanel,
         {1440, 0, 1920, 1048}},
        {"left dock on the outer edge",
         Struts{partial(48, 0, 0, 0, {180, 1079, 0, 0, 0, 0, 0, 0})},
         {48, 180, 1392, 900},
         kRight},
        {"nonsense is ignored: too short, end before start, beyond the screen",
         Struts{{0, 0, 32}, partial(0, 0, 0, 50, {0, 0, 0, 0, 0, 0, 900, 100}), {0, 0, 0, 5000}}, kLeft,
         kRight},
        // Published work areas win over struts; matched by overlap, trimmed to their monitor.
        {"published work areas",
         Struts{{0, 0, 0, 100}},
         {0, 180, 1440, 850},
         {1440, 27, 1920, 1053},
         Areas{{1440, 27, 1920, 1053}, {0, 180, 1500, 850}}},
        // The screen's work area is the last fallback.
        {"screen work area",
         std::nullopt,
         leftAboveBottomPanel,
         {1440, 0, 1920, 1048},
         std::nullopt,
         TLX11Rect{0, 0, 3360, 1048}},
        {"screen work area missing a monitor", std::nullopt, kLeft, kRight, std::nullopt,
         TLX11Rect{0, 0, 1000, 100}},
        {"nothing published", std::nullopt, kLeft, kRight, std::nullopt, std::nullopt},
    };
    for (const Row& row : rows) {
        TLVisibleFrames::Input input{kRoot, {kLeft, kRight}, row.gtk, row.struts, row.workarea};
        std::vector<TLX11Rect> visible = TLVisibleFrames::compute(input);
        EXPECT_EQ(visible, (Areas{row.left, row.right})) << row.name;
    }
}

TEST(TLVisibleFrames, GlobalCoordinatesAnchorAtThePrimaryBottomLeft) {
    const std::vector<TLX11Rect> monitors = {kLeft, kRight};
    const std::vector<TLX11Rect> visible = {{0, 180, 1440, 868}, {1440, 30, 1920, 1050}};
    std::vector<TLDisplay> displays = TLVisibleFrames::toDisplays(monitors, visible, 1);
    ASSERT_EQ(displays.size(), 2u);
    auto values = [](const TLRect& r) { return std::array<double, 4>{r.x, r.y, r.width, r.height}; };
    EXPECT_EQ(values(displays[0].frame), (std::array<double, 4>{0, 0, 1920, 1080}));
    EXPECT_EQ(values(displays[0].visibleFrame), (std::array<double, 4>{0, 0, 1920, 1050}));
    EXPECT_EQ(values(displays[1].frame), (std::array<double, 4>{-1440, 0, 1440, 900}));
    EXPECT_EQ(values(displays[1].visibleFrame), (std::array<double, 4>{-1440, 32, 1440, 868}));

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
        EXPECT_EQ((std::array<double, 4>{double(r.position.x), double(r.position.y), double(r.size.width),
                                         double(r.size.height)}),
                  (std::array<double, 4>{expected.x, expected.y, double(area.width), double(area.height)}));
    }
}

} // namespace
