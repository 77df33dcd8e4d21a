#pragma once

#include "TLHotKeyService.h"
#include "TLTest.h"

// Hot-key service for tests: refuses the combinations in `taken` (held by another program) and
// any it already holds, counts what it is asked, delivers presses and takes registrations back.
class TLFakeHotKeyService final : public TLHotKeyService {
public:
    std::vector<std::optional<TLHotKeyRef>>
    registerHotKeys(const std::vector<TLHotKeyRequest>& requests) override {
        ++batchCount;
        std::vector<std::optional<TLHotKeyRef>> results;
        for (const TLHotKeyRequest& r : requests) {
            const bool refused =
                taken.count({r.keyCode, r.modifiers}) || registrationFor(r.keyCode, r.modifiers);
            results.push_back(refused ? std::nullopt : std::optional(nextRef_));
            if (!refused) {
                registered.emplace(nextRef_++, r);
            }
        }
        return results;
    }
    void unregisterHotKey(TLHotKeyRef ref) override {
        ++unregisterCount;
        registered.erase(ref);
    }
    void installEventHandler(TLEventHandlerProc proc, void* userData) override {
        proc_ = proc;
        userData_ = userData;
    }
    void installLossHandler(LossHandler handler) override { lossHandler_ = std::move(handler); }

    std::optional<TLHotKeyRef> refFor(std::uint32_t keyCode, std::uint32_t modifiers) const {
        for (const auto& [ref, r] : registered) {
            if (r.keyCode == keyCode && r.modifiers == modifiers) {
                return ref;
            }
        }
        return std::nullopt;
    }
    std::optional<TLHotKeyRequest> registrationFor(std::uint32_t keyCode, std::uint32_t modifiers) const {
        const auto ref = refFor(keyCode, modifiers);
        return ref ? std::optional(registered.at(*ref)) : std::nullopt;
    }
    bool hasHandler() const { return proc_ != nullptr; }
    // A press of a registered combination; nothing when none is registered.
    std::optional<TLOSStatus> press(std::uint32_t keyCode, std::uint32_t modifiers) {
        const auto r = registrationFor(keyCode, modifiers);
        return r ? std::optional(deliver({r->hotKeyID})) : std::nullopt;
    }
    // Any event, also one this service would never produce.
    TLOSStatus deliver(const TLHotKeyEvent& event) {
        return proc_ ? proc_(nullptr, &event, userData_) : TLEventNotHandledErr;
    }
    // Takes registrations back, as a changed keyboard mapping can.
    void lose(const std::vector<TLHotKeyRef>& refs) {
        for (TLHotKeyRef ref : refs) {
            registered.erase(ref);
        }
        lossHandler_(refs);
    }

    std::set<std::pair<std::uint32_t, std::uint32_t>> taken; // key code, modifiers
    std::map<TLHotKeyRef, TLHotKeyRequest> registered;
    int batchCount = 0;
    int unregisterCount = 0;

private:
    TLHotKeyRef nextRef_ = 1;
    TLEventHandlerProc proc_ = nullptr;
    void* userData_ = nullptr;
    LossHandler lossHandler_;
};
