#include "TLX11DesktopState.h"

#include <xcb/randr.h>

#include <optional>
#include <string>
#include <utility>

namespace {

using Cookie = std::optional<xcb_get_property_cookie_t>;

std::uint32_t first(const std::vector<std::uint32_t>& values) {
    return values.empty() ? 0 : values.front();
}

} // namespace

TLX11DesktopState::TLX11DesktopState(TLX11Connection& connection) : connection_(connection) {
    connection_.addListener(*this);
}

TLX11DesktopState::~TLX11DesktopState() {
    connection_.removeListener(*this);
}

bool TLX11DesktopState::supports(TLX11Atom atom) const {
    return connection_.contains(supported_, atom);
}

TLX11Rect TLX11DesktopState::primaryMonitor() const {
    return layout_.monitors.empty() ? TLX11Rect{} : layout_.monitors[layout_.primary];
}

void TLX11DesktopState::update() {
    connection_.dispatchPending();
    refresh();
}

void TLX11DesktopState::eventsHandled() {
    refresh();
}

void TLX11DesktopState::handleEvent(const xcb_generic_event_t& event) {
    const std::uint8_t type = event.response_type & 0x7f;
    const xcb_window_t root = connection_.root();
    if (type == XCB_PROPERTY_NOTIFY) {
        const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(event);
        auto is = [&](TLX11Atom atom) { return p.atom == connection_.atom(atom); };
        if (p.window == root) {
            if (is(TLX11Atom::NetActiveWindow)) {
                stale_ |= Active;
            } else if (is(TLX11Atom::NetSupportingWmCheck)) {
                stale_ |= WmCheck;
            } else if (is(TLX11Atom::NetSupported)) {
                stale_ |= Supported;
            } else if (is(TLX11Atom::NetClientList)) {
                stale_ |= ClientList;
            } else if (is(TLX11Atom::NetCurrentDesktop)) {
                stale_ |= Desktop;
            } else if (is(TLX11Atom::NetWorkarea)) {
                stale_ |= Workarea;
            } else if (const auto gtk = gtkAtoms_.find(desktop_);
                       gtk != gtkAtoms_.end() && p.atom == gtk->second) {
                stale_ |= GtkWorkareas;
            }
        } else if (p.window == wmCheck_ && is(TLX11Atom::NetSupportingWmCheck)) {
            stale_ |= WmAlive;
        } else if ((is(TLX11Atom::NetWmStrutPartial) || is(TLX11Atom::NetWmStrut)) &&
                   struts_.contains(p.window)) {
            staleStruts_.insert(p.window);
        }
    } else if (type == XCB_DESTROY_NOTIFY) {
        const xcb_window_t window = reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window;
        if (window == wmCheck_) {
            // The window manager went away; a new one announces itself on the root window.
            wmAlive_ = false;
            stale_ |= WmCheck;
        }
        if (struts_.erase(window) != 0) {
            staleStruts_.erase(window);
            layoutStale_ = true;
        }
    } else if (type == XCB_CONFIGURE_NOTIFY) {
        if (reinterpret_cast<const xcb_configure_notify_event_t&>(event).window == root) {
            stale_ |= Monitors;
        }
    } else if (const std::uint8_t base = connection_.randrEventBase();
               base != 0 &&
               (type == base + XCB_RANDR_SCREEN_CHANGE_NOTIFY || type == base + XCB_RANDR_NOTIFY)) {
        stale_ |= Monitors;
    }
}

void TLX11DesktopState::refresh() {
    if (!connection_.isConnected()) {
        if (wmAlive_ || !layout_.monitors.empty()) {
            wmAlive_ = false;
            layout_ = {};
        }
        return;
    }
    // A round may find more to read: new clients, a new check window, another desktop.
    for (int round = 0; round < 4 && (stale_ != 0 || !staleStruts_.empty()); ++round) {
        readRound();
    }
    if (layoutStale_) {
        computeLayout();
    }
}

xcb_atom_t TLX11DesktopState::gtkWorkareasAtom() {
    if (const auto it = gtkAtoms_.find(desktop_); it != gtkAtoms_.end()) {
        return it->second;
    }
    const std::string name = "_GTK_WORKAREAS_D" + std::to_string(desktop_);
    const xcb_atom_t atom = tlInternAtoms(connection_.get(), {name}).front();
    gtkAtoms_.emplace(desktop_, atom);
    return atom;
}

