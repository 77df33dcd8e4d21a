#pragma once

#include "TLTest.h"
#include "TLXcb.h"

#include <xcb/xtest.h>

// X keycodes (evdev + 8) of the keys the x11 tests press.
namespace TLXKey {
enum : xcb_keycode_t {
    Digit1 = 10,
    Digit2 = 11,
    ControlL = 37,
    LetterZ = 52,
    AltL = 64,
    CapsLock = 66,
    NumLock = 77
};
} // namespace TLXKey

// Another client of the test desktop: the user at keyboard and mouse (through XTest), or a
// program holding key grabs of its own. Every request is finished before a call returns.
class TLXTestUser {
public:
    explicit TLXTestUser(const std::string& display)
        : c_(xcb_connect(display.c_str(), nullptr)),
          root_(xcb_setup_roots_iterator(xcb_get_setup(c_.get())).data->root) {}

    xcb_connection_t* get() const { return c_.get(); }
    void press(xcb_keycode_t key) { fake(XCB_KEY_PRESS, key); }
    void release(xcb_keycode_t key) { fake(XCB_KEY_RELEASE, key); }
    // Presses the keys in order and releases them in reverse.
    void chord(const std::vector<xcb_keycode_t>& keys) {
        for (xcb_keycode_t key : keys) {
            press(key);
        }
        for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
            release(*it);
        }
    }
    // True when the server granted the grab.
    bool grab(xcb_keycode_t key, std::uint16_t modifiers) {
        return !TLXcbError(
            xcb_request_check(c_.get(), xcb_grab_key_checked(c_.get(), 1, root_, modifiers, key,
                                                             XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
    }
    void ungrab(xcb_keycode_t key, std::uint16_t modifiers) {
        TLXcbError(xcb_request_check(c_.get(), xcb_ungrab_key_checked(c_.get(), key, root_, modifiers)));
    }

private:
    void fake(uint8_t type, uint8_t detail) {
        xcb_test_fake_input(c_.get(), type, detail, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        TLXcbReply<xcb_get_input_focus_reply_t>(
            xcb_get_input_focus_reply(c_.get(), xcb_get_input_focus(c_.get()), nullptr));
    }

    TLXcbConnection c_;
    xcb_window_t root_;
};
