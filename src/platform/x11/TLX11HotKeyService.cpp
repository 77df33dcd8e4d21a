#include "TLX11HotKeyService.h"

#include "TLKeyTable.h"
#include "TLModifiers.h"
#include "TLXkb.h"

#include <algorithm>
#include <utility>

namespace {

constexpr xcb_keysym_t kNumLockSym = 0xff7f;
constexpr xcb_keysym_t kScrollLockSym = 0xff14;

// Carbon mask → core modifier state: option is Alt (Mod1), command is Super (Mod4). Other
// bits have no X counterpart and are left out.
std::uint16_t xModifiers(std::uint32_t modifiers) {
    std::uint16_t mask = 0;
    if ((modifiers & TLShiftKey) != 0) {
        mask |= XCB_MOD_MASK_SHIFT;
    }
    if ((modifiers & TLControlKey) != 0) {
        mask |= XCB_MOD_MASK_CONTROL;
    }
    if ((modifiers & TLOptionKey) != 0) {
        mask |= XCB_MOD_MASK_1;
    }
    if ((modifiers & TLCmdKey) != 0) {
        mask |= XCB_MOD_MASK_4;
    }
    return mask;
}

constexpr std::uint16_t kShortcutModifiers =
    XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;

} // namespace

TLX11HotKeyService::TLX11HotKeyService(TLX11Connection& connection) : connection_(connection) {
    const xcb_setup_t* setup = xcb_get_setup(connection_.get());
    minKeycode_ = setup->min_keycode;
    maxKeycode_ = setup->max_keycode;
    // With XKB a held key repeats as presses alone, without the releases in between, so a
    // repeat can be told from a new press. Without XKB every repeat counts as a press.
    if (connection_.xkbEventBase() != 0) {
        xcb_connection_t* c = connection_.get();
        TLXcbReply<xcb_xkb_per_client_flags_reply_t> flags(xcb_xkb_per_client_flags_reply(
            c,
            xcb_xkb_per_client_flags(c, XCB_XKB_ID_USE_CORE_KBD,
                                     XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                     XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0),
            nullptr));
    }
    readMapping();
    mappingChanged_.setSingleShot(true);
    mappingChanged_.setInterval(kMappingDebounce);
    QObject::connect(&mappingChanged_, &QTimer::timeout, &mappingChanged_, [this] { regrabIfChanged(); });
    connection_.addListener(*this);
}

TLX11HotKeyService::~TLX11HotKeyService() {
    connection_.removeListener(*this);
    if (connection_.isConnected()) {
        for (const auto& [ref, grab] : grabs_) {
            ungrab(variantsOf(grab, grab.lockVariants));
        }
        connection_.flush();
    }
}

void TLX11HotKeyService::readMapping() {
    xcb_connection_t* c = connection_.get();
    const auto keyCount = static_cast<std::uint8_t>(maxKeycode_ - minKeycode_ + 1);
    const xcb_get_keyboard_mapping_cookie_t mappingCookie =
        xcb_get_keyboard_mapping(c, minKeycode_, keyCount);
    const xcb_get_modifier_mapping_cookie_t modifierCookie = xcb_get_modifier_mapping(c);
    TLXcbReply<xcb_get_keyboard_mapping_reply_t> mapping(
        xcb_get_keyboard_mapping_reply(c, mappingCookie, nullptr));
    TLXcbReply<xcb_get_modifier_mapping_reply_t> modifiers(
        xcb_get_modifier_mapping_reply(c, modifierCookie, nullptr));

    // Caps Lock is always the Lock modifier; Num Lock and Scroll Lock sit wherever the
    // modifier map puts the keys that carry their keysyms.
    lockMask_ = XCB_MOD_MASK_LOCK;
    if (!mapping || !modifiers || mapping->keysyms_per_keycode == 0) {
        return;
    }
    std::set<xcb_keycode_t> lockKeys;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int symCount = xcb_get_keyboard_mapping_keysyms_length(mapping.get());
    for (int i = 0; i < symCount; ++i) {
        if (syms[i] == kNumLockSym || syms[i] == kScrollLockSym) {
            lockKeys.insert(static_cast<xcb_keycode_t>(minKeycode_ + i / mapping->keysyms_per_keycode));
        }
    }
    const xcb_keycode_t* modifierKeys = xcb_get_modifier_mapping_keycodes(modifiers.get());
    const int perModifier = modifiers->keycodes_per_modifier;
    if (xcb_get_modifier_mapping_keycodes_length(modifiers.get()) < 8 * perModifier) {
        return;
    }
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int k = 0; k < perModifier; ++k) {
            const xcb_keycode_t key = modifierKeys[modifier * perModifier + k];
            if (key != 0 && lockKeys.contains(key)) {
                lockMask_ |= static_cast<std::uint16_t>(1u << modifier);
            }
        }
    }
    // A lock key put on one of the shortcut's own modifiers cannot be told apart from it.
    lockMask_ &= static_cast<std::uint16_t>(~kShortcutModifiers);
}

