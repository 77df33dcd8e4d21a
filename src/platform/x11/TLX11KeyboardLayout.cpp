#include "TLX11KeyboardLayout.h"

#include "TLKeyTable.h"
#include "TLXkb.h"

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
    QString text = QString::fromUtf8(buffer.data());
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

TLX11KeyboardLayout::TLX11KeyboardLayout(TLX11Connection& connection)
    : connection_(connection), context_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {
    if (connection_.xkbEventBase() != 0 && context_) {
        deviceId_ = xkb_x11_get_core_keyboard_device_id(connection_.get());
        reloadKeymap();
    }
    connection_.addListener(*this);
}

TLX11KeyboardLayout::~TLX11KeyboardLayout() {
    connection_.removeListener(*this);
}

void TLX11KeyboardLayout::reloadKeymap() {
    keymapStale_ = false;
    if (deviceId_ < 0 || !connection_.isConnected()) {
        return;
    }
    xcb_connection_t* c = connection_.get();
    std::unique_ptr<xkb_keymap, KeymapFree> keymap(
        xkb_x11_keymap_new_from_device(context_.get(), c, deviceId_, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap) {
        return;
    }
    // Comes with the server's current state: a state event read before it is already part of it.
    std::unique_ptr<xkb_state, StateFree> state(xkb_x11_state_new_from_device(keymap.get(), c, deviceId_));
    if (!state) {
        return;
    }
    keymap_ = std::move(keymap);
    state_ = std::move(state);
}

void TLX11KeyboardLayout::handleEvent(const xcb_generic_event_t& event) {
    const std::optional<std::uint8_t> type = connection_.xkbEventType(event);
    if (type == XCB_XKB_NEW_KEYBOARD_NOTIFY || type == XCB_XKB_MAP_NOTIFY) {
        keymapStale_ = true; // setxkbmap sends several: reloaded once, after the burst
    } else if (type == XCB_XKB_STATE_NOTIFY && state_) {
        const auto& notify = reinterpret_cast<const xcb_xkb_state_notify_event_t&>(event);
        xkb_state_update_mask(state_.get(), 0, 0, 0, static_cast<xkb_layout_index_t>(notify.baseGroup),
                              static_cast<xkb_layout_index_t>(notify.latchedGroup),
                              static_cast<xkb_layout_index_t>(notify.lockedGroup));
    }
}

void TLX11KeyboardLayout::eventsHandled() {
    if (keymapStale_) {
        reloadKeymap();
    }
}

QString TLX11KeyboardLayout::characterForKeyCode(std::int64_t virtualKeyCode) const {
    if (!isReady()) {
        return {};
    }
    const std::optional<int> keycode = TLKeyTable::xKeycodeFromVirtualKeyCode(virtualKeyCode);
    if (!keycode) {
        return {};
    }
    const auto key = static_cast<xkb_keycode_t>(*keycode);
    const xkb_layout_index_t layout = xkb_state_key_get_layout(state_.get(), key);
    if (layout == XKB_LAYOUT_INVALID) {
        return {};
    }
    // Level 0 is the key without any modifier. Where it has no text, the first level that has
    // some is what the key shows: the keypad's digits sit on the Num Lock level.
    const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap_.get(), key, layout);
    for (xkb_level_index_t level = 0; level < levels; ++level) {
        const xkb_keysym_t* syms = nullptr;
        if (xkb_keymap_key_get_syms_by_level(keymap_.get(), key, layout, level, &syms) >= 1 &&
            syms != nullptr) {
            if (QString text = textOfKeysym(syms[0]); !text.isEmpty()) {
                return text;
            }
        }
    }
    return {};
}
