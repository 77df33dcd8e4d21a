#include "TLX11Displays.h"

#include "TLX11Session.h"

TLX11Displays::TLX11Displays(std::shared_ptr<TLX11Session> session) : session_(std::move(session)) {}

std::optional<TLX11RootLayout> TLX11Displays::rootLayout() {
    if (!session_ || !session_->isConnected()) {
        return std::nullopt;
    }
    if (const TLX11Snapshot* snapshot = session_->snapshot(); snapshot && snapshot->layout) {
        return snapshot->layout;
    }
    return TLX11Snapshot::readRootLayout(*session_);
}

std::vector<TLDisplay> TLX11Displays::displays() {
    std::optional<TLX11RootLayout> layout = rootLayout();
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
    const TLX11Rect primary = TLX11Session::rectOf(monitors.list[monitors.primary]);
    // A point, not a box: y counts up from the primary monitor's bottom edge.
    return TLPoint{static_cast<double>(pointer->root_x - primary.x),
                   static_cast<double>(primary.maxY() - pointer->root_y)};
}
