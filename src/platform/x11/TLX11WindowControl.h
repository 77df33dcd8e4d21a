#pragma once

#include "TLWindowControl.h"
#include "TLX11DesktopState.h"
#include "TLX11FrameWriter.h"

#include <optional>
#include <utility>

class TLLog;
class TLX11Connection;

// Window control on X11, through EWMH over the program's X connection.
//
// - Trusted: connected, and a window manager that announces itself (_NET_SUPPORTING_WM_CHECK)
//   and supports _NET_ACTIVE_WINDOW. There is no prompt. Kept current from events.
// - Frontmost application: the window in _NET_ACTIVE_WINDOW, named after the class part of its
//   WM_CLASS (else the instance part, else the process name of its _NET_WM_PID); none when that
//   window is gone.
// - Focused window: that window, unless it is a desktop or dock window (success, no window).
//   Main window: the topmost other movable client window of the same process.
// - Frame: the visible outer frame (client + _NET_FRAME_EXTENTS - _GTK_FRAME_EXTENTS); while
//   the window manager has not carried out the last request for the window, the frame that
//   request asked for, so that presses in quick succession build on each other.
// - Displays: the RandR monitors, primary first, with visible areas from _GTK_WORKAREAS_D<n>,
//   else the panels' reservations, else _NET_WORKAREA (TLX11DesktopState).
// - setFrame: TLX11FrameWriter.
//
// A read costs one round trip (two when the active window changed since the last event, or
// when the main window is looked for); what lies outside the active window comes from state
// kept current from events.
//
// Error codes in the mover's "AXError": 0 success; 1-255 the X error code of the failing
// request (3 BadWindow: the window is gone); kConnectionLost when the X connection broke.
class TLX11WindowControl final : public TLWindowControl {
public:
    static constexpr std::int32_t kConnectionLost = -1;

    // log (may be null) hears of windows that stay maximized or fullscreen against a restore.
    explicit TLX11WindowControl(TLX11Connection& connection, const TLLog* log = nullptr);

    bool isTrusted() override;
    void requestTrust() override;
    TLFrontmostWindow readFrontmostWindow() override;
    std::optional<TLPoint> mouseLocation() override;
    // Always true: the window manager does not answer the request.
    bool setFrame(std::uint64_t window, TLIntPoint position, TLIntSize size,
                  QString* failure = nullptr) override;

    // A restore started by setFrame is still waiting for the window manager.
    bool restoring() const { return writer_.restoring(); }

private:
    std::int32_t readMainWindow(xcb_window_t active, std::uint32_t pid, TLFrontmostWindow* front);
    void takeFrame(xcb_window_t window, std::int32_t error, const TLX11WindowFrame& frame,
                   TLFrontmostWindow* front);

    TLX11Connection& connection_;
    TLX11DesktopState desktop_;
    TLX11FrameWriter writer_;
    // The window the last read found and its frame, for the setFrame that follows it.
    std::optional<std::pair<xcb_window_t, TLX11WindowFrame>> lastRead_;
};
