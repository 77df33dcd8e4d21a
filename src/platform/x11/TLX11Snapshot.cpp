#include "TLX11Snapshot.h"

#include <algorithm>

namespace {

using Reply = TLXcbReply<xcb_get_property_reply_t>;
using S = TLX11Session;

Reply property(xcb_connection_t* c, xcb_get_property_cookie_t cookie, std::int32_t* error = nullptr) {
    xcb_generic_error_t* e = nullptr;
    Reply reply(xcb_get_property_reply(c, cookie, &e));
    TLXcbError owner(e);
    if (error && e) {
        *error = e->error_code;
    }
    return reply;
}

bool contains(const std::vector<std::uint32_t>& v, xcb_atom_t a) {
    return a != XCB_ATOM_NONE && std::find(v.begin(), v.end(), a) != v.end();
}

std::array<std::uint32_t, 4> four(const std::vector<std::uint32_t>& v) {
    std::array<std::uint32_t, 4> a{};
    if (v.size() >= 4) {
        std::copy_n(v.begin(), 4, a.begin());
    }
    return a;
}

TLX11Rect rectOf(const xcb_randr_monitor_info_t& m) {
    return {m.x, m.y, m.width, m.height};
}

// The requests of the root window's state: sent together, read together.
struct RootRequest {
    xcb_randr_get_monitors_cookie_t monitors;
    xcb_get_geometry_cookie_t geometry;
    xcb_get_property_cookie_t clients, workarea, desktop, check, supported, active;

    explicit RootRequest(S& s) {
        xcb_connection_t* c = s.connection();
        const xcb_window_t root = s.root();
        monitors = s.requestMonitors();
        geometry = xcb_get_geometry(c, root);
        clients = s.requestProperty(root, s.atom(S::NetClientList), 4096);
        workarea = s.requestProperty(root, s.atom(S::NetWorkarea));
        desktop = s.requestProperty(root, s.atom(S::NetCurrentDesktop), 1);
        check = s.requestProperty(root, s.atom(S::NetSupportingWmCheck), 1);
        supported = s.requestProperty(root, s.atom(S::NetSupported), 4096);
        active = s.requestProperty(root, s.atom(S::NetActiveWindow), 1);
    }
};

struct RootState {
    TLXcbReply<xcb_get_geometry_reply_t> geometry;
    S::Monitors monitors;
    bool hasClientList = false;
    std::vector<std::uint32_t> clients, workarea, check, supported, active;
    std::uint32_t desktop = 0;

    RootState(S& s, RootRequest& r) {
        xcb_connection_t* c = s.connection();
        geometry.reset(xcb_get_geometry_reply(c, r.geometry, nullptr));
        monitors = s.monitors(r.monitors, geometry.get());
        Reply clientsReply = property(c, r.clients);
        hasClientList = clientsReply && clientsReply->type != XCB_ATOM_NONE;
        clients = S::values32(clientsReply.get());
        workarea = S::values32(property(c, r.workarea).get());
        const std::vector<std::uint32_t> d = S::values32(property(c, r.desktop).get());
        desktop = d.empty() ? 0 : d[0];
        check = S::values32(property(c, r.check).get());
        supported = S::values32(property(c, r.supported).get());
        active = S::values32(property(c, r.active).get());
    }
};

// The panels' reservations and the published work areas, once the client list is known.
struct StrutRequest {
    std::optional<xcb_get_property_cookie_t> gtk;
    std::vector<std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>> struts;

