#pragma once

#include "TLX11Atoms.h"
#include "TLXcb.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class QSocketNotifier;

// The program's one connection to the X server, shared by window control, hot keys and key
// labels: the screen it was opened for, the atoms of TLX11Atoms.h interned in one batch, the
// XKB and RandR event bases, and one notifier that hands every event to the listeners
// registered here. Independent of Qt's own platform connection.
class TLX11Connection {
public:
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void handleEvent(const xcb_generic_event_t& event) = 0;
        // After a run of events was handed out: for work a burst of events needs only once.
        virtual void eventsHandled() {}
    };

    // nullptr when no X server can be reached; displayName nullptr means $DISPLAY.
    static std::unique_ptr<TLX11Connection> open(const char* displayName = nullptr);
    ~TLX11Connection();
    TLX11Connection(const TLX11Connection&) = delete;
    TLX11Connection& operator=(const TLX11Connection&) = delete;

    xcb_connection_t* get() const { return connection_.get(); }
    bool isConnected() const;
    const xcb_screen_t& screen() const { return screen_; }
    xcb_window_t root() const { return screen_.root; }
    xcb_atom_t atom(TLX11Atom atom) const { return atoms_[static_cast<std::size_t>(atom)]; }

    // XKB: 0 without the extension. An XKB event's own type is its second byte.
    std::uint8_t xkbEventBase() const { return xkbEventBase_; }
    std::optional<std::uint8_t> xkbEventType(const xcb_generic_event_t& event) const;
    // RandR: 0 without the extension.
    std::uint8_t randrEventBase() const { return randrEventBase_; }

    // Listeners get every event, in order; they are not owned and remove themselves before they go.
    void addListener(Listener& listener);
    void removeListener(Listener& listener);
    // Reads every event that has arrived and hands it to the listeners. The notifier calls it
    // while the event loop runs; a backend calls it before it relies on what events told it.
    void dispatchPending();

    // Property and structure changes of a window reach the listeners from now on.
    void watchWindow(xcb_window_t window);
    xcb_get_property_cookie_t requestProperty(xcb_window_t window, TLX11Atom property,
                                              std::uint32_t longLength = 1024) const;
    xcb_get_property_cookie_t requestProperty(xcb_window_t window, xcb_atom_t property,
                                              std::uint32_t longLength = 1024) const;
    // The reply to a property request; its X error code through *error when there is one.
    TLXcbReply<xcb_get_property_reply_t> property(xcb_get_property_cookie_t cookie,
                                                  std::int32_t* error = nullptr) const;
    // The 32-bit values of a property reply; empty when absent, of another format or on error.
    static std::vector<std::uint32_t> values32(const xcb_get_property_reply_t* reply);
    // Whether a list of atoms (a property's values) holds atom; never for XCB_ATOM_NONE.
    bool contains(const std::vector<std::uint32_t>& values, TLX11Atom atom) const;
    // An EWMH client message about window, sent to the root window for the window manager.
    void sendToWindowManager(xcb_window_t window, TLX11Atom type, const std::array<std::uint32_t, 5>& data);
    void flush() const;

private:
    TLX11Connection(TLXcbConnection connection, const xcb_screen_t& screen);
    void setUpExtensions();
    void watchFromEventLoop();

    TLXcbConnection connection_;
    xcb_screen_t screen_;
    std::array<xcb_atom_t, kTLX11AtomNames.size()> atoms_{};
    std::uint8_t xkbEventBase_ = 0;
    std::uint8_t randrEventBase_ = 0;
    std::vector<Listener*> listeners_;
    bool dispatching_ = false;
    std::unique_ptr<QSocketNotifier> notifier_;
};
