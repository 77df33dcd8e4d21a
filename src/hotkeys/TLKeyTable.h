#pragma once

#include <cstdint>
#include <optional>
#include <span>

// The keys a shortcut can name, in one table: the virtual key code (the physical position
// shortcuts are stored with, 0 = the key labelled A on a US keyboard), the Linux input code of
// that key (an X keycode is the evdev code + 8), the Qt key a key event carries for it, its
// fixed label and its fixed menu character. Modifier and lock keys are missing on purpose:
// they cannot be the key of a shortcut.
struct TLKey {
    enum Trait : std::uint8_t {
        Keypad = 1,   // Qt reports it with Qt::KeypadModifier
        Function = 2, // F1 to F20: a shortcut without modifiers
    };

    std::int64_t virtualKeyCode;
    int evdev;
    int qtKey; // Qt::Key on a US keyboard; 0 for none
    std::uint8_t traits = 0;
    const char* label = nullptr; // fixed label; nullptr: the keyboard layout labels it
    char16_t menuCharacter = 0;  // fixed key equivalent of a menu item; 0: none

    bool isKeypad() const { return (traits & Keypad) != 0; }
    bool isFunctionKey() const { return (traits & Function) != 0; }
};

class TLKeyTable {
public:
    static constexpr int kXKeycodeOffset = 8;

    // Virtual key codes the other layers name.
    static constexpr std::int64_t kDelete = 51; // backspace
    static constexpr std::int64_t kEscape = 53;
    static constexpr std::int64_t kForwardDelete = 117;

    // Every key, ascending by virtual key code.
    static std::span<const TLKey> keys();

    static const TLKey* byVirtualKeyCode(std::int64_t virtualKeyCode);
    static const TLKey* byEvdev(int evdev);
    // The key a Qt key event names, for events without a native key code.
    static const TLKey* byQtKey(int qtKey, bool keypad);

    static std::optional<int> xKeycodeFromVirtualKeyCode(std::int64_t virtualKeyCode);
    static std::optional<std::int64_t> virtualKeyCodeFromXKeycode(int xKeycode);
};
