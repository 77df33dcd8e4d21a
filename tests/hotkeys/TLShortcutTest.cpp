#include "TLShortcut.h"
#include "TLEventFlags.h"
#include "TLFakeKeyboardLayout.h"
#include "TLModifiers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

constexpr std::uint32_t kCtrlOpt = TLControlKey | TLOptionKey;

class TLShortcutDisplay : public ::testing::Test {
protected:
    QString display(std::int64_t keyCode, std::uint32_t modifiers) const {
        return TLShortcut::shortcutWithKeyCode(keyCode, modifiers).displayString(layout);
    }

    TLFakeKeyboardLayout layout;
};

} // namespace

TEST(TLShortcut, BoundnessAndEquality) {
    EXPECT_TRUE(TLShortcut::shortcutWithKeyCode(0, 0).isBound());
    EXPECT_FALSE(TLShortcut::unbound().isBound());
    EXPECT_FALSE(
        TLShortcut::shortcutWithKeyCode(std::numeric_limits<std::int64_t>::min(), kCtrlOpt).isBound());
    struct Row {
        const char* what;
        std::int64_t keyA;
        std::uint32_t modsA;
        std::int64_t keyB;
        std::uint32_t modsB;
        bool equal;
    };
    const Row rows[] = {
        {"same bound combination", 18, kCtrlOpt, 18, kCtrlOpt, true},
        {"key 0 is a key", 0, 0, 0, 0, true},
        {"other key", 18, kCtrlOpt, 19, kCtrlOpt, false},
        {"other modifier", 18, kCtrlOpt, 18, TLControlKey, false},
        {"only an unknown bit differs", 18, kCtrlOpt, 18, kCtrlOpt | 0x10000, false},
        {"two unbound", -1, 0, -1, 0, false},
        {"two negative with same bits", -5, kCtrlOpt, -5, kCtrlOpt, false},
    };
    for (const Row& row : rows) {
        const TLShortcut a = TLShortcut::shortcutWithKeyCode(row.keyA, row.modsA);
        const TLShortcut b = TLShortcut::shortcutWithKeyCode(row.keyB, row.modsB);
        EXPECT_EQ(a.isEqualToShortcut(&b), row.equal) << row.what;
    }
    const TLShortcut unbound = TLShortcut::unbound();
    EXPECT_FALSE(TLShortcut::shortcutWithKeyCode(18, kCtrlOpt).isEqualToShortcut(nullptr));
    EXPECT_FALSE(unbound.isEqualToShortcut(&unbound));
}

TEST(TLShortcut, ModifierConversionsMapTheFourPairsOnly) {
    struct Row {
        std::uint64_t flags;
        std::uint32_t carbon;
    };
    const Row rows[] = {
        {0x20000, TLShiftKey}, {0x40000, TLControlKey}, {0x80000, TLOptionKey},
        {0x100000, TLCmdKey},  {0x1E0000, 0x1B00},      {0, 0},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(TLShortcut::carbonModifiersFromEventFlags(row.flags), row.carbon) << std::hex << row.flags;
        EXPECT_EQ(TLShortcut::eventFlagsFromCarbonModifiers(row.carbon), row.flags) << std::hex << row.carbon;
    }
    // Caps Lock, fn, keypad and help flags and every other bit are dropped in both directions.
    EXPECT_EQ(TLShortcut::carbonModifiersFromEventFlags(0x10000), 0u);
    EXPECT_EQ(TLShortcut::carbonModifiersFromEventFlags(~std::uint64_t{0}), 0x1B00u);
    EXPECT_EQ(TLShortcut::eventFlagsFromCarbonModifiers(0xFFFFFFFF), 0x1E0000u);
}

TEST(TLEventFlags, FromQtMapsSuperToCommandAndIgnoresKeypadAndGroupSwitch) {
    EXPECT_EQ(TLEventFlags::fromQt(Qt::MetaModifier), TLEventFlags::Command);
    EXPECT_EQ(TLEventFlags::fromQt(Qt::AltModifier), TLEventFlags::Option);
    EXPECT_EQ(
        TLEventFlags::fromQt(Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier),
        0x1E0000u);
    EXPECT_EQ(TLEventFlags::fromQt(Qt::KeypadModifier | Qt::GroupSwitchModifier), 0u);
}

TEST_F(TLShortcutDisplay, Texts) {
    struct Row {
        std::int64_t keyCode;
        std::uint32_t modifiers;
        const char* text;
    };
    const Row rows[] = {
        {-1, 0, "–"},
        {-42, TLCmdKey, "–"},
        {18, kCtrlOpt, "⌃⌥1"},
        {123, 0x1A00, "⌃⌥⇧←"},
        {49, TLCmdKey, "⌘Leertaste"},
        {0, TLShiftKey, "⇧A"},
        {0, TLCmdKey | TLShiftKey | TLControlKey | TLOptionKey, "⌃⌥⇧⌘A"},
        {0, TLAlphaLockKey | 0xFFFF0000 | TLOptionKey, "⌥A"},
        {96, 0, "F5"},
        {36, 0, "↩"},
        {76, 0, "⌤"},
        {121, 0, "⇟"},
        {12, 0, "Q"},
        // Not in the fixed table, and the layout has no text for them.
        {105, 0, "#105"},
        {64, kCtrlOpt, "⌃⌥#64"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(display(row.keyCode, row.modifiers), QString::fromUtf8(row.text)) << row.keyCode;
    }
}

TEST_F(TLShortcutDisplay, LabelComesFromTheCurrentLayoutEachCall) {
    EXPECT_EQ(display(6, kCtrlOpt), "⌃⌥Z");
    layout.switchTo(TLFakeKeyboardLayout::Arrangement::German);
    EXPECT_EQ(display(6, kCtrlOpt), "⌃⌥Y");
    EXPECT_EQ(display(16, 0), "Z");
    EXPECT_EQ(display(33, TLShiftKey), "⇧Ü");
    EXPECT_EQ(display(27, 0), "SS"); // Unicode upper case of ß
    layout.switchTo(TLFakeKeyboardLayout::Arrangement::US);
    EXPECT_EQ(display(6, 0), "Z");
}

TEST_F(TLShortcutDisplay, LayoutAskedOnlyForUntabledKeysWithTheLow16BitsElseTheNumber) {
    layout.setCharacter(105, "f13");
    EXPECT_EQ(display(105, 0), "F13"); // F13 is labelled by the layout, not the table
    const int before = layout.callCount;
    EXPECT_EQ(display(96, 0), "F5");
    EXPECT_EQ(display(-1, 0), "–");
    EXPECT_EQ(layout.callCount, before);
    EXPECT_EQ(display(0x10000 + 12, 0), "Q");
    EXPECT_EQ(layout.lastKeyCode, 12);

    layout.setCharacter(12, "");
    EXPECT_EQ(display(12, TLCmdKey), "⌘#12");
    EXPECT_EQ(display(36, 0), "↩");
}
