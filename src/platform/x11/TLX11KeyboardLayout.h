#pragma once

#include "TLKeyboardLayout.h"
#include "TLXcb.h"

#include <cstdint>
#include <memory>

struct xkb_context;
struct xkb_keymap;
struct xkb_state;

// Key labels from the X server's current keymap and group (libxkbcommon-x11), over a private
// connection. Keymap and group changes arrive as XKB events, which every lookup takes in
// first, so a label always reflects the layout of the moment.
class TLX11KeyboardLayout final : public TLKeyboardLayout {
public:
    // Connects to the given display, or to $DISPLAY when null.
    explicit TLX11KeyboardLayout(const char* displayName = nullptr);
    ~TLX11KeyboardLayout() override;
    TLX11KeyboardLayout(const TLX11KeyboardLayout&) = delete;
    TLX11KeyboardLayout& operator=(const TLX11KeyboardLayout&) = delete;

    // False without a server or without XKB; every label is then empty.
    bool isReady() const { return keymap_ != nullptr && state_ != nullptr; }

    QString characterForKeyCode(std::int64_t virtualKeyCode) override;

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
    bool reloadKeymap();
    void takeInChanges();

    TLXcbConnection connection_;
    std::int32_t deviceId_ = -1;
    std::uint8_t xkbEventBase_ = 0;
    std::unique_ptr<xkb_context, ContextFree> context_;
    std::unique_ptr<xkb_keymap, KeymapFree> keymap_;
    std::unique_ptr<xkb_state, StateFree> state_;
};