std::set<std::uint16_t> TLX11HotKeyService::lockVariants() const {
    // Every subset of the lock bits, the empty one included.
    std::set<std::uint16_t> variants;
    std::uint16_t subset = 0;
    do {
        variants.insert(subset);
        subset = static_cast<std::uint16_t>((subset - lockMask_) & lockMask_);
    } while (subset != 0);
    return variants;
}

std::vector<TLX11HotKeyService::Variant>
TLX11HotKeyService::variantsOf(const Grab& grab, const std::set<std::uint16_t>& locks) {
    std::vector<Variant> variants;
    variants.reserve(locks.size());
    for (std::uint16_t lock : locks) {
        variants.emplace_back(grab.keycode, static_cast<std::uint16_t>(grab.modifiers | lock));
    }
    return variants;
}

std::vector<bool> TLX11HotKeyService::grabChecked(const std::vector<Variant>& variants) {
    xcb_connection_t* c = connection_.get();
    std::vector<xcb_void_cookie_t> cookies;
    cookies.reserve(variants.size());
    for (const auto& [keycode, state] : variants) {
        cookies.push_back(xcb_grab_key_checked(c, 1, connection_.root(), state, keycode, XCB_GRAB_MODE_ASYNC,
                                               XCB_GRAB_MODE_ASYNC));
    }
    // The first check waits for the server once; the answers to all later grabs are then
    // already here.
    std::vector<bool> granted;
    granted.reserve(cookies.size());
    for (xcb_void_cookie_t cookie : cookies) {
        const TLXcbError error(xcb_request_check(c, cookie));
        granted.push_back(!error && connection_.isConnected());
    }
    return granted;
}

void TLX11HotKeyService::ungrab(const std::vector<Variant>& variants) {
    for (const auto& [keycode, state] : variants) {
        xcb_ungrab_key(connection_.get(), keycode, connection_.root(), state);
    }
}

std::vector<std::optional<TLHotKeyRef>>
TLX11HotKeyService::registerHotKeys(const std::vector<TLHotKeyRequest>& requests) {
    std::vector<std::optional<TLHotKeyRef>> results(requests.size());
    if (!connection_.isConnected()) {
        return results;
    }
    const std::set<std::uint16_t> locks = lockVariants();
    std::set<std::pair<xcb_keycode_t, std::uint16_t>> inUse;
    for (const auto& [ref, grab] : grabs_) {
        inUse.insert({grab.keycode, grab.modifiers});
    }
    std::vector<std::pair<std::size_t, Grab>> pending;
    std::vector<Variant> variants;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const std::optional<int> keycode = TLKeyTable::xKeycodeFromVirtualKeyCode(requests[i].keyCode);
        if (!keycode || *keycode < minKeycode_ || *keycode > maxKeycode_) {
            continue; // no such key on this keyboard
        }
        Grab grab{static_cast<xcb_keycode_t>(*keycode), xModifiers(requests[i].modifiers), locks,
                  requests[i].hotKeyID};
        // Our own grab of the same combination would silently replace the first one.
        if (!inUse.insert({grab.keycode, grab.modifiers}).second) {
            continue;
        }
        const std::vector<Variant> own = variantsOf(grab, locks);
        variants.insert(variants.end(), own.begin(), own.end());
        pending.emplace_back(i, std::move(grab));
    }
    const std::vector<bool> granted = grabChecked(variants);
    std::size_t at = 0;
    for (auto& [index, grab] : pending) {
        const std::vector<Variant> own = variantsOf(grab, grab.lockVariants);
        std::vector<Variant> taken;
        for (std::size_t v = 0; v < own.size(); ++v, ++at) {
            if (granted[at]) {
                taken.push_back(own[v]);
            }
        }
        if (taken.size() != own.size()) {
            ungrab(taken); // refused: no variant stays behind
            continue;
        }
        const TLHotKeyRef ref = nextRef_++;
        grabs_.emplace(ref, std::move(grab));
        results[index] = ref;
    }
    connection_.flush();
    return results;
}

