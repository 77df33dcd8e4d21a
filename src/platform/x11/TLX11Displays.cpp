#include "TLX11Displays.h"

#include "TLX11Session.h"

namespace {

TLX11Rect rectOf(const xcb_randr_monitor_info_t& m) {
    return {m.x, m.y, m.width, m.height};
}

} // namespace

TLX11Displays::TLX11Displays(std::shared_ptr<TLX11Session> session) : session_(std::move(session)) {}

std::optional<TLX11Displays::RootLayout> TLX11Displays::rootLayout() {
    if (!session_ || !session_->isConnected()) {
        return std::nullopt;
    }
    TLX11Session& s = *session_;
    xcb_connection_t* c = s.connection();
    const xcb_window_t root = s.root();

    // Round trip 1: monitors, screen size and the root properties.
    auto monitorsCookie = s.requestMonitors();
    auto geometryCookie = xcb_get_geometry(c, root);
    auto clientsCookie = s.requestProperty(root, s.atom(TLX11Session::NetClientList), 4096);
    auto workareaCookie = s.requestProperty(root, s.atom(TLX11Session::NetWorkarea));
    auto desktopCookie = s.requestProperty(root, s.atom(TLX11Session::NetCurrentDesktop), 1);
    TLXcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometryCookie, nullptr));
    TLX11Session::Monitors monitors = s.monitors(monitorsCookie, geometry.get());
    TLXcbReply<xcb_get_property_reply_t> clientsReply(xcb_get_property_reply(c, clientsCookie, nullptr));
    TLXcbReply<xcb_get_property_reply_t> workareaReply(xcb_get_property_reply(c, workareaCookie, nullptr));
    TLXcbReply<xcb_get_property_reply_t> desktopReply(xcb_get_property_reply(c, desktopCookie, nullptr));
    if (!geometry || monitors.list.empty()) {
        return std::nullopt;
    }
    const std::vector<std::uint32_t> desktopValue = TLX11Session::values32(desktopReply.get());
    const std::uint32_t desktop = desktopValue.empty() ? 0 : desktopValue[0];

    TLVisibleFrames::Input input;
    input.root = {0, 0, geometry->width, geometry->height};
    for (const auto& m : monitors.list) {
        input.monitors.push_back(rectOf(m));
    }
    const std::vector<std::uint32_t> workarea = TLX11Session::values32(workareaReply.get());
    if (workarea.size() >= 4 * (static_cast<std::size_t>(desktop) + 1)) {
        const std::uint32_t* w = &workarea[4 * desktop];
        input.workarea = TLX11Rect{w[0], w[1], w[2], w[3]};
    }

    // Round trip 2: the published per-monitor work areas and every client's reservation.
    const xcb_atom_t gtkAtom = s.gtkWorkareasAtom(desktop);
    std::optional<xcb_get_property_cookie_t> gtkCookie;
    if (gtkAtom != XCB_ATOM_NONE) {
        gtkCookie = s.requestProperty(root, gtkAtom);
    }
    const std::vector<std::uint32_t> clients = TLX11Session::values32(clientsReply.get());
    std::vector<std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>> strutCookies;
    if (clientsReply && clientsReply->type != XCB_ATOM_NONE) {
        for (std::uint32_t window : clients) {
            strutCookies.emplace_back(s.requestProperty(window, s.atom(TLX11Session::NetWmStrutPartial), 12),
                                      s.requestProperty(window, s.atom(TLX11Session::NetWmStrut), 4));
        }
        input.struts.emplace();
    }
    if (gtkCookie) {
        TLXcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(c, *gtkCookie, nullptr));
        const std::vector<std::uint32_t> v = TLX11Session::values32(reply.get());
        if (v.size() >= 4) {
            input.gtkWorkareas.emplace();
            for (std::size_t i = 0; i + 3 < v.size(); i += 4) {
                input.gtkWorkareas->push_back({v[i], v[i + 1], v[i + 2], v[i + 3]});
            }
        }
    }
    for (auto [partialCookie, plainCookie] : strutCookies) {
        // A window that vanished since the list was read just answers with an error: no strut.
        TLXcbReply<xcb_get_property_reply_t> partial(xcb_get_property_reply(c, partialCookie, nullptr));
        TLXcbReply<xcb_get_property_reply_t> plain(xcb_get_property_reply(c, plainCookie, nullptr));
        std::vector<std::uint32_t> strut = TLX11Session::values32(partial.get());
        if (strut.size() < 12) {
            strut = TLX11Session::values32(plain.get());
        }
        input.struts->push_back(std::move(strut));
    }

    RootLayout layout;
    layout.monitors = input.monitors;
    layout.visible = TLVisibleFrames::compute(input);
    layout.primary = monitors.primary;
    return layout;
}

std::vector<TLDisplay> TLX11Displays::displays() {
    std::optional<RootLayout> layout = rootLayout();
    if (!layout) {
        return {};
    }
    return TLVisibleFrames::toDisplays(layout->monitors, layout->visible, layout->primary);
}

std::optional<std::size_t> TLX11Displays::mainDisplay() {
    if (!session_ || !session_->isConnected()) {
        return std::nullopt;
    }
    return 0;
}

std::optional<TLPoint> TLX11Displays::mouseLocation() {
    if (!session_ || !session_->isConnected()) {
        return std::nullopt;
    }
    xcb_connection_t* c = session_->connection();
    auto pointerCookie = xcb_query_pointer(c, session_->root());
    auto monitorsCookie = session_->requestMonitors();
    auto geometryCookie = xcb_get_geometry(c, session_->root());
    TLXcbReply<xcb_query_pointer_reply_t> pointer(xcb_query_pointer_reply(c, pointerCookie, nullptr));
    TLXcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, geometryCookie, nullptr));
    TLX11Session::Monitors monitors = session_->monitors(monitorsCookie, geometry.get());
    if (!pointer || monitors.list.empty()) {
        return std::nullopt;
    }
    const TLX11Rect primary = rectOf(monitors.list[monitors.primary]);
    // A point, not a box: y counts up from the primary monitor's bottom edge.
    return TLPoint{static_cast<double>(pointer->root_x - primary.x),
                   static_cast<double>(primary.maxY() - pointer->root_y)};
}
