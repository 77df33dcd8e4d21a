#include "TLFakeDesktop.h"

#include <algorithm>
#include <sstream>

namespace {

class FakeElement : public TLAXElement {
public:
    FakeElement(std::string kind, int* live) : kind_(std::move(kind)), live_(live) { ++*live_; }
    ~FakeElement() override { --*live_; }
    const std::string& kind() const { return kind_; }

private:
    std::string kind_;
    int* live_;
};

const std::string& kindOf(TLAXElement& element) {
    return static_cast<FakeElement&>(element).kind();
}

std::string pair(double a, double b) {
    std::ostringstream out;
    out << a << ',' << b;
    return out.str();
}

} // namespace

TLDisplay TLFakeDesktop::display(double x, double y, double width, double height, double topBar) {
    return TLDisplay{{x, y, width, height}, {x, y, width, height - topBar}};
}

TLAXElementPtr TLFakeDesktop::element(const std::string& kind) {
    return std::make_unique<FakeElement>(kind, &liveElements);
}

bool TLFakeDesktop::isProcessTrusted() {
    calls.push_back("isProcessTrusted");
    return trusted;
}

void TLFakeDesktop::requestTrustPrompt() {
    calls.push_back("requestTrustPrompt");
    ++promptRequests;
}

std::optional<TLRunningApplication> TLFakeDesktop::frontmostApplication() {
    calls.push_back("frontmostApplication");
    return application;
}

TLAXElementPtr TLFakeDesktop::createApplicationElement(const TLRunningApplication&) {
    calls.push_back("createApplicationElement");
    return element("application");
}

std::int32_t TLFakeDesktop::copyWindow(TLAXElement& application, WindowAttribute attribute,
                                       TLAXElementPtr* window) {
    const bool isFocused = attribute == WindowAttribute::FocusedWindow;
    calls.push_back(isFocused ? "copyWindow:AXFocusedWindow" : "copyWindow:AXMainWindow");
    if (kindOf(application) != "application") {
        return -25202; // wrong element: a fault in the caller, visible in the result
    }
    const WindowAnswer& answer = isFocused ? focused : main;
    if (answer.error == kSuccess && answer.hasWindow) {
        *window = element(isFocused ? "focused" : "main");
    }
    return answer.error;
}

std::int32_t TLFakeDesktop::copyPosition(TLAXElement& window, std::optional<TLPoint>* out) {
    calls.push_back("copyPosition:" + kindOf(window));
    if (positionError == kSuccess) {
        *out = position;
    }
    return positionError;
}

std::int32_t TLFakeDesktop::copySize(TLAXElement& window, std::optional<TLSize>* out) {
    calls.push_back("copySize:" + kindOf(window));
    if (sizeError == kSuccess) {
        *out = size;
    }
    return sizeError;
}

void TLFakeDesktop::setPosition(TLAXElement& window, TLPoint p) {
    calls.push_back("setPosition:" + kindOf(window) + " " + pair(p.x, p.y));
}

void TLFakeDesktop::setSize(TLAXElement& window, TLSize s) {
    calls.push_back("setSize:" + kindOf(window) + " " + pair(s.width, s.height));
}

std::size_t TLFakeDesktop::count(const std::string& prefix) const {
    return std::size_t(std::count_if(calls.begin(), calls.end(),
                                     [&](const std::string& call) { return call.starts_with(prefix); }));
}

std::vector<TLDisplay> TLFakeDesktop::displays() {
    calls.push_back("displays");
    return displayList;
}

std::optional<std::size_t> TLFakeDesktop::mainDisplay() {
    calls.push_back("mainDisplay");
    return mainDisplayIndex;
}

std::optional<TLPoint> TLFakeDesktop::mouseLocation() {
    calls.push_back("mouseLocation");
    return mouse;
}