    StrutRequest(S& s, const RootState& root) {
        const xcb_atom_t gtkAtom = s.gtkWorkareasAtom(root.desktop);
        if (gtkAtom != XCB_ATOM_NONE) {
            gtk = s.requestProperty(s.root(), gtkAtom);
        }
        if (root.hasClientList) {
            for (std::uint32_t w : root.clients) {
                struts.emplace_back(s.requestProperty(w, s.atom(S::NetWmStrutPartial), 12),
                                    s.requestProperty(w, s.atom(S::NetWmStrut), 4));
            }
        }
    }
};

std::optional<TLX11RootLayout> collectLayout(S& s, const RootState& root, StrutRequest& r) {
    xcb_connection_t* c = s.connection();
    TLVisibleFrames::Input input;
    std::optional<TLX11RootLayout> none;
    if (r.gtk) {
        const std::vector<std::uint32_t> v = S::values32(property(c, *r.gtk).get());
        if (v.size() >= 4) {
            input.gtkWorkareas.emplace();
            for (std::size_t i = 0; i + 3 < v.size(); i += 4) {
                input.gtkWorkareas->push_back({v[i], v[i + 1], v[i + 2], v[i + 3]});
            }
        }
    }
    if (root.hasClientList) {
        input.struts.emplace();
        for (auto [partialCookie, plainCookie] : r.struts) {
            // A window that vanished since the list was read answers with an error: no strut.
            std::vector<std::uint32_t> strut = S::values32(property(c, partialCookie).get());
            std::vector<std::uint32_t> plain = S::values32(property(c, plainCookie).get());
            input.struts->push_back(strut.size() >= 12 ? std::move(strut) : std::move(plain));
        }
    }
    if (!root.geometry || root.monitors.list.empty()) {
        return none;
    }
    input.root = {0, 0, root.geometry->width, root.geometry->height};
    for (const auto& m : root.monitors.list) {
        input.monitors.push_back(rectOf(m));
    }
    const std::size_t at = 4 * static_cast<std::size_t>(root.desktop);
    if (root.workarea.size() >= at + 4) {
        input.workarea =
            TLX11Rect{root.workarea[at], root.workarea[at + 1], root.workarea[at + 2], root.workarea[at + 3]};
    }
    TLX11RootLayout layout;
    layout.monitors = input.monitors;
    layout.visible = TLVisibleFrames::compute(input);
    layout.primary = root.monitors.primary;
    return layout;
}

struct FrameRequest {
    xcb_get_geometry_cookie_t geometry;
    xcb_translate_coordinates_cookie_t origin;
    xcb_get_property_cookie_t extents, shadow, state;

    FrameRequest(S& s, xcb_window_t w) {
        xcb_connection_t* c = s.connection();
        geometry = xcb_get_geometry(c, w);
        origin = xcb_translate_coordinates(c, w, s.root(), 0, 0);
        extents = s.requestProperty(w, s.atom(S::NetFrameExtents), 4);
        shadow = s.requestProperty(w, s.atom(S::GtkFrameExtents), 4);
        state = s.requestProperty(w, s.atom(S::NetWmState), 32);
    }
};

std::int32_t collectFrame(S& s, FrameRequest& r, const RootState& root, TLX11WindowFrame* out) {
    xcb_connection_t* c = s.connection();
    xcb_generic_error_t* geometryError = nullptr;
    xcb_generic_error_t* originError = nullptr;
    TLXcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, r.geometry, &geometryError));
    TLXcbError geometryOwner(geometryError);
    TLXcbReply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(c, r.origin, &originError));
    TLXcbError originOwner(originError);
    Reply extents = property(c, r.extents);
    Reply shadow = property(c, r.shadow);
    Reply state = property(c, r.state);
    if (geometryError || originError) {
        return (geometryError ? geometryError : originError)->error_code;
    }
    if (!geometry || !origin || root.monitors.list.empty()) {
        return -1;
    }
    TLX11WindowFrame f;
    f.frame = four(S::values32(extents.get()));
    f.shadow = four(S::values32(shadow.get()));
    const auto& [fl, fr, ft, fb] = f.frame;
    const auto& [sl, sr, st, sb] = f.shadow;
    f.outer = {std::int64_t{origin->dst_x} - fl + sl, std::int64_t{origin->dst_y} - ft + st,
               std::int64_t{geometry->width} + fl + fr - sl - sr,
               std::int64_t{geometry->height} + ft + fb - st - sb};
    f.primary = rectOf(root.monitors.list[root.monitors.primary]);
    const std::vector<std::uint32_t> states = S::values32(state.get());
    f.maximized = contains(states, s.atom(S::NetWmStateMaximizedVert)) ||
                  contains(states, s.atom(S::NetWmStateMaximizedHorz));
    f.fullscreen = contains(states, s.atom(S::NetWmStateFullscreen));
    f.shaded = contains(states, s.atom(S::NetWmStateShaded));
    f.moveresize = contains(root.supported, s.atom(S::NetMoveresizeWindow));
    *out = f;
    return 0;
}

} // namespace

