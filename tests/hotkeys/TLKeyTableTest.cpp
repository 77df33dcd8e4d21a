#include "TLKeyTable.h"

#include <Qt>

#include <gtest/gtest.h>

#include <set>

TEST(TLKeyTable, KnownKeysMapToTheirPhysicalPositionAndQtKey) {
    struct Row {
        const char* key;
        std::int64_t virtualKeyCode;
        int evdev;
        int qtKey;
        bool keypad;
    };
    // Anchors from the kernel's input codes (KEY_A = 30, KEY_Z = 44, ...).
    const Row rows[] = {
        {"A", 0, 30, Qt::Key_A, false},
        {"Z", 6, 44, Qt::Key_Z, false},
        {"Y", 16, 21, Qt::Key_Y, false},
        {"1", 18, 2, Qt::Key_1, false},
        {"Return", 36, 28, Qt::Key_Return, false},
        {"Escape", 53, 1, Qt::Key_Escape, false},
        {"keypad Enter", 76, 96, Qt::Key_Enter, true},
        {"keypad 0", 82, 82, Qt::Key_0, true},
        {"keypad .", 65, 83, Qt::Key_Period, true},
        {"F1", 122, 59, Qt::Key_F1, false},
        {"F13", 105, 183, Qt::Key_F13, false},
        {"F20", 90, 190, Qt::Key_F20, false},
        {"Forward Delete", 117, 111, Qt::Key_Delete, false},
        {"Up", 126, 103, Qt::Key_Up, false},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(TLKeyTable::xKeycodeFromVirtualKeyCode(row.virtualKeyCode), row.evdev + 8) << row.key;
        EXPECT_EQ(TLKeyTable::virtualKeyCodeFromXKeycode(row.evdev + 8), row.virtualKeyCode) << row.key;
        const TLKey* key = TLKeyTable::byQtKey(row.qtKey, row.keypad);
        ASSERT_NE(key, nullptr) << row.key;
        EXPECT_EQ(key->virtualKeyCode, row.virtualKeyCode) << row.key;
    }
    // Qt's other names for a key, and a keypad key that Qt reports without the keypad flag.
    EXPECT_EQ(TLKeyTable::byQtKey(Qt::Key_Backtab, false)->virtualKeyCode, 48);
    EXPECT_EQ(TLKeyTable::byQtKey(Qt::Key_Help, false)->virtualKeyCode, 114);
    EXPECT_EQ(TLKeyTable::byQtKey(Qt::Key_1, true)->virtualKeyCode, 83);
    EXPECT_EQ(TLKeyTable::byQtKey(Qt::Key_Return, true)->virtualKeyCode, 36);
    EXPECT_EQ(TLKeyTable::byQtKey(Qt::Key_Asterisk, false), nullptr);
}

TEST(TLKeyTable, EveryPhysicalKeyOnceAndEveryFixedLabelAndFunctionKeyGrabbable) {
    std::set<int> evdevCodes;
    int functionKeys = 0;
    int labels = 0;
    for (const TLKey& key : TLKeyTable::keys()) {
        EXPECT_TRUE(evdevCodes.insert(key.evdev).second) << "evdev " << key.evdev << " used twice";
        EXPECT_EQ(TLKeyTable::byVirtualKeyCode(key.virtualKeyCode), &key);
        functionKeys += key.isFunctionKey() ? 1 : 0;
        labels += key.label ? 1 : 0;
    }
    EXPECT_EQ(functionKeys, 20);
    EXPECT_EQ(labels, 27);
    // Command, Shift, Caps Lock, Option, Control, their right-hand twins, fn; modifier keys
    // and codes below the X range have no virtual key code.
    for (std::int64_t code : {55, 56, 57, 58, 59, 60, 61, 62, 63, -1, 127, 0x10000}) {
        EXPECT_FALSE(TLKeyTable::xKeycodeFromVirtualKeyCode(code)) << code;
    }
    for (int keycode : {29 + 8, 42 + 8, 56 + 8, 58 + 8, 69 + 8, 125 + 8, 8, 0}) {
        EXPECT_FALSE(TLKeyTable::virtualKeyCodeFromXKeycode(keycode)) << keycode;
    }
}
