#pragma once

#include "TLKeyboardLayout.h"
#include "TLSwayConfig.h"
#include "TLSwaySession.h"

#include <xkbcommon/xkbcommon.h>

#include <functional>
#include <memory>
#include <optional>

// The keyboard as sway sets it up, for key labels and for naming keys in bindings. Sway builds
// its keymap from the `input` settings of its configuration (else the XKB_DEFAULT_* variables);
// this does the same with libxkbcommon, and follows the active layout from sway's input events.
// It also keeps the configuration's bindings, read at start and after every reload (the
// configuration's main text comes from sway; included files are read here).
class TLSwayKeyboardLayout final : public TLKeyboardLayout, public TLSwaySession::Listener {
public:
    explicit TLSwayKeyboardLayout(TLSwaySession& session);
    ~TLSwayKeyboardLayout() override;
    TLSwayKeyboardLayout(const TLSwayKeyboardLayout&) = delete;
    TLSwayKeyboardLayout& operator=(const TLSwayKeyboardLayout&) = delete;

    QString characterForKeyCode(std::int64_t virtualKeyCode) const override;

    // The name sway knows the key's unmodified symbol by in the active layout ("a", "Left",
    // "KP_End"); nothing for a key without one.
    std::optional<QString> keysymName(std::int64_t virtualKeyCode) const;
    // Whether the configuration binds this combination (sway modifier mask) in its default mode.
    bool configBinds(std::uint32_t swayModifiers, std::int64_t virtualKeyCode) const;

    // Called after the configuration was reloaded or the active layout changed: the names of
    // keys may differ, and sway has dropped the bindings made at run time on a reload.
    void setChangeHandler(std::function<void(bool reloaded)> handler) { changed_ = std::move(handler); }

    void handleEvent(std::uint32_t type, const QJsonObject& event) override;

    struct ContextFree {
        void operator()(xkb_context* p) const { xkb_context_unref(p); }
    };
    struct KeymapFree {
        void operator()(xkb_keymap* p) const { xkb_keymap_unref(p); }
    };

private:
    void load();
    void readActiveLayout();
    std::optional<xkb_keysym_t> keysym(std::int64_t virtualKeyCode) const;

    TLSwaySession& session_;
    TLSwayConfig config_;
    std::unique_ptr<xkb_context, ContextFree> context_;
    std::unique_ptr<xkb_keymap, KeymapFree> keymap_;
    xkb_layout_index_t layout_ = 0;
    std::function<void(bool)> changed_;
};
