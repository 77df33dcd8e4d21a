#pragma once

#include "TLError.h"

class TLLoginItemService;

// Start at login, switched through the registration service the application installs.
// Without a service, or with one that is not available, nothing can be switched.
class TLLoginItem {
public:
    TLLoginItem() = delete;

    // Not owned; it must stay alive while it is installed. nullptr removes it.
    static void setService(TLLoginItemService* service);

    static bool isAvailable();
    // True exactly when the registration is in force (status Enabled).
    static bool isEnabled();
    // Registers or unregisters; a failure of the service reaches error unchanged.
    static bool setEnabled(bool enabled, TLError* error = nullptr);

    // The error every change reports while start at login is not available.
    static TLError unavailableError();
};
