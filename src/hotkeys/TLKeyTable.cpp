#include "TLKeyTable.h"

#include <Qt>

#include <algorithm>
#include <array>

namespace {

constexpr auto Keypad = TLKey::Keypad;
constexpr auto Function = TLKey::Function;

// Sorted by virtual key code; every evdev code appears once.
constexpr std::array kKeys{
    TLKey{0, 30, Qt::Key_A},                              // A
    TLKey{1, 31, Qt::Key_S},                              // S
    TLKey{2, 32, Qt::Key_D},                              // D
    TLKey{3, 33, Qt::Key_F},                              // F
    TLKey{4, 35, Qt::Key_H},                              // H
    TLKey{5, 34, Qt::Key_G},                              // G
    TLKey{6, 44, Qt::Key_Z},                              // Z
    TLKey{7, 45, Qt::Key_X},                              // X
    TLKey{8, 46, Qt::Key_C},                              // C
    TLKey{9, 47, Qt::Key_V},                              // V
    TLKey{10, 86, 0},                                     // the extra ISO key beside the left Shift
    TLKey{11, 48, Qt::Key_B},                             // B
    TLKey{12, 16, Qt::Key_Q},                             // Q
    TLKey{13, 17, Qt::Key_W},                             // W
    TLKey{14, 18, Qt::Key_E},                             // E
    TLKey{15, 19, Qt::Key_R},                             // R
    TLKey{16, 21, Qt::Key_Y},                             // Y
    TLKey{17, 20, Qt::Key_T},                             // T
    TLKey{18, 2, Qt::Key_1},                              // 1
    TLKey{19, 3, Qt::Key_2},                              // 2
    TLKey{20, 4, Qt::Key_3},                              // 3
    TLKey{21, 5, Qt::Key_4},                              // 4
    TLKey{22, 7, Qt::Key_6},                              // 6
    TLKey{23, 6, Qt::Key_5},                              // 5
    TLKey{24, 13, Qt::Key_Equal},                         // =
    TLKey{25, 10, Qt::Key_9},                             // 9
    TLKey{26, 8, Qt::Key_7},                              // 7
    TLKey{27, 12, Qt::Key_Minus},                         // -
    TLKey{28, 9, Qt::Key_8},                              // 8
    TLKey{29, 11, Qt::Key_0},                             // 0
    TLKey{30, 27, Qt::Key_BracketRight},                  // ]
    TLKey{31, 24, Qt::Key_O},                             // O
    TLKey{32, 22, Qt::Key_U},                             // U
    TLKey{33, 26, Qt::Key_BracketLeft},                   // [
    TLKey{34, 23, Qt::Key_I},                             // I
    TLKey{35, 25, Qt::Key_P},                             // P
    TLKey{36, 28, Qt::Key_Return, 0, "↩", 0x000D},        // Return
    TLKey{37, 38, Qt::Key_L},                             // L
    TLKey{38, 36, Qt::Key_J},                             // J
    TLKey{39, 40, Qt::Key_Apostrophe},                    // '
    TLKey{40, 37, Qt::Key_K},                             // K
    TLKey{41, 39, Qt::Key_Semicolon},                     // ;
    TLKey{42, 43, Qt::Key_Backslash},                     // backslash
    TLKey{43, 51, Qt::Key_Comma},                         // ,
    TLKey{44, 53, Qt::Key_Slash},                         // /
    TLKey{45, 49, Qt::Key_N},                             // N
    TLKey{46, 50, Qt::Key_M},                             // M
    TLKey{47, 52, Qt::Key_Period},                        // .
    TLKey{48, 15, Qt::Key_Tab, 0, "⇥", 0x0009},           // Tab
    TLKey{49, 57, Qt::Key_Space, 0, "Leertaste", 0x0020}, // Space
    TLKey{50, 41, Qt::Key_QuoteLeft},                     // `
    TLKey{51, 14, Qt::Key_Backspace, 0, "⌫", 0x0008},     // Delete (backspace)
    TLKey{53, 1, Qt::Key_Escape, 0, "⎋", 0x001B},         // Escape
    TLKey{64, 187, Qt::Key_F17, Function},                // F17
    TLKey{65, 83, Qt::Key_Period, Keypad},                // keypad .
    TLKey{67, 55, Qt::Key_Asterisk, Keypad},              // keypad *
    TLKey{69, 78, Qt::Key_Plus, Keypad},                  // keypad +
    TLKey{75, 98, Qt::Key_Slash, Keypad},                 // keypad /
    TLKey{76, 96, Qt::Key_Enter, 0, "⌤"},                 // keypad Enter
    TLKey{78, 74, Qt::Key_Minus, Keypad},                 // keypad -
    TLKey{79, 188, Qt::Key_F18, Function},                // F18
    TLKey{80, 189, Qt::Key_F19, Function},                // F19
    TLKey{81, 117, Qt::Key_Equal, Keypad},                // keypad =
    TLKey{82, 82, Qt::Key_0, Keypad},                     // keypad 0
    TLKey{83, 79, Qt::Key_1, Keypad},                     // keypad 1
    TLKey{84, 80, Qt::Key_2, Keypad},                     // keypad 2
    TLKey{85, 81, Qt::Key_3, Keypad},                     // keypad 3
    TLKey{86, 75, Qt::Key_4, Keypad},                     // keypad 4
    TLKey{87, 76, Qt::Key_5, Keypad},                     // keypad 5
    TLKey{88, 77, Qt::Key_6, Keypad},                     // keypad 6
    TLKey{89, 71, Qt::Key_7, Keypad},                     // keypad 7
    TLKey{90, 190, Qt::Key_F20, Function},                // F20
    TLKey{91, 72, Qt::Key_8, Keypad},                     // keypad 8
    TLKey{92, 73, Qt::Key_9, Keypad},                     // keypad 9
    TLKey{96, 63, Qt::Key_F5, Function, "F5"},            // F5
    TLKey{97, 64, Qt::Key_F6, Function, "F6"},            // F6
    TLKey{98, 65, Qt::Key_F7, Function, "F7"},            // F7
    TLKey{99, 61, Qt::Key_F3, Function, "F3"},            // F3
    TLKey{100, 66, Qt::Key_F8, Function, "F8"},           // F8
    TLKey{101, 67, Qt::Key_F9, Function, "F9"},           // F9
    TLKey{103, 87, Qt::Key_F11, Function, "F11"},         // F11
    TLKey{105, 183, Qt::Key_F13, Function},               // F13
    TLKey{106, 186, Qt::Key_F16, Function},               // F16
    TLKey{107, 184, Qt::Key_F14, Function},               // F14
    TLKey{109, 68, Qt::Key_F10, Function, "F10"},         // F10
    TLKey{111, 88, Qt::Key_F12, Function, "F12"},         // F12
    TLKey{113, 185, Qt::Key_F15, Function},               // F15
    TLKey{114, 110, Qt::Key_Insert},                      // Help, where PC keyboards have Insert
    TLKey{115, 102, Qt::Key_Home, 0, "↖", 0xF729},        // Home
    TLKey{116, 104, Qt::Key_PageUp, 0, "⇞", 0xF72C},      // Page Up
    TLKey{117, 111, Qt::Key_Delete, 0, "⌦", 0xF728},      // Forward Delete
    TLKey{118, 62, Qt::Key_F4, Function, "F4"},           // F4
    TLKey{119, 107, Qt::Key_End, 0, "↘", 0xF72B},         // End
    TLKey{120, 60, Qt::Key_F2, Function, "F2"},           // F2
    TLKey{121, 109, Qt::Key_PageDown, 0, "⇟", 0xF72D},    // Page Down
    TLKey{122, 59, Qt::Key_F1, Function, "F1"},           // F1
    TLKey{123, 105, Qt::Key_Left, 0, "←", 0xF702},        // Left Arrow
    TLKey{124, 106, Qt::Key_Right, 0, "→", 0xF703},       // Right Arrow
    TLKey{125, 108, Qt::Key_Down, 0, "↓", 0xF701},        // Down Arrow
    TLKey{126, 103, Qt::Key_Up, 0, "↑", 0xF700},          // Up Arrow
};

static_assert(std::ranges::is_sorted(kKeys, {}, &TLKey::virtualKeyCode));

} // namespace

