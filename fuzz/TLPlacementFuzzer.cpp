// Display arrangements and windows decoded from bytes, placed with every layout kind: the
// placement never crashes, and a frame it returns lies inside the visible area of the display it
// chose, with whole coordinates (the result type has nothing else).
#include "TLFuzzCheck.h"
#include "TLLayout.h"
#include "TLPlacement.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <limits>

namespace {

// Whole pixels mostly, and the values a broken display setup could report.
double displayValue(FuzzedDataProvider& in) {
    constexpr double kSpecial[] = {std::numeric_limits<double>::quiet_NaN(),
                                   std::numeric_limits<double>::infinity(),
                                   -std::numeric_limits<double>::infinity(),
                                   1e300,
                                   -1e300,
                                   -0.0};
    const int pick = in.ConsumeIntegralInRange(0, 15);
    if (pick < 6) {
        return kSpecial[pick];
    }
    return pick < 12 ? in.ConsumeIntegral<std::int16_t>() : in.ConsumeIntegral<std::int32_t>();
}

// Windows may sit anywhere, at fractions too.
double windowValue(FuzzedDataProvider& in) {
    return in.ConsumeBool() ? displayValue(in) : in.ConsumeFloatingPoint<double>();
}

TLRect rect(FuzzedDataProvider& in, double (*value)(FuzzedDataProvider&)) {
    const double x = value(in);
    const double y = value(in);
    const double width = value(in);
    return {x, y, width, value(in)};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    TLDisplayConfiguration config;
    const int count = in.ConsumeIntegralInRange(0, 4);
    for (int i = 0; i < count; ++i) {
        const TLRect frame = rect(in, displayValue);
        config.displays.push_back({frame, rect(in, displayValue)});
    }
    const TLPoint mouse{windowValue(in), windowValue(in)};
    const bool hasMouse = in.ConsumeBool();
    config.mouseLocation = [&]() -> std::optional<TLPoint> {
        return hasMouse ? std::optional(mouse) : std::nullopt;
    };
    const std::size_t main = in.ConsumeIntegralInRange<std::size_t>(0, 5);
    config.mainDisplay = [&]() -> std::optional<std::size_t> {
        return main < 5 ? std::optional(main) : std::nullopt;
    };
    const TLRect window = rect(in, windowValue);
    const std::vector<TLLayout>& layouts = TLLayout::allLayouts();
    const TLLayout& layout = layouts[in.ConsumeIntegralInRange<std::size_t>(0, layouts.size() - 1)];

    const TLPlacementResult r = TLPlacement::place(
        config, {window.x, window.y}, {window.width, window.height}, layout.kind(), layout.frac());
    if (!r.ok) {
        return 0;
    }

    // The display the placement worked on, in the same order of rules.
    const double top = TLPlacement::primaryTop(config.displays);
    const TLRect global{window.x, (top - window.y) - window.height, window.width, window.height};
    const std::size_t n = config.displays.size();
    std::size_t chosen = *TLPlacement::currentDisplay(config, global);
    if (layout.kind() == TLLayoutKindScreenNext) {
        chosen = (chosen + 1) % n;
    } else if (layout.kind() == TLLayoutKindScreenPrev) {
        chosen = (chosen + n - 1) % n;
    }
    const TLRect& v = config.displays[chosen].visibleFrame;

    // The frame in global coordinates: left, bottom, right and top edges.
    const double left = double(r.position.x);
    const double bottom = top - double(r.position.y) - double(r.size.height);
    TL_FUZZ_CHECK(r.size.width >= 0 && r.size.height >= 0);
    TL_FUZZ_CHECK(left >= v.minX() && left + double(r.size.width) <= v.maxX());
    TL_FUZZ_CHECK(bottom >= v.minY() && bottom + double(r.size.height) <= v.maxY());
    return 0;
}
