#pragma once

#include "TLLayout.h"

#include <QString>

class TLAccessibility;
class TLDisplays;

// Carries a layout out on the focused window of the frontmost application. No instances and
// no state of its own: the platform backends are installed once with setPlatform().
class TLWindowMover {
public:
    TLWindowMover() = delete;

    static bool isTrusted();
    static void requestTrust();
    static void openAccessibilitySettings();
    // True when the new frame was written (not necessarily accepted by the application).
    static bool applyLayout(const TLLayout& layout, QString* error = nullptr);

    // Called once by the application, or by a test with fakes. Not owned; nullptr uninstalls.
    static void setPlatform(TLAccessibility* accessibility, TLDisplays* displays);

    static QString trustMessage();
    static QString noApplicationMessage();
    static QString noWindowMessage(const std::optional<QString>& applicationName, std::int32_t error);
    static QString unreadableFrameMessage();
    static QString singleDisplayMessage();
};
