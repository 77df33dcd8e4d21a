#pragma once

#include "TLLoginItemService.h"
#include "TLTest.h"

// A login-item registration in memory: availability and failures set by the test, calls counted.
class TLFakeLoginItemService final : public TLLoginItemService {
public:
    bool isAvailable() const override { return available; }
    TLLoginItemStatus status() const override { return currentStatus; }
    bool registerItem(TLError* error) override {
        return change(TLLoginItemStatus::Enabled, registerCalls, error);
    }
    bool unregisterItem(TLError* error) override {
        return change(TLLoginItemStatus::NotRegistered, unregisterCalls, error);
    }

    bool available = true;
    TLLoginItemStatus currentStatus = TLLoginItemStatus::NotRegistered;
    std::optional<TLError> failure; // when set, every change fails with it
    int registerCalls = 0;
    int unregisterCalls = 0;

private:
    bool change(TLLoginItemStatus to, int& calls, TLError* error) {
        ++calls;
        if (failure && error) {
            *error = *failure;
        }
        currentStatus = failure ? currentStatus : to;
        return !failure;
    }
};
