#pragma once

#include "TLVisibleFrames.h"

#include <xcb/xcb.h>

#include <array>
#include <cstdint>

class TLX11Connection;

// A window's visible outer frame and what a write needs to place it: client geometry plus the
// window manager's frame, less the invisible shadow of client-side decorations.
struct TLX11WindowFrame {
    TLX11Rect outer;                       // visible outer frame, root coordinates
    std::array<std::uint32_t, 4> frame{};  // _NET_FRAME_EXTENTS: left, right, top, bottom
    std::array<std::uint32_t, 4> shadow{}; // _GTK_FRAME_EXTENTS
    // The client's size limits from WM_NORMAL_HINTS, width and height; 0 where it sets none.
    std::array<std::uint32_t, 2> minSize{}, maxSize{};
    bool maximized = false;
    bool fullscreen = false;
    bool shaded = false;

    bool restricted() const { return maximized || fullscreen || shaded; }
};

// The requests that read one window's frame, sent together; collect() reads their replies.
class TLX11FrameRequest {
public:
    TLX11FrameRequest(const TLX11Connection& connection, xcb_window_t window);
    // 0, or the X error code of the failed geometry read (3 BadWindow: the window is gone);
    // -1 when the connection broke.
    std::int32_t collect(const TLX11Connection& connection, TLX11WindowFrame* frame) const;

private:
    xcb_get_geometry_cookie_t geometry_;
    xcb_translate_coordinates_cookie_t origin_;
    xcb_get_property_cookie_t extents_, shadow_, state_, hints_;
};
