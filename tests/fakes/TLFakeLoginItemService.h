#pragma once

#include "TLLoginItemService.h"

#include <optional>

// A login-item registration in memory: availability and failures are set by the test, and the
// calls are counted.
class TLFakeLoginItemService : public TLLoginItemService {
public:
    bool available = true;
    TLLoginItemStatus currentStatus = TLLoginItemStatus::NotRegistered;
    // Status a successful registration leads to (a desktop may want the user's approval first).
    TLLoginItemStatus statusAfterRegister = TLLoginItemStatus::Enabled;
    std::optional<TLError> failure; // when set, every change fails with it
    int registerCalls = 0;
    int unregisterCalls = 0;

    bool isAvailable() const override { return available; }
    TLLoginItemStatus status() const override { return currentStatus; }
    bool registerItem(TLError* error) override;
    bool unregisterItem(TLError* error) override;
};
