#pragma once

#include "TLVisibleFrames.h"
#include "TLXcb.h"

#include <xcb/randr.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QSocketNotifier;
class TLX11Snapshot;

// The window-control backends' own xcb connection (independent of Qt's platform plugin), with
// the atoms they use interned once in one batch. Events on it are drained by a socket
// notifier when a Qt application object exists, and read directly while a backend waits for
// the window manager.
class TLX11Session {
public:
    enum Atom {
        NetSupported,
        NetSupportingWmCheck,
        NetActiveWindow,
        NetClientList,
        NetClientListStacking,
        NetCurrentDesktop,
        NetWorkarea,
        NetWmWindowType,
        NetWmWindowTypeDesktop,
        NetWmWindowTypeDock,
        NetWmState,
        NetWmStateMaximizedVert,
        NetWmStateMaximizedHorz,
        NetWmStateFullscreen,
        NetWmStateShaded,
        NetFrameExtents,
        GtkFrameExtents,
        NetMoveresizeWindow,
        NetWmPid,
        NetWmStrut,
        NetWmStrutPartial,
        AtomCount
    };

    // nullptr when no X server can be reached; displayName nullptr means $DISPLAY.
    static std::shared_ptr<TLX11Session> open(const char* displayName = nullptr);
    ~TLX11Session();
    TLX11Session(const TLX11Session&) = delete;
    TLX11Session& operator=(const TLX11Session&) = delete;

    xcb_connection_t* connection() const { return connection_.get(); }
    xcb_window_t root() const { return root_; }
    xcb_atom_t atom(Atom a) const { return atoms_[a]; }
    bool isConnected() const;

    // _GTK_WORKAREAS_D<desktop>, interned once.
    xcb_atom_t gtkWorkareasAtom(std::uint32_t desktop);

    // The root properties that say which windows to read: kept current from PropertyNotify
    // events on the root window (and the check window's DestroyNotify), read again only after
    // one of them changed. With a Qt event loop the re-read happens there, off the hot path.
    struct RootMirror {
        xcb_window_t active = XCB_WINDOW_NONE;
        xcb_window_t check = XCB_WINDOW_NONE; // _NET_SUPPORTING_WM_CHECK
        bool hasClientList = false;
        std::vector<std::uint32_t> clients;
        std::uint32_t desktop = 0;
    };
    const RootMirror& rootMirror();

    // The state one layout application reads, fetched anew by fetchSnapshot() (one round
    // trip, two when the root mirror is out of date). snapshot() hands it out again only while
    // it is young and no event on the root window or the watched active window has arrived
    // since; else nullptr.
    const TLX11Snapshot& fetchSnapshot();
    const TLX11Snapshot* snapshot();
    void invalidateSnapshot();
    // Selects the events that retire a snapshot on this window (structure and properties).
    void watchWindow(xcb_window_t window);
    static constexpr std::chrono::milliseconds kSnapshotLifetime{50};

    xcb_get_property_cookie_t requestProperty(xcb_window_t window, xcb_atom_t property,
                                              std::uint32_t longLength = 1024);
    // The 32-bit values of a property reply; empty when absent, of another format or on error.
    static std::vector<std::uint32_t> values32(const xcb_get_property_reply_t* reply);
    // Whether a list of atoms (a property's values) holds atom; never for XCB_ATOM_NONE.
    static bool contains(const std::vector<std::uint32_t>& values, xcb_atom_t atom);
    // An EWMH client message about window, sent to the root window for the window manager.
    void sendToWindowManager(xcb_window_t window, Atom type, const std::array<std::uint32_t, 5>& data);

    struct Monitors {
        std::vector<xcb_randr_monitor_info_t> list; // server order
        std::size_t primary = 0;                    // index into list
    };
    xcb_randr_get_monitors_cookie_t requestMonitors();
    // The RandR monitors; the whole screen as one monitor where RandR reports none.
    Monitors monitors(xcb_randr_get_monitors_cookie_t cookie, const xcb_get_geometry_reply_t* rootGeometry);
    static TLX11Rect rectOf(const xcb_randr_monitor_info_t& monitor);

    // Reads events until accept() returns true (true) or the deadline passes (false). Other
    // events and errors of unchecked requests are dropped; the snapshot is retired.
    bool waitForEvent(const std::function<bool(const xcb_generic_event_t&)>& accept,
                      std::chrono::milliseconds timeout);
    void drainEvents();

private:
    TLX11Session();

    TLXcbConnection connection_;
    xcb_window_t root_ = XCB_WINDOW_NONE;
    std::array<xcb_atom_t, AtomCount> atoms_{};
    std::vector<std::pair<std::uint32_t, xcb_atom_t>> gtkWorkareaAtoms_;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::unique_ptr<TLX11Snapshot> snapshot_;
    RootMirror mirror_;
    bool mirrorValid_ = false;
};
