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

std::array<std::uint32_t, 4> four(const std::vector<std::uint32_t>& v) {
    std::array<std::uint32_t, 4> a{};
    if (v.size() >= 4) {
        std::copy_n(v.begin(), 4, a.begin());
    }
    return a;
}

// The screen: monitors, size, work area and the window manager's supported list.
struct ScreenRequest {
    xcb_randr_get_monitors_cookie_t monitors;
    xcb_get_geometry_cookie_t geometry;
    xcb_get_property_cookie_t workarea, supported;

    explicit ScreenRequest(S& s) {
        monitors = s.requestMonitors();
        geometry = xcb_get_geometry(s.connection(), s.root());
        workarea = s.requestProperty(s.root(), s.atom(S::NetWorkarea));
        supported = s.requestProperty(s.root(), s.atom(S::NetSupported), 4096);
    }
};

struct ScreenState {
    TLXcbReply<xcb_get_geometry_reply_t> geometry;
    S::Monitors monitors;
    std::vector<std::uint32_t> workarea, supported;

    ScreenState(S& s, ScreenRequest& r) {
        xcb_connection_t* c = s.connection();
        geometry.reset(xcb_get_geometry_reply(c, r.geometry, nullptr));
        monitors = s.monitors(r.monitors, geometry.get());
        workarea = S::values32(property(c, r.workarea).get());
        supported = S::values32(property(c, r.supported).get());
    }
};

// The panels' reservations and the published work areas, once the client list is known.
struct StrutRequest {
    std::optional<xcb_get_property_cookie_t> gtk;
    std::vector<std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>> struts;

    StrutRequest(S& s, const S::RootMirror& root) {
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

std::optional<TLX11RootLayout> collectLayout(S& s, const S::RootMirror& root, const ScreenState& screen,
                                             StrutRequest& r) {
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
    if (!screen.geometry || screen.monitors.list.empty()) {
        return none;
    }
    input.root = {0, 0, screen.geometry->width, screen.geometry->height};
    for (const auto& m : screen.monitors.list) {
        input.monitors.push_back(S::rectOf(m));
    }
    const std::size_t at = 4 * static_cast<std::size_t>(root.desktop);
    const std::vector<std::uint32_t>& w = screen.workarea;
    if (w.size() >= at + 4) {
        input.workarea = TLX11Rect{w[at], w[at + 1], w[at + 2], w[at + 3]};
    }
    TLX11RootLayout layout;
    layout.monitors = input.monitors;
    layout.visible = TLVisibleFrames::compute(input);
    layout.primary = screen.monitors.primary;
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

std::int32_t collectFrame(S& s, FrameRequest& r, const ScreenState& screen, TLX11WindowFrame* out) {
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
    if (!geometry || !origin || screen.monitors.list.empty()) {
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
    f.primary = S::rectOf(screen.monitors.list[screen.monitors.primary]);
    const std::vector<std::uint32_t> states = S::values32(state.get());
    f.maximized = S::contains(states, s.atom(S::NetWmStateMaximizedVert)) ||
                  S::contains(states, s.atom(S::NetWmStateMaximizedHorz));
    f.fullscreen = S::contains(states, s.atom(S::NetWmStateFullscreen));
    f.shaded = S::contains(states, s.atom(S::NetWmStateShaded));
    f.moveresize = S::contains(screen.supported, s.atom(S::NetMoveresizeWindow));
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
    // Which windows to read comes from the root mirror (a round trip only if it is out of date).
    const S::RootMirror root = s.rootMirror();
    snapshot.active = root.active;

    // One round trip: the check window, the screen, the active window and the reservations.
    std::optional<xcb_get_property_cookie_t> selfCookie;
    if (root.check != XCB_WINDOW_NONE) {
        selfCookie = s.requestProperty(root.check, s.atom(S::NetSupportingWmCheck), 1);
    }
    ScreenRequest screenRequest(s);
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

    std::vector<std::uint32_t> self;
    if (selfCookie) {
        self = S::values32(property(c, *selfCookie).get());
    }
    ScreenState screen(s, screenRequest);
    // A window manager that died leaves the root property behind but not its check window.
    snapshot.trusted =
        !self.empty() && self[0] == root.check && S::contains(screen.supported, s.atom(S::NetActiveWindow));
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
        snapshot.frameError = collectFrame(s, *frameRequest, screen, &frame);
        if (snapshot.frameError == 0) {
            snapshot.frame = frame;
        }
    }
    snapshot.layout = collectLayout(s, root, screen, strutRequest);
    return snapshot;
}

std::int32_t TLX11Snapshot::readFrame(TLX11Session& s, xcb_window_t window, TLX11WindowFrame* frame) {
    if (!s.isConnected()) {
        return -1;
    }
    ScreenRequest screenRequest(s);
    FrameRequest frameRequest(s, window);
    ScreenState screen(s, screenRequest);
    return collectFrame(s, frameRequest, screen, frame);
}

std::optional<TLX11RootLayout> TLX11Snapshot::readRootLayout(TLX11Session& s) {
    if (!s.isConnected()) {
        return std::nullopt;
    }
    const S::RootMirror root = s.rootMirror();
    ScreenRequest screenRequest(s);
    StrutRequest strutRequest(s, root);
    ScreenState screen(s, screenRequest);
    return collectLayout(s, root, screen, strutRequest);
}
