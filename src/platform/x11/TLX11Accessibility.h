#pragma once

#include "TLAccessibility.h"

#include <chrono>
#include <memory>

class TLX11Session;

// The accessibility services on X11, through EWMH over the session's xcb connection.
//
// - Trusted: connected to an X server whose window manager announces itself
//   (_NET_SUPPORTING_WM_CHECK) and supports _NET_ACTIVE_WINDOW. There is no prompt.
// - Frontmost application: the window in _NET_ACTIVE_WINDOW, named after the class part of its
//   WM_CLASS (else the instance part, else the process name of its _NET_WM_PID).
// - Focused window: that window, unless it is a desktop or dock window (success, no window).
// - Main window: the topmost other movable client window of the same process.
// - Position and size: the visible outer frame (client + _NET_FRAME_EXTENTS - _GTK_FRAME_EXTENTS),
//   in accessibility coordinates (top-left of the primary monitor, y down).
// - Writes: _NET_MOVERESIZE_WINDOW (NorthWest gravity, source indication 2), or configure
//   requests where the window manager lacks it. A maximized, fullscreen or shaded window is
//   restored first, waiting for the window manager to confirm.
//
// Speed: isProcessTrusted() reads, in one batched round trip, everything the later steps of a
// layout application need (TLX11Snapshot); those steps use it while no X event says that
// something changed, and read for themselves otherwise. The writes made through a window element
// are merged and sent as one request when the element is released.
//
// Error codes reported in the "AXError" of the mover's message: 0 success; 1-255 the X error
// code of the failing request (3 BadWindow: the window is gone); kConnectionLost when the X
// connection is broken.
class TLX11Accessibility final : public TLAccessibility {
public:
    static constexpr std::int32_t kConnectionLost = -1;

    explicit TLX11Accessibility(std::shared_ptr<TLX11Session> session);

    bool isProcessTrusted() override;
    void requestTrustPrompt() override;
    std::optional<TLRunningApplication> frontmostApplication() override;
    TLAXElementPtr createApplicationElement(const TLRunningApplication& application) override;
    std::int32_t copyWindow(TLAXElement& application, WindowAttribute attribute,
                            TLAXElementPtr* window) override;
    std::int32_t copyPosition(TLAXElement& window, std::optional<TLPoint>* position) override;
    std::int32_t copySize(TLAXElement& window, std::optional<TLSize>* size) override;
    void setPosition(TLAXElement& window, TLPoint position) override;
    void setSize(TLAXElement& window, TLSize size) override;

    // How long a write waits for the window manager to confirm a restore.
    static constexpr std::chrono::milliseconds kRestoreTimeout{1000};

private:
    std::int32_t readFrame(TLAXElement& window);
    void restoreIfNeeded(TLAXElement& window);
    void moveResize(TLAXElement& window, std::optional<TLPoint> position, std::optional<TLSize> size);

    std::shared_ptr<TLX11Session> session_;
};