void TLX11HotKeyService::unregisterHotKey(TLHotKeyRef ref) {
    const auto it = grabs_.find(ref);
    if (it == grabs_.end()) {
        return;
    }
    if (connection_.isConnected()) {
        ungrab(variantsOf(it->second, it->second.lockVariants));
        connection_.flush();
    }
    // Its release may now go to another client.
    keysDown_.erase(it->second.keycode);
    grabs_.erase(it);
}

void TLX11HotKeyService::installEventHandler(TLEventHandlerProc proc, void* userData) {
    proc_ = proc;
    userData_ = userData;
}

void TLX11HotKeyService::installLossHandler(LossHandler handler) {
    lossHandler_ = std::move(handler);
}

void TLX11HotKeyService::regrabIfChanged() {
    if (!connection_.isConnected()) {
        return;
    }
    readMapping();
    const std::set<std::uint16_t> locks = lockVariants();
    // What the new mapping needs beyond what is held: grabbed first, so that no combination
    // is ever without its grab.
    std::vector<std::pair<TLHotKeyRef, std::vector<Variant>>> added;
    std::vector<Variant> all;
    for (const auto& [ref, grab] : grabs_) {
        std::set<std::uint16_t> missing;
        std::ranges::set_difference(locks, grab.lockVariants, std::inserter(missing, missing.end()));
        if (!missing.empty()) {
            added.emplace_back(ref, variantsOf(grab, missing));
            all.insert(all.end(), added.back().second.begin(), added.back().second.end());
        }
    }
    const std::vector<bool> granted = grabChecked(all);
    std::vector<TLHotKeyRef> lost;
    std::size_t at = 0;
    for (const auto& [ref, variants] : added) {
        Grab& grab = grabs_.at(ref);
        bool refused = false;
        for (std::size_t v = 0; v < variants.size(); ++v, ++at) {
            if (granted[at]) {
                grab.lockVariants.insert(static_cast<std::uint16_t>(variants[v].second & ~grab.modifiers));
            } else {
                refused = true;
            }
        }
        if (refused) {
            lost.push_back(ref);
        }
    }
    for (TLHotKeyRef ref : lost) {
        const Grab& grab = grabs_.at(ref);
        ungrab(variantsOf(grab, grab.lockVariants));
        keysDown_.erase(grab.keycode);
        grabs_.erase(ref);
    }
    // Then what the new mapping no longer needs.
    for (auto& [ref, grab] : grabs_) {
        std::set<std::uint16_t> extra;
        std::ranges::set_difference(grab.lockVariants, locks, std::inserter(extra, extra.end()));
        ungrab(variantsOf(grab, extra));
        grab.lockVariants = locks;
    }
    connection_.flush();
    if (!lost.empty() && lossHandler_) {
        lossHandler_(lost);
    }
}

void TLX11HotKeyService::handleEvent(const xcb_generic_event_t& event) {
    switch (event.response_type & 0x7f) {
    case XCB_KEY_PRESS: {
        const auto& press = reinterpret_cast<const xcb_key_press_event_t&>(event);
        const std::uint16_t state = press.state & kShortcutModifiers;
        for (const auto& [ref, grab] : grabs_) {
            if (grab.keycode == press.detail && grab.modifiers == state) {
                // One press per keystroke, however long the key is held.
                if (keysDown_.insert(press.detail).second) {
                    pressed_.push_back(grab.hotKeyID);
                }
                break;
            }
        }
        return;
    }
    case XCB_KEY_RELEASE:
        keysDown_.erase(reinterpret_cast<const xcb_key_release_event_t&>(event).detail);
        return;
    case XCB_MAPPING_NOTIFY:
        if (reinterpret_cast<const xcb_mapping_notify_event_t&>(event).request != XCB_MAPPING_POINTER) {
            mappingChanged_.start();
        }
        return;
    default:
        // A new keyboard (also the first key event of another input device) or a new keymap:
        // compared once the burst is over.
        if (const auto xkb = connection_.xkbEventType(event);
            xkb == XCB_XKB_NEW_KEYBOARD_NOTIFY || xkb == XCB_XKB_MAP_NOTIFY) {
            mappingChanged_.start();
        }
        return;
    }
}

void TLX11HotKeyService::eventsHandled() {
    // The handler may replace itself or this service's registrations: deliver from a copy.
    const std::vector<TLHotKeyID> pressed = std::exchange(pressed_, {});
    const TLEventHandlerProc proc = proc_;
    void* const userData = userData_;
    for (const TLHotKeyID& hotKeyID : pressed) {
        if (proc != nullptr) {
            const TLHotKeyEvent hotKeyEvent{hotKeyID};
            proc(nullptr, &hotKeyEvent, userData);
        }
    }
}
