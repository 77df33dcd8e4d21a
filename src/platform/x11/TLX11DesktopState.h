#pragma once

#include "TLVisibleFrames.h"
#include "TLX11Connection.h"

#include <cstdint>
#include <map>
#include <set>
#include <vector>

// What window control must know between two presses, kept current from the X server's
// events: the window manager and what it supports, the active window, the RandR monitors and
// the panel reservations of every client. An event marks a part stale; refresh() re-reads the
// stale parts only, in one batch, so a placement costs the same with 5 or 500 windows open.
class TLX11DesktopState final : public TLX11Connection::Listener {
public:
    // Monitors and their visible areas in root coordinates.
    struct Layout {
        std::vector<TLX11Rect> monitors; // server order
        std::vector<TLX11Rect> visible;
        std::size_t primary = 0;
    };

    explicit TLX11DesktopState(TLX11Connection& connection);
    ~TLX11DesktopState() override;
    TLX11DesktopState(const TLX11DesktopState&) = delete;
    TLX11DesktopState& operator=(const TLX11DesktopState&) = delete;

    // Takes in the events that have arrived and re-reads what they made stale.
    void update();

    // An EWMH window manager whose check window is alive.
    bool hasWindowManager() const { return wmAlive_; }
    bool supports(TLX11Atom atom) const;
    xcb_window_t activeWindow() const { return active_; }
    // A read that found another active window than the last event said.
    void setActiveWindow(xcb_window_t window) { active_ = window; }
    // Empty without monitors (a broken connection).
    const Layout& layout() const { return layout_; }
    TLX11Rect primaryMonitor() const;

    void handleEvent(const xcb_generic_event_t& event) override;
    void eventsHandled() override;

private:
    enum Part : unsigned {
        Active = 1u << 0,
        WmCheck = 1u << 1,
        WmAlive = 1u << 2,
        Supported = 1u << 3,
        ClientList = 1u << 4,
        Desktop = 1u << 5,
        Workarea = 1u << 6,
        GtkWorkareas = 1u << 7,
        Monitors = 1u << 8,
        Everything = (1u << 9) - 1,
    };

    void refresh();
    void readRound();
    xcb_atom_t gtkWorkareasAtom();
    void computeLayout();

    TLX11Connection& connection_;
    unsigned stale_ = Everything;
    std::set<xcb_window_t> staleStruts_;
    bool layoutStale_ = true;

    xcb_window_t active_ = XCB_WINDOW_NONE;
    xcb_window_t wmCheck_ = XCB_WINDOW_NONE;
    bool wmAlive_ = false;
    std::vector<std::uint32_t> supported_;
    bool hasClientList_ = false;
    // Every client of _NET_CLIENT_LIST with its _NET_WM_STRUT_PARTIAL (12 values), else its
    // _NET_WM_STRUT (4 values), else nothing.
    std::map<xcb_window_t, std::vector<std::uint32_t>> struts_;
    std::uint32_t desktop_ = 0;
    std::vector<std::uint32_t> workarea_;
    std::map<std::uint32_t, xcb_atom_t> gtkAtoms_; // _GTK_WORKAREAS_D<n> by desktop
    std::vector<std::uint32_t> gtkWorkareas_;
    std::vector<TLX11Rect> monitors_;
    std::size_t primary_ = 0;
    TLX11Rect root_;
    Layout layout_;
};
