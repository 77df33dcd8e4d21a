#pragma once

#include "TLGeometry.h"

#include <QJsonObject>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// A rectangle in sway's layout coordinates (logical pixels, origin top-left, y down).
using TLSwayRect = TLIntRect;

// What one GET_TREE reply says about the desktop: the active outputs with the area their
// current workspace leaves free (bars and other reserved zones excluded), and the focused
// container. Pure: parsed from the reply alone.
//
// Coordinates: sway lays outputs out in one top-left, y-down space of logical pixels (scaled
// outputs already divided). The anchor output, which Tilora treats as its primary display and
// lists first, is the one at the layout's origin, else the first active output. Displays are
// turned into global coordinates (bottom-left of the anchor, y up) and windows into window
// coordinates (top-left of the anchor, y down); both are whole-number shifts, exact both ways.
struct TLSwayTree {
    struct Output {
        QString name;
        TLSwayRect rect;
        TLSwayRect visible;
    };
    struct Container {
        std::int64_t id = 0;
        bool isView = false;                    // a window, not a split container holding several
        std::optional<QString> applicationName; // app_id (Wayland) or the window class (XWayland)
        std::int64_t pid = 0;
        TLSwayRect frame; // outer: border and title bar included
        bool floating = false;
        bool fullscreen = false;
    };

    std::vector<Output> outputs; // anchor first, then sway's order
    std::optional<std::size_t> focusedOutput;
    std::optional<Container> focused; // absent when a workspace (or nothing) has the focus

    static TLSwayTree parse(const QJsonObject& root);

    std::vector<TLDisplay> displays() const;
    TLRect toWindowCoordinates(const TLSwayRect& layout) const;
    // A position in window coordinates as a layout position.
    TLIntPoint toLayout(TLIntPoint window) const;

private:
    TLSwayRect anchor() const { return outputs.empty() ? TLSwayRect{} : outputs.front().rect; }
};
