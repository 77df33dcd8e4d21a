#include "TLX11Platform.h"

#include "TLX11Connection.h"
#include "TLX11HotKeyService.h"
#include "TLX11KeyboardLayout.h"
#include "TLX11WindowControl.h"

std::unique_ptr<TLX11Platform> TLX11Platform::open() {
    std::unique_ptr<TLX11Connection> connection = TLX11Connection::open();
    return connection ? std::unique_ptr<TLX11Platform>(new TLX11Platform(std::move(connection))) : nullptr;
}

TLX11Platform::TLX11Platform(std::unique_ptr<TLX11Connection> connection)
    : connection_(std::move(connection)) {}

// Backends first: they stop listening to the connection before it goes.
TLX11Platform::~TLX11Platform() {
    keyboardLayout_.reset();
    hotKeyService_.reset();
    windowControl_.reset();
}

TLWindowControl& TLX11Platform::windowControl() {
    if (!windowControl_) {
        windowControl_ = std::make_unique<TLX11WindowControl>(*connection_);
    }
    return *windowControl_;
}

TLHotKeyService& TLX11Platform::hotKeyService() {
    if (!hotKeyService_) {
        hotKeyService_ = std::make_unique<TLX11HotKeyService>(*connection_);
    }
    return *hotKeyService_;
}

TLKeyboardLayout& TLX11Platform::keyboardLayout() {
    if (!keyboardLayout_) {
        keyboardLayout_ = std::make_unique<TLX11KeyboardLayout>(*connection_);
    }
    return *keyboardLayout_;
}
