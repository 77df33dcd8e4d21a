#pragma once

#include <cstdint>
#include <optional>

// Virtual key codes (the physical key positions shortcuts are stored with, 0 = the key
// labelled A on a US keyboard) and the physical keys of Linux input devices (evdev codes;
// an X keycode is the evdev code + 8). One table serves both directions, so a stored shortcut
// means the same physical key whatever the keyboard layout.
class TLKeyCodes {
public:
    static constexpr int kXKeycodeOffset = 8;

    static std::optional<int> evdevFromVirtualKeyCode(std::int64_t virtualKeyCode);
    static std::optional<std::int64_t> virtualKeyCodeFromEvdev(int evdevCode);

    static std::optional<int> xKeycodeFromVirtualKeyCode(std::int64_t virtualKeyCode);
    static std::optional<std::int64_t> virtualKeyCodeFromXKeycode(int xKeycode);

    // Every virtual key code the table knows, ascending.
    static const std::int64_t* begin();
    static const std::int64_t* end();
};