TLX11Snapshot TLX11Snapshot::fetch(TLX11Session& s) {
    TLX11Snapshot snapshot;
    snapshot.takenAt = std::chrono::steady_clock::now();
    if (!s.isConnected()) {
        return snapshot;
    }
    xcb_connection_t* c = s.connection();

    // Round trip 1: the root window's state and the monitors.
    RootRequest rootRequest(s);
    RootState root(s, rootRequest);
    const xcb_window_t check = root.check.empty() ? xcb_window_t(XCB_WINDOW_NONE) : root.check[0];
    snapshot.active = root.active.empty() ? xcb_window_t(XCB_WINDOW_NONE) : root.active[0];

    // Round trip 2: the window manager's check window, the active window, the reservations.
    std::optional<xcb_get_property_cookie_t> selfCookie;
    if (check != XCB_WINDOW_NONE) {
        selfCookie = s.requestProperty(check, s.atom(S::NetSupportingWmCheck), 1);
    }
    std::optional<FrameRequest> frameRequest;
    xcb_get_property_cookie_t classCookie{}, pidCookie{}, typeCookie{};
    if (snapshot.active != XCB_WINDOW_NONE) {
        // Changes to this window from now on arrive as events and retire the snapshot.
        s.watchWindow(snapshot.active);
        classCookie = s.requestProperty(snapshot.active, XCB_ATOM_WM_CLASS, 256);
        pidCookie = s.requestProperty(snapshot.active, s.atom(S::NetWmPid), 1);
        typeCookie = s.requestProperty(snapshot.active, s.atom(S::NetWmWindowType), 32);
        frameRequest.emplace(s, snapshot.active);
    }
    StrutRequest strutRequest(s, root);

    if (selfCookie) {
        const std::vector<std::uint32_t> self = S::values32(property(c, *selfCookie).get());
        // A window manager that died leaves the root property behind but not its check window.
        snapshot.trusted =
            !self.empty() && self[0] == check && contains(root.supported, s.atom(S::NetActiveWindow));
    }
    if (snapshot.active != XCB_WINDOW_NONE) {
        std::int32_t error = 0;
        Reply cls = property(c, classCookie, &error);
        Reply pid = property(c, pidCookie, &error);
        Reply type = property(c, typeCookie, &error);
        snapshot.activeError = error;
        if (cls && cls->format == 8) {
            snapshot.wmClass.assign(
                static_cast<const char*>(xcb_get_property_value(cls.get())),
                static_cast<std::size_t>(std::max(0, xcb_get_property_value_length(cls.get()))));
        }
        const std::vector<std::uint32_t> pidValue = S::values32(pid.get());
        snapshot.pid = pidValue.empty() ? 0 : pidValue[0];
        snapshot.windowTypes = S::values32(type.get());
        TLX11WindowFrame frame;
        snapshot.frameError = collectFrame(s, *frameRequest, root, &frame);
        if (snapshot.frameError == 0) {
            snapshot.frame = frame;
        }
    }
    snapshot.layout = collectLayout(s, root, strutRequest);
    return snapshot;
}

std::int32_t TLX11Snapshot::readFrame(TLX11Session& s, xcb_window_t window, TLX11WindowFrame* frame) {
    if (!s.isConnected()) {
        return -1;
    }
    RootRequest rootRequest(s);
    FrameRequest frameRequest(s, window);
    RootState root(s, rootRequest);
    return collectFrame(s, frameRequest, root, frame);
}

std::optional<TLX11RootLayout> TLX11Snapshot::readRootLayout(TLX11Session& s) {
    if (!s.isConnected()) {
        return std::nullopt;
    }
    RootRequest rootRequest(s);
    RootState root(s, rootRequest);
    StrutRequest strutRequest(s, root);
    return collectLayout(s, root, strutRequest);
}
