#pragma once

#include "TLHotKeyService.h"
#include "TLSwaySession.h"

#include <QString>

#include <map>

class TLSwayKeyboardLayout;

// System hot keys on sway: each combination is a binding made through IPC,
// `bindsym --no-repeat <combination> nop tilora <layout>`, and sway reports its presses as
// binding events. Keys are named by the symbol the key carries in the active layout, so a
// shortcut keeps meaning the same physical key; the names follow layout switches.
//
// Sway replaces a binding of the same combination without a word, so a combination is refused
// when the configuration binds it already (or Tilora holds it already), and when sway rejects
// the command. A configuration reload drops every binding made at run time: Tilora binds again,
// and what the new configuration takes is reported as lost. Bindings outlive the connection, so
// they are taken back explicitly when Tilora ends (releaseAll).
class TLSwayHotKeyService final : public TLHotKeyService, public TLSwaySession::Listener {
public:
    TLSwayHotKeyService(TLSwaySession& session, TLSwayKeyboardLayout& keyboard);
    ~TLSwayHotKeyService() override;
    TLSwayHotKeyService(const TLSwayHotKeyService&) = delete;
    TLSwayHotKeyService& operator=(const TLSwayHotKeyService&) = delete;

    std::vector<std::optional<TLHotKeyRef>>
    registerHotKeys(const std::vector<TLHotKeyRequest>& requests) override;
    void unregisterHotKey(TLHotKeyRef ref) override;
    void installEventHandler(TLEventHandlerProc proc, void* userData) override;
    void installLossHandler(LossHandler handler) override;

    // Takes back every binding; nothing to do once the compositor has gone.
    void releaseAll();

    void handleEvent(std::uint32_t type, const QJsonObject& event) override;

    // The command a press of the hot key runs ("nop tilora half.left").
    static QString commandFor(const TLHotKeyID& id);

private:
    struct Binding {
        TLHotKeyRequest request;
        QString combination; // "Ctrl+Mod1+Left"
    };

    std::optional<QString> combinationFor(const TLHotKeyRequest& request) const;
    // Binds in one request; true per combination sway took.
    std::vector<bool> bind(const std::vector<QString>& combinations, const std::vector<QString>& commands);
    void keyboardChanged(bool reloaded);

    TLSwaySession& session_;
    TLSwayKeyboardLayout& keyboard_;
    std::map<TLHotKeyRef, Binding> bindings_;
    TLHotKeyRef nextRef_ = 1;
    TLEventHandlerProc proc_ = nullptr;
    void* userData_ = nullptr;
    LossHandler lossHandler_;
};
