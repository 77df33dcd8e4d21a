#pragma once

#include "TLAccessibility.h"
#include "TLDisplays.h"

#include <string>
#include <vector>

// A scripted desktop for the window mover: what the accessibility and display services answer
// is set up front; every call is recorded in order, writes with their values.
class TLFakeDesktop : public TLAccessibility, public TLDisplays {
public:
    // One window query's answer: an error code, and on success whether a window comes back.
    struct WindowAnswer {
        std::int32_t error = kSuccess;
        bool hasWindow = true;
    };

    bool trusted = true;
    std::optional<TLRunningApplication> application = TLRunningApplication{4242, QString("Editor"), 7};
    WindowAnswer focused;
    WindowAnswer main;
    std::int32_t positionError = kSuccess;
    std::int32_t sizeError = kSuccess;
    std::optional<TLPoint> position = TLPoint{100, 100};
    std::optional<TLSize> size = TLSize{800, 600};
    std::vector<TLDisplay> displayList;
    std::optional<std::size_t> mainDisplayIndex = 0;
    std::optional<TLPoint> mouse;

    // Calls in order, by operation name and element ("copyWindow:AXFocusedWindow",
    // "copySize:main", "setPosition:focused 720,25", ...).
    std::vector<std::string> calls;
    int promptRequests = 0;
    int liveElements = 0; // elements handed out and not yet released

    // A single display in global coordinates with a top bar of the given height.
    static TLDisplay display(double x, double y, double width, double height, double topBar = 0);
    // How many recorded calls begin with prefix.
    std::size_t count(const std::string& prefix) const;

    bool isProcessTrusted() override;
    void requestTrustPrompt() override;
    std::optional<TLRunningApplication> frontmostApplication() override;
    TLAXElementPtr createApplicationElement(const TLRunningApplication& application) override;
    std::int32_t copyWindow(TLAXElement& application, WindowAttribute attribute,
                            TLAXElementPtr* window) override;
    std::int32_t copyPosition(TLAXElement& window, std::optional<TLPoint>* position) override;
    std::int32_t copySize(TLAXElement& window, std::optional<TLSize>* size) override;
    void setPosition(TLAXElement& window, TLPoint position) override;
    void setSize(TLAXElement& window, TLSize size) override;

    std::vector<TLDisplay> displays() override;
    std::optional<std::size_t> mainDisplay() override;
    std::optional<TLPoint> mouseLocation() override;

private:
    TLAXElementPtr element(const std::string& kind);
};
