#pragma once

#include "TLError.h"

// The registration state of the application's start at login.
enum class TLLoginItemStatus {
    NotRegistered = 0,
    Enabled = 1,
    RequiresApproval = 2, // registered, but switched off by the user or the desktop
    NotFound = 3,         // registered for a program that is not this one
};

// The platform's start-at-login registration of the running application.
class TLLoginItemService {
public:
    virtual ~TLLoginItemService() = default;

    virtual bool isAvailable() const = 0;
    virtual TLLoginItemStatus status() const = 0;
    // Both fill error, when given, with the platform's reason for a failure.
    virtual bool registerItem(TLError* error) = 0;
    virtual bool unregisterItem(TLError* error) = 0;
};
