#pragma once

#include "TLHotKeyService.h"
#include "TLX11Connection.h"

#include <QTimer>

#include <chrono>
#include <cstdint>
#include <map>
#include <set>
#include <vector>

// System hot keys on X11: key grabs on the root window of the connection's screen. Each
// combination is grabbed together with its Caps / Num / Scroll Lock variants (masks read from
// the modifier map); it is refused when the server answers BadAccess for any variant (another
// client holds it), and the variants already taken are released again.
//
// After a keyboard-mapping change (debounced) the grabs are compared with what the new
// mapping needs; only a real difference is grabbed anew, new variants first and old ones
// released after, so a combination is never left unheld. A combination that can no longer be
// grabbed is released whole and reported to the loss handler.
class TLX11HotKeyService final : public TLHotKeyService, public TLX11Connection::Listener {
public:
    static constexpr std::chrono::milliseconds kMappingDebounce{100};

    explicit TLX11HotKeyService(TLX11Connection& connection);
    ~TLX11HotKeyService() override;
    TLX11HotKeyService(const TLX11HotKeyService&) = delete;
    TLX11HotKeyService& operator=(const TLX11HotKeyService&) = delete;

    std::vector<std::optional<TLHotKeyRef>>
    registerHotKeys(const std::vector<TLHotKeyRequest>& requests) override;
    void unregisterHotKey(TLHotKeyRef ref) override;
    void installEventHandler(TLEventHandlerProc proc, void* userData) override;
    void installLossHandler(LossHandler handler) override;

    void handleEvent(const xcb_generic_event_t& event) override;
    void eventsHandled() override;

private:
    using Variant = std::pair<xcb_keycode_t, std::uint16_t>; // keycode, full modifier state

    struct Grab {
        xcb_keycode_t keycode = 0;
        std::uint16_t modifiers = 0;
        std::set<std::uint16_t> lockVariants; // the lock bits of the variants held
        TLHotKeyID hotKeyID;
    };

    void readMapping();
    std::set<std::uint16_t> lockVariants() const;
    // Grabs all variants checked, in one batch; true per variant the server granted.
    std::vector<bool> grabChecked(const std::vector<Variant>& variants);
    void ungrab(const std::vector<Variant>& variants);
    static std::vector<Variant> variantsOf(const Grab& grab, const std::set<std::uint16_t>& locks);
    void regrabIfChanged();

    TLX11Connection& connection_;
    xcb_keycode_t minKeycode_ = 0;
    xcb_keycode_t maxKeycode_ = 0;
    std::uint16_t lockMask_ = 0;
    std::map<TLHotKeyRef, Grab> grabs_;
    std::set<xcb_keycode_t> keysDown_; // grabbed keys pressed and not yet released
    std::vector<TLHotKeyID> pressed_;  // presses of the current burst of events
    TLHotKeyRef nextRef_ = 1;
    TLEventHandlerProc proc_ = nullptr;
    void* userData_ = nullptr;
    LossHandler lossHandler_;
    QTimer mappingChanged_;
};
