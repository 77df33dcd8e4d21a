#include "TLX11Session.h"

#include "TLX11Snapshot.h"

#include <QCoreApplication>
#include <QObject>
#include <QSocketNotifier>

#include <poll.h>

#include <algorithm>
#include <cstring>
#include <string_view>

std::shared_ptr<TLX11Session> TLX11Session::open(const char* displayName) {
    int screenNumber = 0;
    TLXcbConnection connection(xcb_connect(displayName, &screenNumber));
    if (!connection || xcb_connection_has_error(connection.get())) {
        return nullptr;
    }
    std::shared_ptr<TLX11Session> session(new TLX11Session);
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screenNumber && it.rem; ++i) {
        xcb_screen_next(&it);
    }
    if (!it.rem) {
        return nullptr;
    }
    session->root_ = it.data->root;
    static const std::vector<std::string_view> names = {
        "_NET_SUPPORTED",
        "_NET_SUPPORTING_WM_CHECK",
        "_NET_ACTIVE_WINDOW",
        "_NET_CLIENT_LIST",
        "_NET_CLIENT_LIST_STACKING",
        "_NET_CURRENT_DESKTOP",
        "_NET_WORKAREA",
        "_NET_WM_WINDOW_TYPE",
        "_NET_WM_WINDOW_TYPE_DESKTOP",
        "_NET_WM_WINDOW_TYPE_DOCK",
        "_NET_WM_STATE",
        "_NET_WM_STATE_MAXIMIZED_VERT",
        "_NET_WM_STATE_MAXIMIZED_HORZ",
        "_NET_WM_STATE_FULLSCREEN",
        "_NET_WM_STATE_SHADED",
        "_NET_FRAME_EXTENTS",
        "_GTK_FRAME_EXTENTS",
        "_NET_MOVERESIZE_WINDOW",
        "_NET_WM_PID",
        "_NET_WM_STRUT",
        "_NET_WM_STRUT_PARTIAL",
    };
    static_assert(AtomCount == 21);
    std::vector<xcb_atom_t> atoms = tlInternAtoms(connection.get(), names);
    std::copy(atoms.begin(), atoms.end(), session->atoms_.begin());
    session->connection_ = std::move(connection);
    // Root properties: their changes retire a snapshot and the root mirror.
    const std::uint32_t rootMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(session->connection(), session->root_, XCB_CW_EVENT_MASK, &rootMask);
    xcb_flush(session->connection());

    if (QCoreApplication::instance()) {
        session->notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(session->connection()),
                                                               QSocketNotifier::Read);
        TLX11Session* raw = session.get();
        QObject::connect(session->notifier_.get(), &QSocketNotifier::activated,
                         [raw] { raw->drainEvents(); });
    }
    return session;
}

TLX11Session::TLX11Session() = default;

TLX11Session::~TLX11Session() {
    notifier_.reset(); // before the connection it watches
    snapshot_.reset();
}

bool TLX11Session::isConnected() const {
    return connection_ && xcb_connection_has_error(connection_.get()) == 0;
}

xcb_atom_t TLX11Session::gtkWorkareasAtom(std::uint32_t desktop) {
    for (const auto& [d, a] : gtkWorkareaAtoms_) {
        if (d == desktop) {
            return a;
        }
    }
    std::string name = "_GTK_WORKAREAS_D" + std::to_string(desktop);
    xcb_atom_t a = tlInternAtoms(connection(), {name}).front();
    if (a != XCB_ATOM_NONE) {
        gtkWorkareaAtoms_.emplace_back(desktop, a);
    }
    return a;
}

const TLX11Session::RootMirror& TLX11Session::rootMirror() {
    drainEvents();
    if (mirrorValid_ || !isConnected()) {
        return mirror_;
    }
    xcb_connection_t* c = connection();
    auto activeCookie = requestProperty(root_, atom(NetActiveWindow), 1);
    auto checkCookie = requestProperty(root_, atom(NetSupportingWmCheck), 1);
    auto clientsCookie = requestProperty(root_, atom(NetClientList), 4096);
    auto desktopCookie = requestProperty(root_, atom(NetCurrentDesktop), 1);
    TLXcbReply<xcb_get_property_reply_t> active(xcb_get_property_reply(c, activeCookie, nullptr));
    TLXcbReply<xcb_get_property_reply_t> check(xcb_get_property_reply(c, checkCookie, nullptr));
    TLXcbReply<xcb_get_property_reply_t> clients(xcb_get_property_reply(c, clientsCookie, nullptr));
    TLXcbReply<xcb_get_property_reply_t> desktop(xcb_get_property_reply(c, desktopCookie, nullptr));
    auto first = [](const xcb_get_property_reply_t* reply) -> std::uint32_t {
        const std::vector<std::uint32_t> v = values32(reply);
        return v.empty() ? 0 : v[0];
    };
    mirror_.active = first(active.get());
    mirror_.check = first(check.get());
    mirror_.hasClientList = clients && clients->type != XCB_ATOM_NONE;
    mirror_.clients = values32(clients.get());
    mirror_.desktop = first(desktop.get());
    if (mirror_.check != XCB_WINDOW_NONE) {
        // Its DestroyNotify tells that the window manager went away.
        const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, mirror_.check, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(c);
    }
    mirrorValid_ = isConnected();
    return mirror_;
}

