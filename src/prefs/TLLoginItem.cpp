#include "TLLoginItem.h"

#include "TLLoginItemService.h"

bool TLLoginItem::isAvailable() const {
    return service_.isAvailable();
}

bool TLLoginItem::isEnabled() const {
    return isAvailable() && service_.status() == TLLoginItemStatus::Enabled;
}

bool TLLoginItem::setEnabled(bool enabled, TLError* error) {
    if (!isAvailable()) {
        if (error) {
            *error = unavailableError();
        }
        return false;
    }
    return enabled ? service_.registerItem(error) : service_.unregisterItem(error);
}

TLError TLLoginItem::unavailableError() {
    return TLError{QStringLiteral("Tilora"), 1, QStringLiteral("Ohne Konfigurationsordner nicht verfügbar.")};
}
