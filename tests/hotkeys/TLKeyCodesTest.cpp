#include "TLKeyCodes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

TEST(TLKeyCodes, KnownKeysMapToTheirPhysicalPosition) {
    struct Row {
        const char* key;
        std::int64_t virtualKeyCode;
        int evdev;
    };
    // Anchors from the kernel's input codes (KEY_A = 30, KEY_Z = 44, ...).
    const Row rows[] = {
        {"A", 0, 30},         {"Z", 6, 44},          {"Y", 16, 21},
        {"1", 18, 2},         {"Return", 36, 28},    {"Tab", 48, 15},
        {"Space", 49, 57},    {"Escape", 53, 1},     {"keypad Enter", 76, 96},
        {"keypad 0", 82, 82}, {"F1", 122, 59},       {"F5", 96, 63},
        {"F13", 105, 183},    {"F17", 64, 187},      {"F20", 90, 190},
        {"Home", 115, 102},   {"Page Up", 116, 104}, {"Forward Delete", 117, 111},
        {"Left", 123, 105},   {"Up", 126, 103},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(TLKeyCodes::evdevFromVirtualKeyCode(row.virtualKeyCode), row.evdev) << row.key;
        EXPECT_EQ(TLKeyCodes::virtualKeyCodeFromEvdev(row.evdev), row.virtualKeyCode) << row.key;
        EXPECT_EQ(TLKeyCodes::virtualKeyCodeFromXKeycode(row.evdev + 8), row.virtualKeyCode) << row.key;
    }
}

TEST(TLKeyCodes, TableIsOneToOneAndCoversEveryRecordableKey) {
    const std::set<std::int64_t> codes(TLKeyCodes::begin(), TLKeyCodes::end());
    EXPECT_EQ(codes.size(), static_cast<std::size_t>(TLKeyCodes::end() - TLKeyCodes::begin()));
    EXPECT_TRUE(std::is_sorted(TLKeyCodes::begin(), TLKeyCodes::end()));

    std::set<int> evdevCodes;
    for (const std::int64_t* it = TLKeyCodes::begin(); it != TLKeyCodes::end(); ++it) {
        const std::optional<int> evdev = TLKeyCodes::evdevFromVirtualKeyCode(*it);
        ASSERT_TRUE(evdev) << *it;
        EXPECT_TRUE(evdevCodes.insert(*evdev).second) << "evdev " << *evdev << " used twice";
        EXPECT_EQ(TLKeyCodes::virtualKeyCodeFromEvdev(*evdev), *it);
    }

    // Every key with a fixed label, and F13 to F20, can be grabbed.
    for (std::int64_t code :
         {36,  48,  49,  51,  53,  76,  96,  97,  98,  99,  100, 101, 103, 109, 111, 115, 116, 117,
          118, 119, 120, 121, 122, 123, 124, 125, 126, 105, 107, 113, 106, 64,  79,  80,  90}) {
        EXPECT_TRUE(codes.count(code)) << code;
    }
}

TEST(TLKeyCodes, ModifiersLocksAndUnknownCodesHaveNoMapping) {
    // Command, Shift, Caps Lock, Option, Control, their right-hand twins, fn.
    for (std::int64_t code : {55, 56, 57, 58, 59, 60, 61, 62, 63, -1, 127, 1000, 0x10000}) {
        EXPECT_FALSE(TLKeyCodes::evdevFromVirtualKeyCode(code)) << code;
    }
    // Left Ctrl, Shift, Alt, Caps Lock, Num Lock, Super, and codes below the X range.
    for (int evdev : {29, 42, 56, 58, 69, 125, 0, -8, 100000}) {
        EXPECT_FALSE(TLKeyCodes::virtualKeyCodeFromEvdev(evdev)) << evdev;
    }
    EXPECT_FALSE(TLKeyCodes::virtualKeyCodeFromXKeycode(8));
}
