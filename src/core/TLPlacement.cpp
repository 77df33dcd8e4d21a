#include "TLPlacement.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

double overlapArea(const TLRect& a, const TLRect& b) {
    const double width = std::fmin(a.maxX(), b.maxX()) - std::fmax(a.minX(), b.minX());
    const double height = std::fmin(a.maxY(), b.maxY()) - std::fmax(a.minY(), b.minY());
    if (!(width > 0) || !(height > 0)) {
        return 0;
    }
    return width * height;
}

// Non-flipped containment: the top and left edges belong to the rectangle, the bottom and
// right edges do not.
bool containsMouse(const TLRect& r, const TLPoint& p) {
    return r.minX() <= p.x && p.x < r.maxX() && r.minY() < p.y && p.y <= r.maxY();
}

// min/max that keep their first operand only when it is strictly smaller/greater.
double smallerOf(double a, double b) {
    return a < b ? a : b;
}
double positiveOr0(double a) {
    return a > 0 ? a : 0;
}

// A fraction of a length, guarded against an empty length (a panel covering a whole monitor).
double fraction(double part, double whole) {
    return whole > 0 ? part / whole : 0;
}

// Far beyond any screen, and small enough that whole numbers stay exact through the arithmetic.
constexpr double kMaxCoordinate = 1e9;

bool isCoordinate(double value) {
    return std::isfinite(value) && std::fabs(value) <= kMaxCoordinate;
}

// An area a frame can be computed in: finite, not inverted, within the coordinate range.
bool isUsableArea(const TLRect& r) {
    return isCoordinate(r.x) && isCoordinate(r.y) && isCoordinate(r.width) && isCoordinate(r.height) &&
           r.width >= 0 && r.height >= 0;
}

// Origin and size are rounded apart, so the far edge can land one point past the area: the
// right edge, or the bottom one on screen (the low y edge here). The size gives up the overshoot;
// the origin, and so the near edges, stay as computed.
void keepFarEdgesInside(const TLRect& area, std::int64_t X, std::int64_t& Y, std::int64_t& W,
                        std::int64_t& H) {
    const std::int64_t right = TLPlacement::nearest(std::floor(area.maxX()));
    if (X + W > right) {
        W = std::max<std::int64_t>(right - X, 0);
    }
    const std::int64_t bottom = TLPlacement::nearest(std::ceil(area.minY()));
    if (Y < bottom) {
        H = std::max<std::int64_t>(Y + H - bottom, 0);
        Y = bottom;
    }
}

} // namespace

std::int64_t TLPlacement::nearest(double value) {
    if (!std::isfinite(value)) {
        return 0;
    }
    // Far beyond any screen; keeps the conversion defined.
    constexpr double kLimit = 1e15;
    return static_cast<std::int64_t>(std::round(std::fmax(-kLimit, std::fmin(kLimit, value))));
}

double TLPlacement::primaryTop(const std::vector<TLDisplay>& displays) {
    if (displays.empty()) {
        return 0;
    }
    return displays.front().frame.y + displays.front().frame.height;
}

std::optional<std::size_t> TLPlacement::currentDisplay(const TLDisplayConfiguration& config,
                                                       const TLRect& window) {
    const std::vector<TLDisplay>& displays = config.displays;
    if (displays.empty()) {
        return std::nullopt;
    }

    std::optional<std::size_t> best;
    double bestArea = 0;
    for (std::size_t i = 0; i < displays.size(); ++i) {
        const double area = overlapArea(displays[i].frame, window);
        if (area > bestArea) {
            bestArea = area;
            best = i;
        }
    }
    if (best) {
        return best;
    }

    if (config.mouseLocation) {
        if (const std::optional<TLPoint> mouse = config.mouseLocation()) {
            for (std::size_t i = 0; i < displays.size(); ++i) {
                if (containsMouse(displays[i].frame, *mouse)) {
                    return i;
                }
            }
        }
    }

    if (config.mainDisplay) {
        if (const std::optional<std::size_t> main = config.mainDisplay(); main && *main < displays.size()) {
            return main;
        }
    }
    return 0;
}

TLPlacementResult TLPlacement::place(const TLDisplayConfiguration& config, TLPoint position, TLSize size,
                                     std::int64_t kind, const TLFrac& frac) {
    TLPlacementResult result;
    const std::vector<TLDisplay>& displays = config.displays;
    const bool displayMove = kind == TLLayoutKindScreenNext || kind == TLLayoutKindScreenPrev;

    if (displayMove && displays.size() < 2) {
        result.failure = kSingleDisplayFailure;
        return result;
    }
    if (displays.empty()) {
        // Nothing sensible can be computed without a display; leave the window alone.
        result.failure = kNoDisplayFailure;
        return result;
    }

    const double top = primaryTop(displays);
    const TLRect window{position.x, (top - position.y) - size.height, size.width, size.height};
    const std::size_t current = *currentDisplay(config, window);
    const std::size_t n = displays.size();
    const std::size_t s = kind == TLLayoutKindScreenNext ? 1 : 0;
    const std::size_t target = displayMove ? (n + current + 2 * s - 1) % n : current;
    // A broken display report (not a number, infinite, inverted) gives no frame rather than
    // one off screen.
    if (!isCoordinate(top) || !isUsableArea(displays[target].visibleFrame)) {
        result.failure = kNoDisplayFailure;
        return result;
    }

    std::int64_t X = 0;
    std::int64_t Y = 0;
    std::int64_t W = 0;
    std::int64_t H = 0;

    if (!displayMove) {
        const TLRect& v = displays[current].visibleFrame;
        W = nearest(frac.w * v.width);
        H = nearest(frac.h * v.height);
        X = nearest(frac.x * v.width + v.x);
        Y = nearest((v.height + v.y) - frac.y * v.height - static_cast<double>(H));
        keepFarEdgesInside(v, X, Y, W, H);
    } else {
        const TLRect& S = displays[current].visibleFrame;
        const TLRect& D = displays[target].visibleFrame;

        // A window reported with a negative size has none.
        const double rw = S.width > 0 ? positiveOr0(smallerOf(window.width / S.width, 1)) : 1;
        const double rh = S.height > 0 ? positiveOr0(smallerOf(window.height / S.height, 1)) : 1;
        double rx = fraction(window.x - S.x, S.width);
        double rt = fraction((S.height + S.y) - (window.height + window.y), S.height);
        rx = positiveOr0(smallerOf(rx, 1 - rw));
        rt = positiveOr0(smallerOf(rt, 1 - rh));

        W = nearest(rw * D.width);
        H = nearest(rh * D.height);
        X = nearest(rx * D.width + D.x);
        Y = nearest((D.y + D.height) - D.height * rt - static_cast<double>(H));
        keepFarEdgesInside(D, X, Y, W, H);
    }

    // Back to accessibility coordinates; the axis is a whole number for every real display,
    // and nearest() keeps the result whole otherwise.
    result.ok = true;
    result.position = {X, nearest(top - static_cast<double>(Y + H))};
    result.size = {W, H};
    return result;
}
