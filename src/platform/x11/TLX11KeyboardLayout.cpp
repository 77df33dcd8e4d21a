#include "TLX11KeyboardLayout.h"

#include "TLKeyTable.h"
#include "TLXkb.h"
#include "TLXkbLabels.h"

#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

#include <optional>

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
    return TLXkbLabels::keyText(keymap_.get(), key, layout);
}
