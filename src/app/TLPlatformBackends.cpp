#include "TLPlatformBackends.h"

#include "TLHotkeyManager.h"
#include "TLKeyboardLayout.h"
#include "TLLoginItem.h"
#include "TLWindowMover.h"
#include "TLX11Accessibility.h"
#include "TLX11Displays.h"
#include "TLX11HotKeyService.h"
#include "TLX11KeyboardLayout.h"
#include "TLX11Session.h"
#include "TLXdgAutostart.h"

TLPlatformBackends& TLPlatformBackends::install() {
    // Never destroyed: the singletons that use the backends live as long as the process.
    static TLPlatformBackends* const backends = new TLPlatformBackends();
    return *backends;
}

TLPlatformBackends::TLPlatformBackends() : session_(TLX11Session::open()) {
    if (session_) {
        accessibility_ = std::make_unique<TLX11Accessibility>(session_);
        displays_ = std::make_unique<TLX11Displays>(session_);
        TLWindowMover::setPlatform(accessibility_.get(), displays_.get());

        hotKeys_ = std::make_unique<TLX11HotKeyService>();
        if (hotKeys_->isConnected()) {
            TLHotkeyManager::installHotKeyService(hotKeys_.get());
        }
        keyboardLayout_ = std::make_unique<TLX11KeyboardLayout>();
        if (keyboardLayout_->isReady()) {
            TLKeyboardLayout::install(keyboardLayout_.get());
        }
    }
    loginItems_ = TLXdgAutostart::forMainBundle();
    TLLoginItem::setService(loginItems_.get());
}
