#include "TLVisibleFrames.h"
#include "TLTest.h"

namespace {

using Struts = std::vector<std::vector<std::uint32_t>>;

// Two monitors of unequal height side by side on a 3360 x 1080 screen: the shorter one on the
// left, its bottom on the screen's bottom edge.
const TLX11Rect kRoot{0, 0, 3360, 1080};
const TLX11Rect kLeft{0, 180, 1440, 900};
const TLX11Rect kRight{1440, 0, 1920, 1080};
const std::vector<TLX11Rect> kMonitors = {kLeft, kRight};
// A bottom panel on the left monitor, a top one on the right.
const std::vector<TLX11Rect> kVisible = {{0, 180, 1440, 868}, {1440, 30, 1920, 1050}};

enum Edge { L, R, T, B };

// _NET_WM_STRUT_PARTIAL reserving `width` on one edge, from start to end along it.
std::vector<std::uint32_t> partial(Edge edge, std::uint32_t width, std::uint32_t start, std::uint32_t end) {
    std::vector<std::uint32_t> s(12, 0);
    s[edge] = width;
    s[4 + 2 * edge] = start;
    s[5 + 2 * edge] = end;
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
    // Both monitors above a 32-pixel reservation on the bottom edge.
    const TLX11Rect cut = kVisible[0], rightCut{1440, 0, 1920, 1048};
    const Row rows[] = {
        {"no panels", Struts{}, kLeft, kRight},
        {"bottom panel, shorter monitor", Struts{partial(B, 32, 0, 1439)}, cut, kRight},
        {"bottom panel, taller monitor", Struts{partial(B, 40, 1440, 3359)}, kLeft, {1440, 0, 1920, 1040}},
        // The top panel on the shorter monitor reaches down past the gap above it.
        {"top panel, shorter monitor", Struts{partial(T, 205, 0, 1439)}, {0, 205, 1440, 875}, kRight},
        {"inner edge, left monitor", Struts{partial(R, 1952, 180, 1079)}, {0, 180, 1408, 900}, kRight},
        {"inner edge, right monitor", Struts{partial(L, 1472, 0, 1079)}, kLeft, {1472, 0, 1888, 1080}},
        {"two panels, two monitors", Struts{partial(B, 32, 0, 1439), {}, partial(T, 30, 1440, 3359)}, cut,
         kVisible[1]},
        {"plain strut: the whole bottom edge", Struts{{0, 0, 0, 32}}, cut, rightCut},
        {"left dock, outer edge", Struts{partial(L, 48, 180, 1079)}, {48, 180, 1392, 900}, kRight},
        // Too short, end before start, beyond the screen.
        {"nonsense is ignored", Struts{{0, 0, 32}, partial(B, 50, 900, 100), {0, 0, 0, 5000}}, kLeft, kRight},
        // Published work areas win over struts; matched by overlap, trimmed to their monitor.
        {"published work areas",
         Struts{{0, 0, 0, 100}},
         {0, 180, 1440, 850},
         {1440, 27, 1920, 1053},
         Areas{{1440, 27, 1920, 1053}, {0, 180, 1500, 850}}},
        // The screen's work area is the last fallback.
        {"screen work area", std::nullopt, cut, rightCut, std::nullopt, TLX11Rect{0, 0, 3360, 1048}},
        {"screen work area missing a monitor", std::nullopt, kLeft, kRight, std::nullopt,
         TLX11Rect{0, 0, 1000, 100}},
        {"nothing published", std::nullopt, kLeft, kRight, std::nullopt, std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(TLVisibleFrames::compute({kRoot, kMonitors, row.gtk, row.struts, row.workarea}),
                  (Areas{row.left, row.right}))
            << row.name;
    }
}

TEST(TLVisibleFrames, GlobalCoordinatesAnchorAtThePrimaryBottomLeft) {
    EXPECT_EQ(TLVisibleFrames::toDisplays(kMonitors, kVisible, 1),
              (std::vector<TLDisplay>{{{0, 0, 1920, 1080}, {0, 0, 1920, 1050}},
                                      {{-1440, 0, 1440, 900}, {-1440, 32, 1440, 868}}}));
    EXPECT_TRUE(TLVisibleFrames::toDisplays({}, {}, 0).empty());
    EXPECT_TRUE(TLVisibleFrames::toDisplays(kMonitors, {kLeft}, 0).empty());
    EXPECT_EQ(TLVisibleFrames::toDisplays(kMonitors, kVisible, 7).size(), 2u);
}

} // namespace
