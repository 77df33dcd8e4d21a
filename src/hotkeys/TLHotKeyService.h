#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

// Identity a hot key is registered with and reported back by: an application signature
// (four-character code) and an id within the application.
struct TLHotKeyID {
    std::uint32_t signature = 0;
    std::uint32_t id = 0;
};

// A press as the hot-key service delivers it. A press that carries no hot-key identity (or
// one that could not be read) has no `hotKeyID`.
struct TLHotKeyEvent {
    std::optional<TLHotKeyID> hotKeyID;
};

using TLOSStatus = std::int32_t;
inline constexpr TLOSStatus TLNoErr = 0;
inline constexpr TLOSStatus TLEventNotHandledErr = -9874;

using TLEventHandlerCallRef = void*;
using TLEventRef = const TLHotKeyEvent*;
// Called for every press of a registered hot key; declines with TLEventNotHandledErr.
using TLEventHandlerProc = TLOSStatus (*)(TLEventHandlerCallRef, TLEventRef, void* userData);

// Reads the hot-key identity of a press; non-zero status when the event has none.
inline TLOSStatus TLGetEventHotKeyID(TLEventRef event, TLHotKeyID* out) {
    if (event == nullptr || !event->hotKeyID || out == nullptr) {
        return TLEventNotHandledErr;
    }
    *out = *event->hotKeyID;
    return TLNoErr;
}

// One combination to register: virtual key code (see TLKeyCodes), Carbon modifier mask and
// the identity its presses carry.
struct TLHotKeyRequest {
    std::uint32_t keyCode = 0;
    std::uint32_t modifiers = 0;
    TLHotKeyID hotKeyID;
};

// Opaque handle of a registered hot key; never 0.
using TLHotKeyRef = std::uint64_t;

// System-wide hot keys. Registration takes a whole batch so that a backend can check every
// combination in one exchange with the system.
class TLHotKeyService {
public:
    virtual ~TLHotKeyService() = default;

    // One result per request, in request order: the handle, or nothing when the system
    // refused the combination (held elsewhere, already registered, no such key).
    virtual std::vector<std::optional<TLHotKeyRef>>
    registerHotKeys(const std::vector<TLHotKeyRequest>& requests) = 0;
    virtual void unregisterHotKey(TLHotKeyRef ref) = 0;

    // One handler per service; a later call replaces it, a null proc removes it.
    virtual void installEventHandler(TLEventHandlerProc proc, void* userData) = 0;

    // Registrations the system took back later (a changed keyboard mapping whose new lock-key
    // variants another program holds). They are released whole and count as unregistered.
    using LossHandler = std::function<void(const std::vector<TLHotKeyRef>& lost)>;
    virtual void installLossHandler(LossHandler handler) = 0;
};
