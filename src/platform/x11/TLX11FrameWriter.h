#pragma once

#include "TLGeometry.h"
#include "TLX11Connection.h"
#include "TLX11WindowFrame.h"

#include <QTimer>

#include <chrono>
#include <optional>

class TLLog;
class TLX11DesktopState;

// Writes a window's frame: one _NET_MOVERESIZE_WINDOW (NorthWest gravity, source indication
// 2), or a configure request where the window manager lacks it. A window with size limits gets
// the nearest frame it can take: a larger one against the requested frame's far edges (never
// past the visible area's near ones), a smaller one centred in it.
//
// A maximized, fullscreen or shaded window is restored first, without blocking: fullscreen
// first, then maximize (again, should it come back). The frame is written once the window
// manager confirms: the state no longer holds and, where leaving it changes the window's size,
// a configure of another size and new frame extents have arrived, else after a short grace
// (window managers that keep their extents, a restored frame equal to the old one). At the
// restore's deadline it is written anyway, with a log line when the window stayed restricted.
// A newer frame for the same window changes the target of a restore in progress; one for
// another window supersedes it.
class TLX11FrameWriter final : public TLX11Connection::Listener {
public:
    static constexpr std::chrono::milliseconds kRestoreTimeout{1000};
    static constexpr std::chrono::milliseconds kExtentsGrace{100};
    // Requests for one window kept while none is carried out (a window manager that changes
    // every frame it is asked for may never confirm one).
    static constexpr std::size_t kMaxRequestsInFlight = 16;
    static constexpr const char* kStillRestrictedLine =
        "Tilora: Der Fenstermanager hat Vollbild oder Maximierung nicht aufgehoben; das Fenster "
        "wurde trotzdem gesetzt.";

    // log may be null.
    TLX11FrameWriter(TLX11Connection& connection, TLX11DesktopState& desktop, const TLLog* log);
    ~TLX11FrameWriter() override;
    TLX11FrameWriter(const TLX11FrameWriter&) = delete;
    TLX11FrameWriter& operator=(const TLX11FrameWriter&) = delete;

    // position and size place the visible frame, in window coordinates; current is what the
    // window's frame was read as.
    void setFrame(xcb_window_t window, const TLX11WindowFrame& current, TLIntPoint position, TLIntSize size);
    // A restore is waiting for the window manager.
    bool restoring() const { return restore_.has_value(); }
    // The visible frame (root coordinates) the last request for the window asked for, while the
    // window manager has not carried it out yet: a press that follows closely starts from there.
    std::optional<TLX11Rect> pendingFrame(xcb_window_t window) const;

    void handleEvent(const xcb_generic_event_t& event) override;

private:
    struct Restore {
        xcb_window_t window = XCB_WINDOW_NONE;
        TLX11WindowFrame before;
        TLIntPoint position;
        TLIntSize size;
        bool maximizeRemovedAgain = false;
        bool stateCleared = false;
        // The window's client size and frame extents when the restore began: a configure or
        // extents that differ confirm it.
        std::array<std::int64_t, 2> clientSize{};
        std::array<std::uint32_t, 4> extents{};
        bool configured = false;
        bool extentsChanged = false;
        bool graceStarted = false;
    };
    // Requests for one window that the window manager has not carried out yet, oldest first.
    struct Request {
        TLX11Rect frame;  // visible frame, root coordinates
        TLX11Rect client; // client window, root coordinates
    };
    struct Flight {
        xcb_window_t window = XCB_WINDOW_NONE;
        std::vector<Request> requests;
        std::chrono::steady_clock::time_point sent;
        // The last request ends a restore: written again should the frame extents it was
        // computed with turn out to be a passing state's.
        std::optional<std::pair<TLIntPoint, TLIntSize>> recheck;
        std::array<std::uint32_t, 4> extents{};
    };

    void sendRemoval(xcb_window_t window, TLX11Atom first, std::optional<TLX11Atom> second = std::nullopt);
    void write(xcb_window_t window, const TLX11WindowFrame& frame, TLIntPoint position, TLIntSize size,
               bool recheck = false);
    void landed(const xcb_configure_notify_event_t& event);
    void progress();
    void finishRestore();

    TLX11Connection& connection_;
    TLX11DesktopState& desktop_;
    const TLLog* log_;
    std::optional<Restore> restore_;
    std::optional<Flight> flight_;
    QTimer deadline_;
    QTimer grace_;
};
