#pragma once

#include "TLVisibleFrames.h"
#include "TLX11Session.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A window's visible outer frame and what the writes need to place it.
struct TLX11WindowFrame {
    TLX11Rect outer;                       // visible outer frame, root coordinates
    std::array<std::uint32_t, 4> frame{};  // _NET_FRAME_EXTENTS: left, right, top, bottom
    std::array<std::uint32_t, 4> shadow{}; // _GTK_FRAME_EXTENTS
    TLX11Rect primary;                     // the primary monitor, anchor of the coordinates
    bool maximized = false;
    bool fullscreen = false;
    bool shaded = false;
    bool moveresize = false; // the window manager supports _NET_MOVERESIZE_WINDOW
};

// Monitors and their visible areas in root coordinates.
struct TLX11RootLayout {
    std::vector<TLX11Rect> monitors;
    std::vector<TLX11Rect> visible;
    std::size_t primary = 0;
};

// Everything one layout application reads, fetched in two batched round trips: the root
// window's state and the monitors, then the active window's properties and frame together with
// the panels' reservations. The session keeps it only while no event says anything changed.
class TLX11Snapshot {
public:
    static TLX11Snapshot fetch(TLX11Session& session);

    // Single reads, each one round trip.
    static std::int32_t readFrame(TLX11Session& session, xcb_window_t window, TLX11WindowFrame* frame);
    static std::optional<TLX11RootLayout> readRootLayout(TLX11Session& session);

    std::chrono::steady_clock::time_point takenAt;
    bool trusted = false;
    xcb_window_t active = XCB_WINDOW_NONE;
    // The active window's reads: 0, or the X error code of the property reads / frame reads.
    std::int32_t activeError = 0;
    std::string wmClass; // raw "instance\0class\0"
    std::uint32_t pid = 0;
    std::vector<std::uint32_t> windowTypes;
    std::int32_t frameError = 0;
    std::optional<TLX11WindowFrame> frame;
    std::optional<TLX11RootLayout> layout;
};