void TLX11DesktopState::readRound() {
    const unsigned parts = std::exchange(stale_, 0u);
    const std::set<xcb_window_t> struts = std::exchange(staleStruts_, {});
    TLX11Connection& c = connection_;
    const xcb_window_t root = c.root();
    auto request = [&](Part part, xcb_window_t window, xcb_atom_t atom, std::uint32_t length) -> Cookie {
        if ((parts & part) == 0 || window == XCB_WINDOW_NONE || atom == XCB_ATOM_NONE) {
            return std::nullopt;
        }
        return c.requestProperty(window, atom, length);
    };
    const Cookie active = request(Active, root, c.atom(TLX11Atom::NetActiveWindow), 1);
    const Cookie check = request(WmCheck, root, c.atom(TLX11Atom::NetSupportingWmCheck), 1);
    const Cookie alive = request(WmAlive, wmCheck_, c.atom(TLX11Atom::NetSupportingWmCheck), 1);
    const Cookie supported = request(Supported, root, c.atom(TLX11Atom::NetSupported), 4096);
    const Cookie clients = request(ClientList, root, c.atom(TLX11Atom::NetClientList), 1u << 16);
    const Cookie desktop = request(Desktop, root, c.atom(TLX11Atom::NetCurrentDesktop), 1);
    const Cookie workarea = request(Workarea, root, c.atom(TLX11Atom::NetWorkarea), 4096);
    const Cookie gtk =
        (parts & GtkWorkareas) != 0 ? request(GtkWorkareas, root, gtkWorkareasAtom(), 4096) : std::nullopt;
    std::optional<xcb_randr_get_monitors_cookie_t> monitors;
    std::optional<xcb_get_geometry_cookie_t> geometry;
    if ((parts & Monitors) != 0) {
        if (c.randrEventBase() != 0) {
            monitors = xcb_randr_get_monitors(c.get(), root, 1);
        }
        geometry = xcb_get_geometry(c.get(), root);
    }
    std::vector<std::pair<xcb_window_t, std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>>>
        strutCookies;
    strutCookies.reserve(struts.size());
    for (xcb_window_t w : struts) {
        strutCookies.push_back({w,
                                {c.requestProperty(w, TLX11Atom::NetWmStrutPartial, 12),
                                 c.requestProperty(w, TLX11Atom::NetWmStrut, 4)}});
    }

    auto values = [&](const Cookie& cookie) { return TLX11Connection::values32(c.property(*cookie).get()); };
    if (active) {
        active_ = first(values(active));
    }
    if (check) {
        wmCheck_ = first(values(check));
        wmAlive_ = false;
        if (wmCheck_ != XCB_WINDOW_NONE) {
            // Its DestroyNotify tells that the window manager went away.
            c.watchWindow(wmCheck_);
            stale_ |= WmAlive;
        }
    }
    if (alive) {
        // A window manager that died leaves the root property behind, but not its check window.
        wmAlive_ = first(values(alive)) == wmCheck_;
    }
    if (supported) {
        supported_ = values(supported);
    }
    if (clients) {
        const auto reply = c.property(*clients);
        hasClientList_ = reply && reply->type != XCB_ATOM_NONE;
        std::map<xcb_window_t, std::vector<std::uint32_t>> kept;
        for (std::uint32_t w : TLX11Connection::values32(reply.get())) {
            if (auto it = struts_.find(w); it != struts_.end()) {
                kept.insert(struts_.extract(it));
            } else {
                // Watched before its reservation is read: no change can fall in between.
                c.watchWindow(w);
                kept.emplace(w, std::vector<std::uint32_t>{});
                staleStruts_.insert(w);
            }
        }
        struts_ = std::move(kept);
        layoutStale_ = true;
    }
    if (desktop) {
        const std::uint32_t now = first(values(desktop));
        if (now != desktop_) {
            desktop_ = now;
            stale_ |= GtkWorkareas;
        }
        layoutStale_ = true;
    }
    if (workarea) {
        workarea_ = values(workarea);
        layoutStale_ = true;
    }
    if ((parts & GtkWorkareas) != 0) {
        gtkWorkareas_ = gtk ? values(gtk) : std::vector<std::uint32_t>{};
        layoutStale_ = true;
    }
    if (geometry) {
        TLXcbReply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(c.get(), *geometry, nullptr));
        root_ = g ? TLX11Rect{0, 0, g->width, g->height} : TLX11Rect{};
        monitors_.clear();
        primary_ = 0;
        if (monitors) {
            TLXcbReply<xcb_randr_get_monitors_reply_t> reply(
                xcb_randr_get_monitors_reply(c.get(), *monitors, nullptr));
            for (auto it = reply ? xcb_randr_get_monitors_monitors_iterator(reply.get())
                                 : xcb_randr_monitor_info_iterator_t{};
                 it.rem; xcb_randr_monitor_info_next(&it)) {
                if (it.data->width == 0 || it.data->height == 0) {
                    continue;
                }
                if (it.data->primary) {
                    primary_ = monitors_.size();
                }
                monitors_.push_back({it.data->x, it.data->y, it.data->width, it.data->height});
            }
        }
        if (monitors_.empty() && !root_.isEmpty()) {
            monitors_.push_back(root_); // no RandR monitors: the whole screen
        }
        layoutStale_ = true;
    }
    for (const auto& [window, cookies] : strutCookies) {
        // A window that vanished since the list was read answers with an error: no strut.
        std::vector<std::uint32_t> partial = TLX11Connection::values32(c.property(cookies.first).get());
        std::vector<std::uint32_t> plain = TLX11Connection::values32(c.property(cookies.second).get());
        if (auto it = struts_.find(window); it != struts_.end()) {
            it->second = partial.size() >= 12 ? std::move(partial) : std::move(plain);
            layoutStale_ = true;
        }
    }
}

void TLX11DesktopState::computeLayout() {
    layoutStale_ = false;
    layout_ = {};
    if (monitors_.empty()) {
        return;
    }
    TLVisibleFrames::Input input;
    input.root = root_;
    input.monitors = monitors_;
    if (gtkWorkareas_.size() >= 4) {
        input.gtkWorkareas.emplace();
        for (std::size_t i = 0; i + 3 < gtkWorkareas_.size(); i += 4) {
            input.gtkWorkareas->push_back(
                {gtkWorkareas_[i], gtkWorkareas_[i + 1], gtkWorkareas_[i + 2], gtkWorkareas_[i + 3]});
        }
    }
    if (hasClientList_) {
        input.struts.emplace();
        for (const auto& [window, strut] : struts_) {
            input.struts->push_back(strut);
        }
    }
    const std::size_t at = 4 * static_cast<std::size_t>(desktop_);
    if (workarea_.size() >= at + 4) {
        input.workarea = TLX11Rect{workarea_[at], workarea_[at + 1], workarea_[at + 2], workarea_[at + 3]};
    }
    layout_.monitors = monitors_;
    layout_.visible = TLVisibleFrames::compute(input);
    layout_.primary = primary_;
}
