#pragma once

#include "TLGeometry.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>

// An element of the accessibility interface: an application or one of its windows. Backends
// subclass it; whoever holds the pointer releases the element by destroying it.
class TLAXElement {
public:
    virtual ~TLAXElement() = default;
};

using TLAXElementPtr = std::unique_ptr<TLAXElement>;

// The application whose window has the keyboard focus.
struct TLRunningApplication {
    std::int64_t processIdentifier = 0;   // 0 when the platform cannot tell
    std::optional<QString> localizedName; // absent when the application has no name
    std::uint64_t nativeHandle = 0;       // backend-specific identity (X11: the active window)
};

// The accessibility services the window mover needs: trust, the frontmost application, its
// focused or main window, and that window's position and size. Error codes are the backend's;
// 0 is success everywhere.
class TLAccessibility {
public:
    static constexpr std::int32_t kSuccess = 0;

    enum class WindowAttribute { FocusedWindow, MainWindow };

    virtual ~TLAccessibility() = default;

    virtual bool isProcessTrusted() = 0;
    // Side effect only: asks the system to prompt for access where it has such a prompt.
    virtual void requestTrustPrompt() = 0;

    virtual std::optional<TLRunningApplication> frontmostApplication() = 0;
    virtual TLAXElementPtr createApplicationElement(const TLRunningApplication& application) = 0;

    // Stores the window (or nullptr when the application reports none) through *window.
    virtual std::int32_t copyWindow(TLAXElement& application, WindowAttribute attribute,
                                    TLAXElementPtr* window) = 0;
    // Window frame in accessibility coordinates (top-left of the primary display, y down).
    // On success the value may still be absent: a value of the wrong kind.
    virtual std::int32_t copyPosition(TLAXElement& window, std::optional<TLPoint>* position) = 0;
    virtual std::int32_t copySize(TLAXElement& window, std::optional<TLSize>* size) = 0;
    // Requests to move or resize; whether the application complies is not reported.
    virtual void setPosition(TLAXElement& window, TLPoint position) = 0;
    virtual void setSize(TLAXElement& window, TLSize size) = 0;
};