const TLX11Snapshot& TLX11Session::fetchSnapshot() {
    drainEvents();
    snapshot_ = std::make_unique<TLX11Snapshot>(TLX11Snapshot::fetch(*this));
    return *snapshot_;
}

const TLX11Snapshot* TLX11Session::snapshot() {
    drainEvents();
    if (snapshot_ && std::chrono::steady_clock::now() - snapshot_->takenAt > kSnapshotLifetime) {
        snapshot_.reset();
    }
    return snapshot_.get();
}

void TLX11Session::invalidateSnapshot() {
    snapshot_.reset();
}

void TLX11Session::watchWindow(xcb_window_t window) {
    const std::uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection(), window, XCB_CW_EVENT_MASK, &mask);
}

xcb_get_property_cookie_t TLX11Session::requestProperty(xcb_window_t window, xcb_atom_t property,
                                                        std::uint32_t longLength) {
    return xcb_get_property(connection(), 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, longLength);
}

std::vector<std::uint32_t> TLX11Session::values32(const xcb_get_property_reply_t* reply) {
    if (!reply || reply->format != 32) {
        return {};
    }
    const auto* data = static_cast<const std::uint32_t*>(
        xcb_get_property_value(const_cast<xcb_get_property_reply_t*>(reply)));
    const int length = xcb_get_property_value_length(reply) / 4;
    return std::vector<std::uint32_t>(data, data + std::max(length, 0));
}

bool TLX11Session::contains(const std::vector<std::uint32_t>& values, xcb_atom_t atom) {
    return atom != XCB_ATOM_NONE && std::find(values.begin(), values.end(), atom) != values.end();
}

void TLX11Session::sendToWindowManager(xcb_window_t window, Atom type,
                                       const std::array<std::uint32_t, 5>& data) {
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom(type);
    std::copy(data.begin(), data.end(), event.data.data32);
    xcb_send_event(connection(), 0, root_,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
}

TLX11Rect TLX11Session::rectOf(const xcb_randr_monitor_info_t& m) {
    return {m.x, m.y, m.width, m.height};
}

xcb_randr_get_monitors_cookie_t TLX11Session::requestMonitors() {
    return xcb_randr_get_monitors(connection(), root_, 1);
}

TLX11Session::Monitors TLX11Session::monitors(xcb_randr_get_monitors_cookie_t cookie,
                                              const xcb_get_geometry_reply_t* rootGeometry) {
    Monitors result;
    TLXcbReply<xcb_randr_get_monitors_reply_t> reply(
        xcb_randr_get_monitors_reply(connection(), cookie, nullptr));
    if (reply) {
        for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
             xcb_randr_monitor_info_next(&it)) {
            if (it.data->width == 0 || it.data->height == 0) {
                continue;
            }
            if (it.data->primary) {
                result.primary = result.list.size();
            }
            result.list.push_back(*it.data);
        }
    }
    if (result.list.empty() && rootGeometry) {
        xcb_randr_monitor_info_t whole{};
        whole.primary = 1;
        whole.width = rootGeometry->width;
        whole.height = rootGeometry->height;
        result.list.push_back(whole);
        result.primary = 0;
    }
    return result;
}

bool TLX11Session::waitForEvent(const std::function<bool(const xcb_generic_event_t&)>& accept,
                                std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    xcb_connection_t* c = connection();
    invalidateSnapshot();
    mirrorValid_ = false; // the events read here are not looked at
    xcb_flush(c);
    for (;;) {
        while (TLXcbReply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
            if (accept(*event)) {
                return true;
            }
        }
        if (!isConnected()) {
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return false;
        }
        pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
        poll(&p, 1, static_cast<int>(left));
    }
}

void TLX11Session::drainEvents() {
    if (!isConnected()) {
        if (notifier_) {
            notifier_->setEnabled(false); // a dead connection would fire forever
        }
        return;
    }
    // Only what can retire the snapshot is selected, so any event (or error) retires it; the
    // mirror goes when one of its root properties changes or the check window is destroyed.
    while (TLXcbReply<xcb_generic_event_t> event{xcb_poll_for_event(connection())}) {
        snapshot_.reset();
        const std::uint8_t type = event->response_type & 0x7f;
        if (type == XCB_PROPERTY_NOTIFY) {
            const auto* p = reinterpret_cast<const xcb_property_notify_event_t*>(event.get());
            if (p->window == root_ &&
                (p->atom == atom(NetActiveWindow) || p->atom == atom(NetSupportingWmCheck) ||
                 p->atom == atom(NetClientList) || p->atom == atom(NetCurrentDesktop))) {
                mirrorValid_ = false;
            }
        } else if (type == XCB_DESTROY_NOTIFY) {
            const auto* d = reinterpret_cast<const xcb_destroy_notify_event_t*>(event.get());
            if (d->window == mirror_.check) {
                mirrorValid_ = false;
            }
        } else if (type == 0) {
            mirrorValid_ = false; // an error of an unchecked request: read everything again
        }
    }
}
