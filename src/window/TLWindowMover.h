#pragma once

#include "TLLayout.h"

#include <QString>

#include <cstdint>
#include <optional>

class TLWindowControl;

// Carries a layout out on the focused window of the frontmost application, through the window
// control it was made with. Keeps nothing from one call to the next.
class TLWindowMover {
public:
    explicit TLWindowMover(TLWindowControl& control) : control_(control) {}

    bool isTrusted() const;
    void requestTrust();
    // X11 has no permission pane; the help page explains what Tilora needs instead.
    static void openAccessibilitySettings();
    // True when the new frame was requested (not necessarily accepted by the application).
    bool applyLayout(const TLLayout& layout, QString* error = nullptr);

    static QString trustMessage();
    static QString noApplicationMessage();
    static QString noWindowMessage(const std::optional<QString>& applicationName, std::int32_t error);
    static QString unreadableFrameMessage();
    // The window system refused the new frame, for the reason it gave.
    static QString cannotChangeMessage(const std::optional<QString>& applicationName, const QString& reason);

private:
    TLWindowControl& control_;
};
