#include "TLX11HotKeyService.h"

#include "TLKeyCodes.h"
#include "TLModifiers.h"

// xcb's XKB header names a member `explicit`, a C++ keyword.
#define explicit xkb_explicit
#include <xcb/xkb.h>
#undef explicit

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <set>
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

TLX11HotKeyService::TLX11HotKeyService(const char* displayName)
    : connection_(xcb_connect(displayName, nullptr)), alive_(std::make_shared<bool>(true)) {
    if (!isConnected()) {
        return;
    }
    const xcb_setup_t* setup = xcb_get_setup(connection_.get());
    root_ = xcb_setup_roots_iterator(setup).data->root;
    minKeycode_ = setup->min_keycode;
    maxKeycode_ = setup->max_keycode;
    readLockMasks();
    useXkb();
    notifier_ =
        std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection_.get()), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                     [this] { processEvents(); });
}

TLX11HotKeyService::~TLX11HotKeyService() {
    *alive_ = false;
    notifier_.reset();
    if (isConnected()) {
        for (const auto& [ref, grab] : grabs_) {
            ungrab(grab);
        }
        xcb_flush(connection_.get());
    }
}

bool TLX11HotKeyService::isConnected() const {
    return connection_ && xcb_connection_has_error(connection_.get()) == 0;
}

void TLX11HotKeyService::useXkb() {
    // With XKB a held key repeats as presses alone, without the releases in between, so a
    // repeat can be told from a new press. Without XKB every repeat counts as a press.
    xcb_connection_t* c = connection_.get();
    TLXcbReply<xcb_xkb_use_extension_reply_t> use(
        xcb_xkb_use_extension_reply(c, xcb_xkb_use_extension(c, 1, 0), nullptr));
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_xkb_id);
    if (!use || use->supported == 0 || extension == nullptr || extension->present == 0) {
        return;
    }
    xkbEventBase_ = extension->first_event;
    TLXcbReply<xcb_xkb_per_client_flags_reply_t> flags(xcb_xkb_per_client_flags_reply(
        c,
        xcb_xkb_per_client_flags(c, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                 XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0),
        nullptr));
    // An XKB client no longer gets the core MappingNotify; it has to ask for XKB's own.
    constexpr std::uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY | XCB_XKB_EVENT_TYPE_MAP_NOTIFY;
    constexpr std::uint16_t mapParts = XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    details.newKeyboardDetails = XCB_XKB_NKN_DETAIL_KEYCODES;
    TLXcbError error(
        xcb_request_check(c, xcb_xkb_select_events_aux_checked(c, XCB_XKB_ID_USE_CORE_KBD, events, 0, 0,
                                                               mapParts, mapParts, &details)));
}

void TLX11HotKeyService::readLockMasks() {
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
            if (key != 0 && lockKeys.count(key) != 0) {
                lockMask_ |= static_cast<std::uint16_t>(1u << modifier);
            }
        }
    }
    // A lock key put on one of the shortcut's own modifiers cannot be told apart from it.
    lockMask_ &= static_cast<std::uint16_t>(~kShortcutModifiers);
}

std::vector<std::uint16_t> TLX11HotKeyService::lockVariants() const {
    // Every subset of the lock bits, the empty one first.
    std::vector<std::uint16_t> variants;
    std::uint16_t subset = 0;
    do {
        variants.push_back(subset);
        subset = static_cast<std::uint16_t>((subset - lockMask_) & lockMask_);
    } while (subset != 0);
    return variants;
}

std::vector<std::optional<TLHotKeyRef>>
TLX11HotKeyService::registerHotKeys(const std::vector<TLHotKeyRequest>& requests) {
    std::vector<std::optional<TLHotKeyRef>> results(requests.size());
    if (!isConnected()) {
        return results;
    }
    xcb_connection_t* c = connection_.get();
    const std::vector<std::uint16_t> variants = lockVariants();

    struct Pending {
        std::size_t index;
        Grab grab;
        std::vector<xcb_void_cookie_t> cookies;
    };
    std::vector<Pending> pending;
    std::set<std::pair<xcb_keycode_t, std::uint16_t>> inUse;
    for (const auto& [ref, grab] : grabs_) {
        inUse.insert({grab.keycode, grab.modifiers});
    }
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const std::optional<int> keycode = TLKeyCodes::xKeycodeFromVirtualKeyCode(requests[i].keyCode);
        if (!keycode || *keycode < minKeycode_ || *keycode > maxKeycode_) {
            continue; // no such key on this keyboard
        }
        Grab grab{static_cast<xcb_keycode_t>(*keycode), xModifiers(requests[i].modifiers), variants,
                  requests[i].hotKeyID};
        // Our own grab of the same combination would silently replace the first one.
        if (!inUse.insert({grab.keycode, grab.modifiers}).second) {
            continue;
        }
        Pending entry{i, std::move(grab), {}};
        for (std::uint16_t variant : variants) {
            entry.cookies.push_back(xcb_grab_key_checked(c, 1, root_, entry.grab.modifiers | variant,
                                                         entry.grab.keycode, XCB_GRAB_MODE_ASYNC,
                                                         XCB_GRAB_MODE_ASYNC));
        }
        pending.push_back(std::move(entry));
    }

    // The first check waits for the server once; the answers to all later grabs are then
    // already here.
    for (Pending& entry : pending) {
        std::vector<std::uint16_t> taken;
        bool refused = false;
        for (std::size_t v = 0; v < entry.cookies.size(); ++v) {
            TLXcbError error(xcb_request_check(c, entry.cookies[v]));
            if (error) {
                refused = true;
            } else {
                taken.push_back(entry.grab.lockVariants[v]);
            }
        }
        if (refused) {
            Grab partial = entry.grab;
            partial.lockVariants = std::move(taken);
            ungrab(partial);
            continue;
        }
        const TLHotKeyRef ref = nextRef_++;
        grabs_.emplace(ref, std::move(entry.grab));
        results[entry.index] = ref;
    }
    xcb_flush(c);
    // Checking read from the socket; events it queued would not wake the notifier.
    scheduleProcessEvents();
    return results;
}

