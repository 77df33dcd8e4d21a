#pragma once

#include "TLGeometry.h"
#include "TLX11Connection.h"
#include "TLX11WindowFrame.h"

#include <QTimer>

#include <chrono>
#include <optional>

class TLX11DesktopState;

// Writes a window's frame: one _NET_MOVERESIZE_WINDOW (NorthWest gravity, source indication
// 2), or a configure request where the window manager lacks it. A maximized, fullscreen or
// shaded window is restored first, without blocking: the frame is written once the window
// manager confirms the restore (the state no longer holds and, where the restore changes the
// window's size, its configure has arrived), after a short grace for new frame extents, or
// at the restore's deadline. A newer frame for any window supersedes a restore in progress.
class TLX11FrameWriter final : public TLX11Connection::Listener {
public:
    static constexpr std::chrono::milliseconds kRestoreTimeout{1000};
    static constexpr std::chrono::milliseconds kExtentsGrace{100};

    TLX11FrameWriter(TLX11Connection& connection, TLX11DesktopState& desktop);
    ~TLX11FrameWriter() override;
    TLX11FrameWriter(const TLX11FrameWriter&) = delete;
    TLX11FrameWriter& operator=(const TLX11FrameWriter&) = delete;

    // position and size place the visible frame, in window coordinates; current is what the
    // window's frame was read as.
    void setFrame(xcb_window_t window, const TLX11WindowFrame& current, TLIntPoint position, TLIntSize size);
    // A restore is waiting for the window manager.
    bool restoring() const { return restore_.has_value(); }

    void handleEvent(const xcb_generic_event_t& event) override;

private:
    struct Restore {
        xcb_window_t window = XCB_WINDOW_NONE;
        TLX11WindowFrame before;
        TLIntPoint position;
        TLIntSize size;
        bool stateCleared = false;
        bool configured = false;
        bool extentsChanged = false;
        bool graceStarted = false;
    };

    void write(xcb_window_t window, const TLX11WindowFrame& frame, TLIntPoint position, TLIntSize size);
    void progress();
    void finishRestore();

    TLX11Connection& connection_;
    TLX11DesktopState& desktop_;
    std::optional<Restore> restore_;
    QTimer deadline_;
    QTimer grace_;
};
