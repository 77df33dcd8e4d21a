#pragma once

#include "TLGeometry.h"

#include <cstddef>
#include <optional>
#include <vector>

// The display configuration as the placement needs it, in global coordinates (origin at the
// bottom left of the primary display, y up). Read afresh on every call.
class TLDisplays {
public:
    virtual ~TLDisplays() = default;

    // Primary display first.
    virtual std::vector<TLDisplay> displays() = 0;
    // Index into displays() of the display holding the key window; absent when unknown.
    virtual std::optional<std::size_t> mainDisplay() = 0;
    virtual std::optional<TLPoint> mouseLocation() = 0;
};
