#pragma once

#include "TLGeometry.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

// What one read of the frontmost window found. Each part is only looked at when the one before
// it was found: the application, then its window, then the window's frame. The displays come
// with the same read.
struct TLFrontmostWindow {
    bool hasApplication = false;
    std::optional<QString> applicationName; // absent when the application has none
    // The application's focused window, else its main window (a focused window that cannot be
    // moved, such as the desktop, counts as none). windowError is the code of the last of the
    // two queries (0 = success); the focused query's own code is never reported.
    std::optional<std::uint64_t> window;
    std::int32_t windowError = 0;
    // The window's frame in window coordinates (top-left of the primary display, y down);
    // absent when it cannot be read.
    std::optional<TLRect> frame;
    // Global coordinates (bottom-left of the primary display, y up), primary first.
    std::vector<TLDisplay> displays;
    std::optional<std::size_t> mainDisplay; // index into displays, the one with the key window
};

// Window control as a window system offers it: whether this program may move other programs'
// windows, one read of the frontmost window, and one request for a new frame. Implemented by
// the platform backends; no state of its own is expected to outlive a call, except what the
// backend keeps current from the window system's events.
class TLWindowControl {
public:
    virtual ~TLWindowControl() = default;

    // Asked anew on every call.
    virtual bool isTrusted() = 0;
    // Side effect only: asks the system to prompt for access where it has such a prompt.
    virtual void requestTrust() = 0;

    virtual TLFrontmostWindow readFrontmostWindow() = 0;
    // Global coordinates; asked only when a window lies on no display.
    virtual std::optional<TLPoint> mouseLocation() = 0;

    // Asks for the window (as the last read returned it) to get this visible frame, in window
    // coordinates. How it is written is the backend's business: one request where the window
    // system takes a whole frame; position, size and position again where it takes them one by
    // one. A maximized window is restored first. Whether the window complies is not reported;
    // false (with the window system's reason) only when the window system refused the request.
    virtual bool setFrame(std::uint64_t window, TLIntPoint position, TLIntSize size,
                          QString* failure = nullptr) = 0;
};
