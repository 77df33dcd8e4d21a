#include "TLLoginItem.h"

#include "TLLoginItemService.h"

namespace {

TLLoginItemService* gService = nullptr;

} // namespace

void TLLoginItem::setService(TLLoginItemService* service) {
    gService = service;
}

bool TLLoginItem::isAvailable() {
    return gService && gService->isAvailable();
}

bool TLLoginItem::isEnabled() {
    return isAvailable() && gService->status() == TLLoginItemStatus::Enabled;
}

bool TLLoginItem::setEnabled(bool enabled, TLError* error) {
    if (!isAvailable()) {
        if (error) {
            *error = unavailableError();
        }
        return false;
    }
    return enabled ? gService->registerItem(error) : gService->unregisterItem(error);
}

TLError TLLoginItem::unavailableError() {
    return TLError{QStringLiteral("Tilora"), 1, QStringLiteral("Erst ab macOS 13 verfügbar.")};
}
