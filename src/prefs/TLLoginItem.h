#pragma once

#include "TLError.h"

class TLLoginItemService;

// Start at login, switched through the platform's registration service. Where that service is
// not available, nothing can be switched.
class TLLoginItem {
public:
    explicit TLLoginItem(TLLoginItemService& service) : service_(service) {}

    bool isAvailable() const;
    // True exactly when the registration is in force (status Enabled).
    bool isEnabled() const;
    // Registers or unregisters; a failure of the service reaches error unchanged.
    bool setEnabled(bool enabled, TLError* error = nullptr);

    // The error every change reports while start at login is not available.
    static TLError unavailableError();

private:
    TLLoginItemService& service_;
};
