#include "TLX11KeyboardLayout.h"

#include "TLKeyCodes.h"

// xcb's XKB header names a member `explicit`, a C++ keyword.
#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <array>
#include <optional>

namespace {

// Dead keys have no text of their own in xkbcommon; show the accent they put on the next key.
struct DeadKey {
    xkb_keysym_t keysym;
    const char* text;
};

constexpr std::array<DeadKey, 13> kDeadKeys{{
    {XKB_KEY_dead_grave, "`"},
    {XKB_KEY_dead_acute, "´"},
    {XKB_KEY_dead_circumflex, "^"},
    {XKB_KEY_dead_tilde, "~"},
    {XKB_KEY_dead_macron, "¯"},
    {XKB_KEY_dead_breve, "˘"},
    {XKB_KEY_dead_abovedot, "˙"},
    {XKB_KEY_dead_diaeresis, "¨"},
    {XKB_KEY_dead_abovering, "˚"},
    {XKB_KEY_dead_doubleacute, "˝"},
    {XKB_KEY_dead_caron, "ˇ"},
    {XKB_KEY_dead_cedilla, "¸"},
    {XKB_KEY_dead_ogonek, "˛"},
}};

QString textOfKeysym(xkb_keysym_t keysym) {
    for (const DeadKey& dead : kDeadKeys) {
        if (dead.keysym == keysym) {
            return QString::fromUtf8(dead.text);
        }
    }
    std::array<char, 16> buffer{};
    if (xkb_keysym_to_utf8(keysym, buffer.data(), buffer.size()) <= 1) {
        return {};
    }
    const QString text = QString::fromUtf8(buffer.data());
    // Control characters (keypad Enter, Delete and the like) are no label.
    for (QChar ch : text) {
        if (ch.category() == QChar::Other_Control) {
            return {};
        }
    }
    return text;
}

} // namespace

void TLX11KeyboardLayout::ContextFree::operator()(xkb_context* p) const {
    xkb_context_unref(p);
}
void TLX11KeyboardLayout::KeymapFree::operator()(xkb_keymap* p) const {
    xkb_keymap_unref(p);
}
void TLX11KeyboardLayout::StateFree::operator()(xkb_state* p) const {
    xkb_state_unref(p);
}

TLX11KeyboardLayout::TLX11KeyboardLayout(const char* displayName)
    : connection_(xcb_connect(displayName, nullptr)), context_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {
    xcb_connection_t* c = connection_.get();
    if (xcb_connection_has_error(c) != 0 || !context_) {
        return;
    }
    if (xkb_x11_setup_xkb_extension(c, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                    XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &xkbEventBase_,
                                    nullptr) == 0) {
        return;
    }
    deviceId_ = xkb_x11_get_core_keyboard_device_id(c);
    if (deviceId_ < 0) {
        return;
    }
    // A new keyboard or keymap (setxkbmap) and group changes.
    constexpr std::uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY |
                                     XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
    constexpr std::uint16_t mapParts = XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS |
                                       XCB_XKB_MAP_PART_MODIFIER_MAP | XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS |
                                       XCB_XKB_MAP_PART_KEY_ACTIONS | XCB_XKB_MAP_PART_VIRTUAL_MODS |
                                       XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES | XCB_XKB_NKN_DETAIL_GEOMETRY;
    details.newKeyboardDetails = details.affectNewKeyboard;
    // Only the group matters for a label; modifier changes would just pile up unread.
    details.affectState =
        XCB_XKB_STATE_PART_GROUP_BASE | XCB_XKB_STATE_PART_GROUP_LATCH | XCB_XKB_STATE_PART_GROUP_LOCK;
    details.stateDetails = details.affectState;
    TLXcbError error(xcb_request_check(
        c, xcb_xkb_select_events_aux_checked(c, static_cast<xcb_xkb_device_spec_t>(deviceId_), events, 0, 0,
                                             mapParts, mapParts, &details)));
    if (error) {
        return;
    }
    reloadKeymap();
}

TLX11KeyboardLayout::~TLX11KeyboardLayout() = default;

bool TLX11KeyboardLayout::reloadKeymap() {
    xcb_connection_t* c = connection_.get();
    std::unique_ptr<xkb_keymap, KeymapFree> keymap(
        xkb_x11_keymap_new_from_device(context_.get(), c, deviceId_, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) {
        return false;
    }
    std::unique_ptr<xkb_state, StateFree> state(xkb_x11_state_new_from_device(keymap.get(), c, deviceId_));
    if (!state) {
        return false;
    }
    keymap_ = std::move(keymap);
    state_ = std::move(state);
    return true;
}

void TLX11KeyboardLayout::takeInChanges() {
    xcb_connection_t* c = connection_.get();
    // A round trip: every change the server made before this call has reached us after it.
    TLXcbReply<xcb_get_input_focus_reply_t> sync(
        xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));

    bool keymapChanged = false;
    std::optional<xcb_xkb_state_notify_event_t> lastState;
    while (TLXcbReply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
        if (event->response_type != xkbEventBase_) {
            continue;
        }
        // Every XKB event has its own type in the second byte.
        switch (event->pad0) {
        case XCB_XKB_NEW_KEYBOARD_NOTIFY:
        case XCB_XKB_MAP_NOTIFY:
            keymapChanged = true;
            break;
        case XCB_XKB_STATE_NOTIFY:
            lastState = *reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event.get());
            break;
        default:
            break;
        }
    }
    // A reloaded keymap comes with the server's current state; a later state event is
    // already part of it.
    if (keymapChanged) {
        reloadKeymap();
    } else if (lastState && state_) {
        xkb_state_update_mask(state_.get(), 0, 0, 0, static_cast<xkb_layout_index_t>(lastState->baseGroup),
                              static_cast<xkb_layout_index_t>(lastState->latchedGroup),
                              static_cast<xkb_layout_index_t>(lastState->lockedGroup));
    }
}

QString TLX11KeyboardLayout::characterForKeyCode(std::int64_t virtualKeyCode) {
    if (!isReady() || xcb_connection_has_error(connection_.get()) != 0) {
        return {};
    }
    takeInChanges();
    if (!isReady()) {
        return {};
    }
    const std::optional<int> keycode = TLKeyCodes::xKeycodeFromVirtualKeyCode(virtualKeyCode);
    if (!keycode) {
        return {};
    }
    const auto key = static_cast<xkb_keycode_t>(*keycode);
    const xkb_layout_index_t layout = xkb_state_key_get_layout(state_.get(), key);
    if (layout == XKB_LAYOUT_INVALID) {
        return {};
    }
    const xkb_keysym_t* syms = nullptr;
    // Level 0: the key without any modifier.
    const int count = xkb_keymap_key_get_syms_by_level(keymap_.get(), key, layout, 0, &syms);
    if (count < 1 || syms == nullptr) {
        return {};
    }
    return textOfKeysym(syms[0]);
}
