#pragma once

#include <memory>

class TLLoginItemService;
class TLX11Accessibility;
class TLX11Displays;
class TLX11HotKeyService;
class TLX11KeyboardLayout;
class TLX11Session;

// The Linux/X11 implementations of every platform interface, built once and installed into
// the window mover, the hot-key manager, the key labels and the login item before any of
// them is first used. They stay installed until the process ends.
class TLPlatformBackends {
public:
    // Builds and installs them; the X11 parts only when an X server can be reached.
    static TLPlatformBackends& install();

    bool hasDisplay() const { return session_ != nullptr; }

private:
    TLPlatformBackends();

    std::shared_ptr<TLX11Session> session_;
    std::unique_ptr<TLX11Accessibility> accessibility_;
    std::unique_ptr<TLX11Displays> displays_;
    std::unique_ptr<TLX11HotKeyService> hotKeys_;
    std::unique_ptr<TLX11KeyboardLayout> keyboardLayout_;
    std::unique_ptr<TLLoginItemService> loginItems_;
};
