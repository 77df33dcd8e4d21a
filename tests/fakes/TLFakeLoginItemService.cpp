#include "TLFakeLoginItemService.h"

bool TLFakeLoginItemService::registerItem(TLError* error) {
    ++registerCalls;
    if (failure) {
        if (error) {
            *error = *failure;
        }
        return false;
    }
    currentStatus = statusAfterRegister;
    return true;
}

bool TLFakeLoginItemService::unregisterItem(TLError* error) {
    ++unregisterCalls;
    if (failure) {
        if (error) {
            *error = *failure;
        }
        return false;
    }
    currentStatus = TLLoginItemStatus::NotRegistered;
    return true;
}
