#include "TLKeyEquivalent.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

TEST(KeyEquivalentRule, GivesTheMenuCharacter) {
    const struct {
        const char* what;
        std::int64_t keyCode;
        const char16_t* bareDisplay;
        std::optional<char16_t> expected;
    } rows[] = {
        // The fixed keys win over whatever their display text is.
        {"return", 36, u"↩", u'\r'},
        {"space", 49, u"Leertaste", u' '},
        {"backspace", 51, u"⌫", char16_t(0x08)},
        {"escape", 53, u"⎋", char16_t(0x1B)},
        {"page up", 116, u"⇞", char16_t(0xF72C)},
        {"forward delete", 117, u"⌦", char16_t(0xF728)},
        {"page down", 121, u"⇟", char16_t(0xF72D)},
        {"left", 123, u"←", char16_t(0xF702)},
        {"up", 126, u"↑", char16_t(0xF700)},
        // Every other key by its bare display text.
        {"letter F is a letter, not a function key", 3, u"F", u'f'},
        {"umlaut lower-cased", 39, u"Ä", u'ä'},
        {"keypad enter shows its glyph", 76, u"⌤", u'⌤'},
        {"F1", 122, u"F1", char16_t(0xF704)},
        {"F12", 111, u"F12", char16_t(0xF70F)},
        {"F20 by its label", 90, u"F20", char16_t(0xF717)},
        {"F21 is past the range", 200, u"F21", std::nullopt},
        {"F0 is before the range", 201, u"F0", std::nullopt},
        {"F with letters has no number", 202, u"FX", std::nullopt},
        {"longer than three characters", 203, u"F100", std::nullopt},
        {"key shown by number", 105, u"#105", std::nullopt},
        {"lower-case f prefix is no function key", 204, u"f5", std::nullopt},
        {"empty display", 205, u"", std::nullopt},
        {"character outside the BMP is two code units", 206, u"\U0001F600", std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(TLKeyEquivalent::forKeyCode(row.keyCode, QString::fromUtf16(row.bareDisplay)), row.expected)
            << row.what;
    }
}

TEST(KeyEquivalentQtKey, MapsMenuCharactersToQtKeys) {
    // The ends of each range and the characters that are not their own key.
    struct Row {
        char16_t character;
        int key;
    };
    const Row rows[] = {{u'\r', Qt::Key_Return}, {0x08, Qt::Key_Backspace},
                        {0xF729, Qt::Key_Home},  {0xF72D, Qt::Key_PageDown},
                        {0xF700, Qt::Key_Up},    {0xF703, Qt::Key_Right},
                        {0xF704, Qt::Key_F1},    {0xF717, Qt::Key_F20},
                        {u'f', Qt::Key_F},       {u'ä', 0xC4},
                        {u'⌤', 0x2324}};
    for (const Row& row : rows) {
        EXPECT_EQ(TLKeyEquivalent::qtKey(row.character), row.key) << std::hex << int(row.character);
    }
}

TEST(KeyEquivalentKeySequence, CarriesTheModifiersOfTheEventFlags) {
    // Control + Option + Left arrow
    EXPECT_EQ(TLKeyEquivalent::keySequence(0xF702, 0x40000 | 0x80000),
              QKeySequence(Qt::ControlModifier | Qt::AltModifier | Qt::Key_Left));
    // Shift + Command + F5: Command is the Super (Meta) key here.
    EXPECT_EQ(TLKeyEquivalent::keySequence(0xF708, 0x20000 | 0x100000),
              QKeySequence(Qt::ShiftModifier | Qt::MetaModifier | Qt::Key_F5));
    // Caps Lock and unknown flag bits add nothing.
    EXPECT_EQ(TLKeyEquivalent::keySequence(u'f', 0x10000 | 0x800000), QKeySequence(Qt::Key_F));
}

} // namespace
