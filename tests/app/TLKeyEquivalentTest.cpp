#include "TLKeyEquivalent.h"

#include <gtest/gtest.h>

#include <cctype>
#include <optional>
#include <string>

namespace {

// A test name from a row's description: letters and digits kept, everything else '_'.
template <typename Row>
std::string rowName(const ::testing::TestParamInfo<Row>& info) {
    std::string name;
    for (const char c : std::string(info.param.what)) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

struct RuleRow {
    const char* what;
    std::int64_t keyCode;
    const char16_t* bareDisplay;
    std::optional<char16_t> expected;
};

void PrintTo(const RuleRow& row, std::ostream* os) {
    *os << row.what;
}

class KeyEquivalentRule : public ::testing::TestWithParam<RuleRow> {};

TEST_P(KeyEquivalentRule, GivesTheMenuCharacter) {
    const RuleRow& row = GetParam();
    EXPECT_EQ(TLKeyEquivalent::forKeyCode(row.keyCode, QString::fromUtf16(row.bareDisplay)), row.expected)
        << row.what;
}

// The fixed keys win over whatever their display text is.
INSTANTIATE_TEST_SUITE_P(
    FixedKeys, KeyEquivalentRule,
    ::testing::Values(
        RuleRow{"return", 36, u"↩", u'\r'}, RuleRow{"tab", 48, u"⇥", u'\t'},
        RuleRow{"space", 49, u"Leertaste", u' '}, RuleRow{"backspace", 51, u"⌫", char16_t(0x08)},
        RuleRow{"escape", 53, u"⎋", char16_t(0x1B)}, RuleRow{"home", 115, u"↖", char16_t(0xF729)},
        RuleRow{"page up", 116, u"⇞", char16_t(0xF72C)},
        RuleRow{"forward delete", 117, u"⌦", char16_t(0xF728)}, RuleRow{"end", 119, u"↘", char16_t(0xF72B)},
        RuleRow{"page down", 121, u"⇟", char16_t(0xF72D)}, RuleRow{"left", 123, u"←", char16_t(0xF702)},
        RuleRow{"right", 124, u"→", char16_t(0xF703)}, RuleRow{"down", 125, u"↓", char16_t(0xF701)},
        RuleRow{"up", 126, u"↑", char16_t(0xF700)}),
    rowName<RuleRow>);

INSTANTIATE_TEST_SUITE_P(
    OtherKeys, KeyEquivalentRule,
    ::testing::Values(RuleRow{"letter F is a letter, not a function key", 3, u"F", u'f'},
                      RuleRow{"digit", 18, u"1", u'1'}, RuleRow{"umlaut lower-cased", 39, u"Ä", u'ä'},
                      RuleRow{"keypad enter shows its glyph", 76, u"⌤", u'⌤'},
                      RuleRow{"F1", 122, u"F1", char16_t(0xF704)}, RuleRow{"F5", 96, u"F5", char16_t(0xF708)},
                      RuleRow{"F12", 111, u"F12", char16_t(0xF70F)},
                      RuleRow{"F20 by its label", 90, u"F20", char16_t(0xF717)},
                      RuleRow{"F21 is past the range", 200, u"F21", std::nullopt},
                      RuleRow{"F0 is before the range", 201, u"F0", std::nullopt},
                      RuleRow{"F with letters has no number", 202, u"FX", std::nullopt},
                      RuleRow{"longer than three characters", 203, u"F100", std::nullopt},
                      RuleRow{"key shown by number", 105, u"#105", std::nullopt},
                      RuleRow{"lower-case f prefix is no function key", 204, u"f5", std::nullopt},
                      RuleRow{"empty display", 205, u"", std::nullopt},
                      RuleRow{"character outside the BMP is two code units", 206, u"\U0001F600",
                              std::nullopt}),
    rowName<RuleRow>);

TEST(KeyEquivalentQtKey, MapsMenuCharactersToQtKeys) {
    // The ends of each range and the characters that are not their own key.
    struct Row {
        char16_t character;
        int key;
    };
    const Row rows[] = {
        {u'\r', Qt::Key_Return}, {0x08, Qt::Key_Backspace},
        {0xF729, Qt::Key_Home},  {0xF72D, Qt::Key_PageDown},
        {0xF700, Qt::Key_Up},    {0xF703, Qt::Key_Right},
        {0xF704, Qt::Key_F1},    {0xF717, Qt::Key_F20},
        {u'f', Qt::Key_F},       {u'ä', 0xC4},
        {u'⌤', 0x2324},
    };
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
