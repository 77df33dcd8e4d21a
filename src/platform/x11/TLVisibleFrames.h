#pragma once

#include "TLGeometry.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// A rectangle in X root-window coordinates, in pixels.
using TLX11Rect = TLIntRect;

// The pure part of the X11 display backend: each monitor's visible area from what the window
// manager and the panels publish, and the conversion into global display coordinates.
class TLVisibleFrames {
public:
    struct Input {
        TLX11Rect root;                  // the whole X screen
        std::vector<TLX11Rect> monitors; // RandR monitors
        // _GTK_WORKAREAS_D<n> of the current desktop, where the window manager publishes it.
        std::optional<std::vector<TLX11Rect>> gtkWorkareas;
        // One entry per window of _NET_CLIENT_LIST: its _NET_WM_STRUT_PARTIAL (12 values), else its
        // _NET_WM_STRUT (4 values), else empty. Absent when there is no client list.
        std::optional<std::vector<std::vector<std::uint32_t>>> struts;
        // _NET_WORKAREA of the current desktop: one rectangle for the whole screen.
        std::optional<TLX11Rect> workarea;
    };

    // One visible rectangle per monitor, in the order of Input::monitors.
    static std::vector<TLX11Rect> compute(const Input& input);

    // Displays in global coordinates (origin bottom-left of the primary monitor, y up), the
    // primary monitor first and the others in their given order.
    static std::vector<TLDisplay> toDisplays(const std::vector<TLX11Rect>& monitors,
                                             const std::vector<TLX11Rect>& visible, std::size_t primary);

    // Accessibility coordinates: origin top-left of the primary monitor, y down.
    static TLPoint toAccessibility(std::int64_t rootX, std::int64_t rootY, const TLX11Rect& primary);

private:
    static TLX11Rect cutByStruts(const TLX11Rect& monitor, const TLX11Rect& root,
                                 const std::vector<std::vector<std::uint32_t>>& struts);
};
