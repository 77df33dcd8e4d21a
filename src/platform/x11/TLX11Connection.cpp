#include "TLX11Connection.h"

#include "TLXkb.h"

#include <xcb/randr.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t kWindowEvents = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_PROPERTY_CHANGE;

} // namespace

std::unique_ptr<TLX11Connection> TLX11Connection::open(const char* displayName) {
    int screenNumber = 0;
    TLXcbConnection connection(xcb_connect(displayName, &screenNumber));
    if (!connection || xcb_connection_has_error(connection.get()) != 0) {
        return nullptr;
    }
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screenNumber && it.rem; ++i) {
        xcb_screen_next(&it);
    }
    if (!it.rem) {
        return nullptr;
    }
    std::unique_ptr<TLX11Connection> result(new TLX11Connection(std::move(connection), *it.data));
    result->setUpExtensions();
    if (!result->isConnected()) {
        return nullptr;
    }
    return result;
}

TLX11Connection::TLX11Connection(TLXcbConnection connection, const xcb_screen_t& screen)
    : connection_(std::move(connection)), screen_(screen) {}

TLX11Connection::~TLX11Connection() {
    notifier_.reset(); // before the connection it watches
}

bool TLX11Connection::isConnected() const {
    return connection_ && xcb_connection_has_error(connection_.get()) == 0;
}

void TLX11Connection::setUpExtensions() {
    xcb_connection_t* c = get();
    // One round trip: the atoms and both extensions' versions.
    std::vector<xcb_intern_atom_cookie_t> atomCookies;
    atomCookies.reserve(kTLX11AtomNames.size());
    for (std::string_view name : kTLX11AtomNames) {
        atomCookies.push_back(xcb_intern_atom(c, 0, static_cast<std::uint16_t>(name.size()), name.data()));
    }
    const xcb_xkb_use_extension_cookie_t xkbCookie = xcb_xkb_use_extension(c, 1, 0);
    const xcb_randr_query_version_cookie_t randrCookie = xcb_randr_query_version(c, 1, 5);
    for (std::size_t i = 0; i < atomCookies.size(); ++i) {
        TLXcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(c, atomCookies[i], nullptr));
        atoms_[i] = reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
    }
    TLXcbReply<xcb_xkb_use_extension_reply_t> xkb(xcb_xkb_use_extension_reply(c, xkbCookie, nullptr));
    TLXcbReply<xcb_randr_query_version_reply_t> randr(xcb_randr_query_version_reply(c, randrCookie, nullptr));

    const xcb_query_extension_reply_t* xkbData = xcb_get_extension_data(c, &xcb_xkb_id);
    if (xkb && xkb->supported != 0 && xkbData != nullptr && xkbData->present != 0) {
        xkbEventBase_ = xkbData->first_event;
        // What the hot keys and the key labels need: a new keyboard or keymap (setxkbmap, a
        // changed modifier map) and group switches. Modifier state changes would only pile up.
        constexpr std::uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY |
                                         XCB_XKB_EVENT_TYPE_MAP_NOTIFY | XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
        constexpr std::uint16_t mapParts =
            XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
            XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS |
            XCB_XKB_MAP_PART_VIRTUAL_MODS | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
        xcb_xkb_select_events_details_t details{};
        details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES | XCB_XKB_NKN_DETAIL_GEOMETRY;
        details.newKeyboardDetails = details.affectNewKeyboard;
        details.affectState =
            XCB_XKB_STATE_PART_GROUP_BASE | XCB_XKB_STATE_PART_GROUP_LATCH | XCB_XKB_STATE_PART_GROUP_LOCK;
        details.stateDetails = details.affectState;
        xcb_xkb_select_events_aux(c, XCB_XKB_ID_USE_CORE_KBD, events, 0, 0, mapParts, mapParts, &details);
    }
    const xcb_query_extension_reply_t* randrData = xcb_get_extension_data(c, &xcb_randr_id);
    if (randr && randrData != nullptr && randrData->present != 0) {
        randrEventBase_ = randrData->first_event;
        xcb_randr_select_input(c, root(),
                               XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE |
                                   XCB_RANDR_NOTIFY_MASK_RESOURCE_CHANGE);
    }
    watchWindow(root());
    flush();
}

