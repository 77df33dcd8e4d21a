#pragma once

#include "TLKeyboardLayout.h"
#include "TLX11Connection.h"

#include <cstdint>
#include <memory>

struct xkb_context;
struct xkb_keymap;
struct xkb_state;

// Key labels from the X server's current keymap and group (libxkbcommon-x11), answered from
// memory: a new keyboard or keymap reloads the keymap once per burst of XKB events, a group
// switch updates the state. No round trip per label.
class TLX11KeyboardLayout final : public TLKeyboardLayout, public TLX11Connection::Listener {
public:
    explicit TLX11KeyboardLayout(TLX11Connection& connection);
    ~TLX11KeyboardLayout() override;
    TLX11KeyboardLayout(const TLX11KeyboardLayout&) = delete;
    TLX11KeyboardLayout& operator=(const TLX11KeyboardLayout&) = delete;

    // False without XKB; every label is then empty.
    bool isReady() const { return keymap_ != nullptr && state_ != nullptr; }

    QString characterForKeyCode(std::int64_t virtualKeyCode) const override;

    void handleEvent(const xcb_generic_event_t& event) override;
    void eventsHandled() override;

    struct ContextFree {
        void operator()(xkb_context* p) const;
    };
    struct KeymapFree {
        void operator()(xkb_keymap* p) const;
    };
    struct StateFree {
        void operator()(xkb_state* p) const;
    };

private:
    void reloadKeymap();

    TLX11Connection& connection_;
    std::int32_t deviceId_ = -1;
    bool keymapStale_ = false;
    std::unique_ptr<xkb_context, ContextFree> context_;
    std::unique_ptr<xkb_keymap, KeymapFree> keymap_;
    std::unique_ptr<xkb_state, StateFree> state_;
};
