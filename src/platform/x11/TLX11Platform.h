#pragma once

#include "TLPlatform.h"

#include <memory>

class TLX11Connection;
class TLX11HotKeyService;
class TLX11KeyboardLayout;
class TLX11WindowControl;

// X11: the program's one X connection and the backends over it. The X server's end is Qt's
// to notice (its X11 platform ends the program); grabs end with the connection.
class TLX11Platform final : public TLPlatform {
public:
    // nullptr when no X server answers at DISPLAY.
    static std::unique_ptr<TLX11Platform> open();
    ~TLX11Platform() override;

    QByteArray qtPlatformName() const override { return "xcb"; }
    TLWindowControl& windowControl() override;
    TLHotKeyService& hotKeyService() override;
    TLKeyboardLayout& keyboardLayout() override;
    void setEndedHandler(std::function<void(const QString&)> /*handler*/) override {}
    void finish() override {}

private:
    explicit TLX11Platform(std::unique_ptr<TLX11Connection> connection);

    std::unique_ptr<TLX11Connection> connection_;
    std::unique_ptr<TLX11WindowControl> windowControl_;
    std::unique_ptr<TLX11HotKeyService> hotKeyService_;
    std::unique_ptr<TLX11KeyboardLayout> keyboardLayout_;
};