void TLX11HotKeyService::ungrab(const Grab& grab) {
    for (std::uint16_t variant : grab.lockVariants) {
        xcb_ungrab_key(connection_.get(), grab.keycode, root_, grab.modifiers | variant);
    }
}

void TLX11HotKeyService::unregisterHotKey(TLHotKeyRef ref) {
    const auto it = grabs_.find(ref);
    if (it == grabs_.end()) {
        return;
    }
    if (isConnected()) {
        ungrab(it->second);
        xcb_flush(connection_.get());
    }
    // Its release may now go to another client. A re-grab after a mapping change keeps the
    // key's state: the held key's repeats must not count as new presses.
    keysDown_.erase(it->second.keycode);
    grabs_.erase(it);
}

void TLX11HotKeyService::installEventHandler(TLEventHandlerProc proc, void* userData) {
    proc_ = proc;
    userData_ = userData;
}

void TLX11HotKeyService::regrabAll() {
    xcb_connection_t* c = connection_.get();
    for (auto& [ref, grab] : grabs_) {
        ungrab(grab);
    }
    readLockMasks();
    const std::vector<std::uint16_t> variants = lockVariants();
    for (auto& [ref, grab] : grabs_) {
        grab.lockVariants = variants;
        for (std::uint16_t variant : variants) {
            // Unchecked: a variant taken meanwhile by another client reports an error
            // event, which processEvents() drops; the other variants still work.
            xcb_grab_key(c, 1, root_, grab.modifiers | variant, grab.keycode, XCB_GRAB_MODE_ASYNC,
                         XCB_GRAB_MODE_ASYNC);
        }
    }
    xcb_flush(c);
}

void TLX11HotKeyService::scheduleProcessEvents() {
    if (processScheduled_) {
        return;
    }
    processScheduled_ = true;
    std::weak_ptr<bool> alive = alive_;
    QTimer::singleShot(0, [this, alive] {
        if (const auto flag = alive.lock(); flag && *flag) {
            processScheduled_ = false;
            processEvents();
        }
    });
}

void TLX11HotKeyService::processEvents() {
    if (!isConnected()) {
        if (notifier_) {
            notifier_->setEnabled(false);
        }
        return;
    }
    std::vector<TLHotKeyID> pressed;
    bool mappingChanged = false;
    while (TLXcbReply<xcb_generic_event_t> event{xcb_poll_for_event(connection_.get())}) {
        switch (event->response_type & 0x7f) {
        case XCB_KEY_PRESS: {
            const auto* press = reinterpret_cast<const xcb_key_press_event_t*>(event.get());
            const std::uint16_t state = press->state & kShortcutModifiers;
            for (const auto& [ref, grab] : grabs_) {
                if (grab.keycode == press->detail && grab.modifiers == state) {
                    // One press per keystroke, however long the key is held.
                    if (keysDown_.insert(press->detail).second) {
                        pressed.push_back(grab.hotKeyID);
                    }
                    break;
                }
            }
            break;
        }
        case XCB_KEY_RELEASE:
            keysDown_.erase(reinterpret_cast<const xcb_key_release_event_t*>(event.get())->detail);
            break;
        case XCB_MAPPING_NOTIFY: {
            const auto* notify = reinterpret_cast<const xcb_mapping_notify_event_t*>(event.get());
            if (notify->request != XCB_MAPPING_POINTER) {
                mappingChanged = true;
            }
            break;
        }
        default:
            // Every XKB event has its own type in the second byte.
            if (xkbEventBase_ != 0 && event->response_type == xkbEventBase_ &&
                (event->pad0 == XCB_XKB_NEW_KEYBOARD_NOTIFY || event->pad0 == XCB_XKB_MAP_NOTIFY)) {
                mappingChanged = true;
            }
            break; // and errors of unchecked re-grabs
        }
    }
    // One re-grab for a burst of mapping changes (a layout switch sends several).
    if (mappingChanged) {
        regrabAll();
    }
    // The handler may replace itself or this service's registrations: deliver from a copy.
    const TLEventHandlerProc proc = proc_;
    void* const userData = userData_;
    for (const TLHotKeyID& hotKeyID : pressed) {
        if (proc != nullptr) {
            const TLHotKeyEvent hotKeyEvent{hotKeyID};
            proc(nullptr, &hotKeyEvent, userData);
        }
    }
}
