#pragma once

#include "TLGeometry.h"
#include "TLLayout.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The display configuration one placement sees. The main display and the mouse location
// are only needed by the fallbacks for a window that lies on no display, so they are
// asked for lazily; either callback may be empty.
struct TLDisplayConfiguration {
    std::vector<TLDisplay> displays;                         // system order, primary first
    std::function<std::optional<std::size_t>()> mainDisplay; // index into displays
    std::function<std::optional<TLPoint>()> mouseLocation;   // global coordinates
};

struct TLPlacementResult {
    bool ok = false;
    TLIntPoint position; // accessibility coordinates (origin top-left of the primary display, y down)
    TLIntSize size;
    std::string failure; // set when !ok
};

// The pure computation of a window's target frame for a layout.
class TLPlacement {
public:
    static constexpr const char* kSingleDisplayFailure = "Nur ein Bildschirm angeschlossen.";
    static constexpr const char* kNoDisplayFailure = "Kein Bildschirm gefunden.";

    // position is the window's top-left corner in accessibility coordinates.
    static TLPlacementResult place(const TLDisplayConfiguration& config, TLPoint position, TLSize size,
                                   std::int64_t kind, const TLFrac& frac);

    // The display the window (in global coordinates) counts as lying on: largest overlap of
    // full frames (ties to the earlier display), else the display under the mouse, else the
    // main display, else the first. Absent only for an empty display list.
    static std::optional<std::size_t> currentDisplay(const TLDisplayConfiguration& config,
                                                     const TLRect& window);

    // Nearest whole number, halves away from zero. Values that are not finite give 0.
    static std::int64_t nearest(double value);

    // The mirror axis between the two coordinate systems: top edge of the first display.
    static double primaryTop(const std::vector<TLDisplay>& displays);
};