std::span<const TLKey> TLKeyTable::keys() {
    return kKeys;
}

const TLKey* TLKeyTable::byVirtualKeyCode(std::int64_t virtualKeyCode) {
    const auto it = std::ranges::lower_bound(kKeys, virtualKeyCode, {}, &TLKey::virtualKeyCode);
    return it != kKeys.end() && it->virtualKeyCode == virtualKeyCode ? &*it : nullptr;
}

const TLKey* TLKeyTable::byEvdev(int evdev) {
    const auto it = std::ranges::find(kKeys, evdev, &TLKey::evdev);
    return it != kKeys.end() ? &*it : nullptr;
}

const TLKey* TLKeyTable::byQtKey(int qtKey, bool keypad) {
    // Shift+Tab arrives as Backtab; PC keyboards have Insert where the Help key was.
    if (qtKey == Qt::Key_Backtab) {
        qtKey = Qt::Key_Tab;
    } else if (qtKey == Qt::Key_Help) {
        qtKey = Qt::Key_Insert;
    }
    const TLKey* plain = nullptr;
    for (const TLKey& key : kKeys) {
        if (key.qtKey != qtKey) {
            continue;
        }
        if (key.isKeypad() == keypad) {
            return &key;
        }
        if (!key.isKeypad()) {
            plain = &key; // the keypad's Enter, or a key Qt reports with the keypad flag anyway
        }
    }
    return plain;
}

std::optional<int> TLKeyTable::xKeycodeFromVirtualKeyCode(std::int64_t virtualKeyCode) {
    const TLKey* key = byVirtualKeyCode(virtualKeyCode);
    return key ? std::optional<int>(key->evdev + kXKeycodeOffset) : std::nullopt;
}

std::optional<std::int64_t> TLKeyTable::virtualKeyCodeFromXKeycode(int xKeycode) {
    const TLKey* key = byEvdev(xKeycode - kXKeycodeOffset);
    return key ? std::optional<std::int64_t>(key->virtualKeyCode) : std::nullopt;
}
