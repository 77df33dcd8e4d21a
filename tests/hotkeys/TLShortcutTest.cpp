#include "TLShortcut.h"
#include "TLFakeKeyboardLayout.h"
#include "TLKeyTable.h"
#include "TLModifiers.h"
#include "TLTest.h"

namespace {

constexpr std::uint32_t kCtrlOpt = TLControlKey | TLOptionKey;

TEST(TLShortcut, EqualityNeedsTwoBoundShortcutsWithTheSameBits) {
    const std::tuple<std::int64_t, std::uint32_t, std::int64_t, std::uint32_t, bool> rows[] = {
        {18, kCtrlOpt, 18, kCtrlOpt, true},
        {0, 0, 0, 0, true}, // key 0 is a key
        {18, kCtrlOpt, 19, kCtrlOpt, false},
        {18, kCtrlOpt, 18, TLControlKey, false},
        {18, kCtrlOpt, 18, kCtrlOpt | 0x10000, false},
        {-5, kCtrlOpt, -5, kCtrlOpt, false}};
    for (const auto& [keyA, modsA, keyB, modsB, equal] : rows) {
        const TLShortcut b = TLShortcut::shortcutWithKeyCode(keyB, modsB);
        EXPECT_EQ(TLShortcut::shortcutWithKeyCode(keyA, modsA).isEqualToShortcut(&b), equal)
            << keyA << " " << modsB;
    }
    EXPECT_FALSE(TLShortcut::shortcutWithKeyCode(std::numeric_limits<std::int64_t>::min(), 0).isBound());
    EXPECT_FALSE(TLShortcut::shortcutWithKeyCode(18, kCtrlOpt).isEqualToShortcut(nullptr));
}

TEST(TLShortcut, TextsComeFromTheKeyTableOrTheCurrentLayout) {
    TLFakeKeyboardLayout layout;
    const auto text = [&](std::int64_t keyCode, std::uint32_t modifiers = 0) {
        return TLShortcut::shortcutWithKeyCode(keyCode, modifiers).displayString(layout).toStdString();
    };
    const std::tuple<std::int64_t, std::uint32_t, const char*> rows[] = {
        {-1, 0, "–"},
        {-42, TLCmdKey, "–"},
        {18, kCtrlOpt, "⌃⌥1"},
        {123, 0x1A00, "⌃⌥⇧←"},
        {49, TLCmdKey, "⌘Leertaste"},
        {0, 0x1B00, "⌃⌥⇧⌘A"},
        {0, TLAlphaLockKey | 0xFFFF0000 | TLOptionKey, "⌥A"},
        {96, 0, "F5"},
        {121, 0, "⇟"},
        {105, 0, "#105"},
        {64, kCtrlOpt, "⌃⌥#64"},
        {0x10000 + 12, 0, "Q"}}; // the low 16 bits name the key
    for (const auto& [keyCode, modifiers, expected] : rows) {
        EXPECT_EQ(text(keyCode, modifiers), expected) << keyCode;
    }
    const int asked = layout.callCount;
    EXPECT_EQ(text(96) + text(-1), "F5–");
    EXPECT_EQ(layout.callCount, asked) << "table keys and unbound shortcuts ask no layout";
    layout.keys[105] = "f13"; // F13 is labelled by the layout, not the table
    layout.keys[12] = "";
    EXPECT_EQ(text(105) + text(12, TLCmdKey), "F13⌘#12");
    layout.switchTo(true);
    EXPECT_EQ(text(6, kCtrlOpt) + text(16) + text(33, TLShiftKey) + text(27), "⌃⌥YZ⇧ÜSS"); // ß upper-cased
}

TEST(TLKeyTable, KeysMapToTheirPhysicalPositionAndQtKeyOnce) {
    // Anchors from the kernel's input codes (KEY_A = 30, KEY_Z = 44, ...).
    const std::tuple<std::int64_t, int, int, bool> rows[] = {
        {0, 30, Qt::Key_A, false},         {6, 44, Qt::Key_Z, false},       {16, 21, Qt::Key_Y, false},
        {18, 2, Qt::Key_1, false},         {36, 28, Qt::Key_Return, false}, {53, 1, Qt::Key_Escape, false},
        {76, 96, Qt::Key_Enter, true},     {82, 82, Qt::Key_0, true},       {65, 83, Qt::Key_Period, true},
        {122, 59, Qt::Key_F1, false},      {105, 183, Qt::Key_F13, false},  {90, 190, Qt::Key_F20, false},
        {117, 111, Qt::Key_Delete, false}, {126, 103, Qt::Key_Up, false}};
    for (const auto& [code, evdev, qtKey, keypad] : rows) {
        EXPECT_EQ(TLKeyTable::xKeycodeFromVirtualKeyCode(code), evdev + 8) << code;
        EXPECT_EQ(TLKeyTable::virtualKeyCodeFromXKeycode(evdev + 8), code) << code;
        const TLKey* key = TLKeyTable::byQtKey(qtKey, keypad);
        EXPECT_EQ(key ? key->virtualKeyCode : -1, code);
    }
    // Qt's other names for a key, and keypad keys Qt reports with or without the keypad flag.
    EXPECT_EQ(TLKeyTable::byQtKey(Qt::Key_Backtab, false)->virtualKeyCode, 48);
    EXPECT_EQ(TLKeyTable::byQtKey(Qt::Key_1, true)->virtualKeyCode, 83);
    EXPECT_EQ(TLKeyTable::byQtKey(Qt::Key_Return, true)->virtualKeyCode, 36);
    EXPECT_EQ(TLKeyTable::byQtKey(Qt::Key_Asterisk, false), nullptr);
    std::set<int> evdevCodes;
    for (const TLKey& key : TLKeyTable::keys()) {
        EXPECT_TRUE(evdevCodes.insert(key.evdev).second) << "evdev " << key.evdev << " twice";
        EXPECT_EQ(TLKeyTable::byVirtualKeyCode(key.virtualKeyCode), &key);
    }
    // Modifier keys and codes outside the X range have no counterpart.
    for (std::int64_t code : {55, 56, 57, 58, 59, 60, 61, 62, 63, -1, 127, 0x10000}) {
        EXPECT_FALSE(TLKeyTable::xKeycodeFromVirtualKeyCode(code)) << code;
    }
    for (int keycode : {29 + 8, 42 + 8, 56 + 8, 58 + 8, 69 + 8, 125 + 8, 8, 0}) {
        EXPECT_FALSE(TLKeyTable::virtualKeyCodeFromXKeycode(keycode)) << keycode;
    }
}

} // namespace
