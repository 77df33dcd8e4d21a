#pragma once

#include "TLHotKeyService.h"
#include "TLXcb.h"

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <vector>

class QSocketNotifier;

// System hot keys on X11: key grabs on the root window over a private xcb connection,
// watched by a socket notifier on the thread that creates the service. Each combination is
// grabbed together with its Caps / Num / Scroll Lock variants (masks read from the modifier
// map); it is refused when the server answers BadAccess for any variant (another client
// holds it), and the variants already taken are released again.
class TLX11HotKeyService final : public TLHotKeyService {
public:
    // Connects to the given display, or to $DISPLAY when null.
    explicit TLX11HotKeyService(const char* displayName = nullptr);
    ~TLX11HotKeyService() override;
    TLX11HotKeyService(const TLX11HotKeyService&) = delete;
    TLX11HotKeyService& operator=(const TLX11HotKeyService&) = delete;

    bool isConnected() const;

    std::vector<std::optional<TLHotKeyRef>>
    registerHotKeys(const std::vector<TLHotKeyRequest>& requests) override;
    void unregisterHotKey(TLHotKeyRef ref) override;
    void installEventHandler(TLEventHandlerProc proc, void* userData) override;

    // Handles every event waiting on the connection: presses go to the handler, a changed
    // keyboard or modifier mapping grabs everything anew. The socket notifier calls it.
    void processEvents();

private:
    struct Grab {
        xcb_keycode_t keycode = 0;
        std::uint16_t modifiers = 0;
        std::vector<std::uint16_t> lockVariants; // the variants this grab was made with
        TLHotKeyID hotKeyID;
    };

    void useXkb();
    void readLockMasks();
    std::vector<std::uint16_t> lockVariants() const;
    void ungrab(const Grab& grab);
    void regrabAll();
    void scheduleProcessEvents();

    TLXcbConnection connection_;
    xcb_window_t root_ = XCB_WINDOW_NONE;
    xcb_keycode_t minKeycode_ = 0;
    xcb_keycode_t maxKeycode_ = 0;
    std::uint16_t lockMask_ = 0;
    std::uint8_t xkbEventBase_ = 0; // 0: no XKB on this connection
    std::map<TLHotKeyRef, Grab> grabs_;
    std::set<xcb_keycode_t> keysDown_; // grabbed keys pressed and not yet released
    TLHotKeyRef nextRef_ = 1;
    TLEventHandlerProc proc_ = nullptr;
    void* userData_ = nullptr;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool processScheduled_ = false;
    // Lets a queued call notice that the service is gone.
    std::shared_ptr<bool> alive_;
};