std::optional<std::uint8_t> TLX11Connection::xkbEventType(const xcb_generic_event_t& event) const {
    if (xkbEventBase_ == 0 || event.response_type != xkbEventBase_) {
        return std::nullopt;
    }
    return event.pad0;
}

void TLX11Connection::addListener(Listener& listener) {
    listeners_.push_back(&listener);
    watchFromEventLoop();
}

void TLX11Connection::removeListener(Listener& listener) {
    std::erase(listeners_, &listener);
}

void TLX11Connection::watchFromEventLoop() {
    if (notifier_ || !QCoreApplication::instance() || !isConnected()) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(get()), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { dispatchPending(); });
    // A reply read in between can bring events along into xcb's queue, which leaves the socket
    // quiet: look there too before the loop sleeps.
    if (QAbstractEventDispatcher* loop = QAbstractEventDispatcher::instance()) {
        QObject::connect(loop, &QAbstractEventDispatcher::aboutToBlock, notifier_.get(),
                         [this] { dispatchPending(); });
    }
}

void TLX11Connection::dispatchPending() {
    if (dispatching_) {
        return; // the running dispatch reads on until nothing is left
    }
    if (!isConnected()) {
        if (notifier_) {
            notifier_->setEnabled(false); // a dead connection would fire for ever
        }
        return;
    }
    dispatching_ = true;
    bool any = false;
    while (TLXcbReply<xcb_generic_event_t> event{xcb_poll_for_event(get())}) {
        any = true;
        // A listener may remove itself, or another one, while it handles an event.
        const std::vector<Listener*> listeners = listeners_;
        for (Listener* listener : listeners) {
            if (std::ranges::find(listeners_, listener) != listeners_.end()) {
                listener->handleEvent(*event);
            }
        }
    }
    dispatching_ = false;
    if (any) {
        const std::vector<Listener*> listeners = listeners_;
        for (Listener* listener : listeners) {
            if (std::ranges::find(listeners_, listener) != listeners_.end()) {
                listener->eventsHandled();
            }
        }
    }
}

void TLX11Connection::watchWindow(xcb_window_t window) {
    xcb_change_window_attributes(get(), window, XCB_CW_EVENT_MASK, &kWindowEvents);
}

xcb_get_property_cookie_t TLX11Connection::requestProperty(xcb_window_t window, TLX11Atom property,
                                                           std::uint32_t longLength) const {
    return requestProperty(window, atom(property), longLength);
}

xcb_get_property_cookie_t TLX11Connection::requestProperty(xcb_window_t window, xcb_atom_t property,
                                                           std::uint32_t longLength) const {
    return xcb_get_property(get(), 0, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, longLength);
}

TLXcbReply<xcb_get_property_reply_t> TLX11Connection::property(xcb_get_property_cookie_t cookie,
                                                               std::int32_t* error) const {
    xcb_generic_error_t* e = nullptr;
    TLXcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(get(), cookie, &e));
    const TLXcbError owner(e);
    if (error != nullptr && e != nullptr) {
        *error = e->error_code;
    }
    return reply;
}

std::vector<std::uint32_t> TLX11Connection::values32(const xcb_get_property_reply_t* reply) {
    if (reply == nullptr || reply->format != 32) {
        return {};
    }
    const auto* data = static_cast<const std::uint32_t*>(
        xcb_get_property_value(const_cast<xcb_get_property_reply_t*>(reply)));
    const int length = xcb_get_property_value_length(reply) / 4;
    return {data, data + std::max(length, 0)};
}

bool TLX11Connection::contains(const std::vector<std::uint32_t>& values, TLX11Atom which) const {
    const xcb_atom_t a = atom(which);
    return a != XCB_ATOM_NONE && std::ranges::find(values, a) != values.end();
}

void TLX11Connection::sendToWindowManager(xcb_window_t window, TLX11Atom type,
                                          const std::array<std::uint32_t, 5>& data) {
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom(type);
    std::ranges::copy(data, event.data.data32);
    xcb_send_event(get(), 0, root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
}

void TLX11Connection::flush() const {
    xcb_flush(get());
}
