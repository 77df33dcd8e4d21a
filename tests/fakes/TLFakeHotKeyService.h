#pragma once

#include "TLHotKeyService.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

// Hot-key service for tests: refuses a configurable set of combinations (as if another
// program held them) and any combination it already has registered, records what it is
// asked, and delivers presses to the installed handler.
class TLFakeHotKeyService final : public TLHotKeyService {
public:
    using Combination = std::pair<std::uint32_t, std::uint32_t>; // key code, modifiers

    std::vector<std::optional<TLHotKeyRef>>
    registerHotKeys(const std::vector<TLHotKeyRequest>& requests) override;
    void unregisterHotKey(TLHotKeyRef ref) override;
    void installEventHandler(TLEventHandlerProc proc, void* userData) override;
    void installLossHandler(LossHandler handler) override { lossHandler_ = std::move(handler); }

    // Combinations held elsewhere.
    std::set<Combination> taken;

    // Currently registered hot keys by handle.
    const std::map<TLHotKeyRef, TLHotKeyRequest>& registered() const { return registered_; }
    std::optional<TLHotKeyRequest> registrationFor(std::uint32_t keyCode, std::uint32_t modifiers) const;

    int batchCount = 0;      // registerHotKeys calls
    int unregisterCount = 0; // unregisterHotKey calls, also for unknown handles

    bool hasHandler() const { return proc_ != nullptr; }
    // Presses a registered combination; nothing when none is registered.
    std::optional<TLOSStatus> press(std::uint32_t keyCode, std::uint32_t modifiers);
    // Delivers any event, also one this service would never produce.
    TLOSStatus deliver(const TLHotKeyEvent& event);
    // Takes registrations back, as a changed keyboard mapping can.
    void lose(const std::vector<TLHotKeyRef>& refs);

private:
    std::map<TLHotKeyRef, TLHotKeyRequest> registered_;
    TLHotKeyRef nextRef_ = 1;
    TLEventHandlerProc proc_ = nullptr;
    void* userData_ = nullptr;
    LossHandler lossHandler_;
};
