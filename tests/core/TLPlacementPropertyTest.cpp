#include "TLLayout.h"
#include "TLPlacement.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

// Properties over generated display arrangements: displays side by side or stacked, with
// unequal sizes and offsets, random menu-bar/dock/panel insets, and windows anywhere that
// overlap at least one display.
namespace {

using Displays = std::vector<TLDisplay>;

class Generator {
public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    double between(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(rng_); }
    int between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    Displays arrangement() {
        Displays a;
        const int count = between(1, 4);
        const bool row = between(0, 1) == 0;
        double cursor = 0;
        for (int i = 0; i < count; ++i) {
            const double w = between(640, 3840);
            const double h = between(480, 2160);
            TLRect frame{0, 0, w, h}; // the primary display has its origin at (0, 0)
            if (i > 0 && row) {
                frame = {cursor, std::floor(between(-h + 1, a[0].frame.height - 1)), w, h};
            } else if (i > 0) {
                frame = {std::floor(between(-w + 1, a[0].frame.width - 1)), cursor, w, h};
            }
            cursor += row ? w : h;
            const double left = between(0, 1) ? between(0, 80) : 0;
            const double right = between(0, 1) ? between(0, 80) : 0;
            const double top = between(0, 40);
            const double bottom = between(0, 120);
            a.push_back({frame, {frame.x + left, frame.y + bottom, w - left - right, h - top - bottom}});
        }
        return a;
    }

    // A window in accessibility coordinates that overlaps one of the displays.
    std::pair<TLPoint, TLSize> window(const Displays& a) {
        const TLRect& f = a[std::size_t(between(0, int(a.size()) - 1))].frame;
        const double w = between(50.0, f.width * 1.2);
        const double h = between(50.0, f.height * 1.2);
        const double gx = between(f.minX() - w + 1, f.maxX() - 1);
        const double gy = between(f.minY() - h + 1, f.maxY() - 1);
        return {{gx, TLPlacement::primaryTop(a) - gy - h}, {w, h}};
    }

private:
    std::mt19937 rng_;
};

TLDisplayConfiguration configOf(const Displays& a) {
    return {a, nullptr, nullptr};
}

// Accessibility position and size to a rectangle in global coordinates.
TLRect globalRect(const Displays& a, double x, double y, double w, double h) {
    return {x, TLPlacement::primaryTop(a) - y - h, w, h};
}
TLRect globalRect(const Displays& a, const TLPlacementResult& r) {
    return globalRect(a, double(r.position.x), double(r.position.y), double(r.size.width),
                      double(r.size.height));
}

double overlap(const TLRect& a, const TLRect& b) {
    const double w = std::min(a.maxX(), b.maxX()) - std::max(a.minX(), b.minX());
    const double h = std::min(a.maxY(), b.maxY()) - std::max(a.minY(), b.minY());
    return (w > 0 && h > 0) ? w * h : 0;
}

constexpr int kRounds = 3000;

} // namespace

TEST(TLPlacementProperty, FractionalLayoutsLandInsideTheVisibleFrameOfTheLargestOverlap) {
    Generator gen(20261206);
    for (int round = 0; round < kRounds; ++round) {
        const Displays a = gen.arrangement();
        const auto [position, size] = gen.window(a);
        const TLRect window = globalRect(a, position.x, position.y, size.width, size.height);

        std::size_t largest = 0;
        double largestArea = 0;
        for (std::size_t i = 0; i < a.size(); ++i) {
            if (const double area = overlap(a[i].frame, window); area > largestArea) {
                largestArea = area;
                largest = i;
            }
        }
        ASSERT_GT(largestArea, 0);
        ASSERT_EQ(TLPlacement::currentDisplay(configOf(a), window), largest) << "round " << round;

        const TLRect& v = a[largest].visibleFrame;
        for (const TLLayout& layout : TLLayout::allLayouts()) {
            if (layout.kind() != TLLayoutKindFrac) {
                continue;
            }
            const TLPlacementResult r =
                TLPlacement::place(configOf(a), position, size, layout.kind(), layout.frac());
            ASSERT_TRUE(r.ok);
            ASSERT_GT(r.size.width, 0);
            ASSERT_GT(r.size.height, 0);
            const TLRect g = globalRect(a, r);
            // Far edges stay inside; near edges of a fractional frame are within half a point.
            ASSERT_TRUE(g.minX() >= v.minX() - 0.5 && g.maxX() <= v.maxX() && g.minY() >= v.minY() &&
                        g.maxY() <= v.maxY() + 0.5)
                << layout.identifier() << " round " << round;
        }
    }
}

TEST(TLPlacementProperty, NextThenPreviousReturnsToTheOriginalDisplay) {
    Generator gen(4711);
    int moves = 0;
    for (int round = 0; round < kRounds; ++round) {
        const Displays a = gen.arrangement();
        if (a.size() < 2) {
            continue;
        }
        const auto [position, size] = gen.window(a);
        const TLRect window = globalRect(a, position.x, position.y, size.width, size.height);
        const std::size_t start = *TLPlacement::currentDisplay(configOf(a), window);

        const TLPlacementResult next =
            TLPlacement::place(configOf(a), position, size, TLLayoutKindScreenNext, TLFrac{0, 0, 1, 1});
        ASSERT_TRUE(next.ok);
        ASSERT_EQ(TLPlacement::currentDisplay(configOf(a), globalRect(a, next)), (start + 1) % a.size())
            << "round " << round;

        const TLPlacementResult back = TLPlacement::place(
            configOf(a), {double(next.position.x), double(next.position.y)},
            {double(next.size.width), double(next.size.height)}, TLLayoutKindScreenPrev, TLFrac{0, 0, 1, 1});
        ASSERT_TRUE(back.ok);
        ASSERT_EQ(TLPlacement::currentDisplay(configOf(a), globalRect(a, back)), start) << "round " << round;
        ++moves;
    }
    EXPECT_GT(moves, kRounds / 2);
}
