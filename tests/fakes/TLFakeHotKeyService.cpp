#include "TLFakeHotKeyService.h"

std::vector<std::optional<TLHotKeyRef>>
TLFakeHotKeyService::registerHotKeys(const std::vector<TLHotKeyRequest>& requests) {
    ++batchCount;
    std::vector<std::optional<TLHotKeyRef>> results;
    for (const TLHotKeyRequest& request : requests) {
        if (taken.count({request.keyCode, request.modifiers}) != 0 ||
            registrationFor(request.keyCode, request.modifiers)) {
            results.emplace_back();
            continue;
        }
        const TLHotKeyRef ref = nextRef_++;
        registered_.emplace(ref, request);
        results.emplace_back(ref);
    }
    return results;
}

void TLFakeHotKeyService::unregisterHotKey(TLHotKeyRef ref) {
    ++unregisterCount;
    registered_.erase(ref);
}

void TLFakeHotKeyService::installEventHandler(TLEventHandlerProc proc, void* userData) {
    proc_ = proc;
    userData_ = userData;
}

std::optional<TLHotKeyRequest> TLFakeHotKeyService::registrationFor(std::uint32_t keyCode,
                                                                    std::uint32_t modifiers) const {
    for (const auto& [ref, request] : registered_) {
        if (request.keyCode == keyCode && request.modifiers == modifiers) {
            return request;
        }
    }
    return std::nullopt;
}

std::optional<TLOSStatus> TLFakeHotKeyService::press(std::uint32_t keyCode, std::uint32_t modifiers) {
    const std::optional<TLHotKeyRequest> request = registrationFor(keyCode, modifiers);
    if (!request) {
        return std::nullopt;
    }
    return deliver(TLHotKeyEvent{request->hotKeyID});
}

TLOSStatus TLFakeHotKeyService::deliver(const TLHotKeyEvent& event) {
    if (proc_ == nullptr) {
        return TLEventNotHandledErr;
    }
    return proc_(nullptr, &event, userData_);
}

void TLFakeHotKeyService::lose(const std::vector<TLHotKeyRef>& refs) {
    for (TLHotKeyRef ref : refs) {
        registered_.erase(ref);
    }
    if (lossHandler_) {
        lossHandler_(refs);
    }
}
