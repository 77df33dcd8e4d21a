#include "TLKeyEquivalent.h"
#include "TLTest.h"

TEST(KeyEquivalentRule, GivesTheMenuCharacter) {
    const struct {
        const char* what;
        std::int64_t keyCode;
        const char16_t* bareDisplay;
        std::optional<char16_t> expected;
    } rows[] = {
        // The fixed keys win over whatever their display text is.
        {"return", 36, u"↩", u'\r'},
        {"page down", 121, u"⇟", char16_t(0xF72D)},
        {"left", 123, u"←", char16_t(0xF702)},
        // Every other key by its bare display text.
        {"letter F is a letter, not a function key", 3, u"F", u'f'},
        {"umlaut lower-cased", 39, u"Ä", u'ä'},
        {"keypad enter shows its glyph", 76, u"⌤", u'⌤'},
        {"F1", 122, u"F1", char16_t(0xF704)},
        {"F20 by its label", 90, u"F20", char16_t(0xF717)},
        {"F21 is past the range", 200, u"F21", std::nullopt},
        {"F with letters has no number", 202, u"FX", std::nullopt},
        {"key shown by number", 105, u"#105", std::nullopt},
        {"character outside the BMP is two code units", 206, u"\U0001F600", std::nullopt},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(TLKeyEquivalent::forKeyCode(row.keyCode, QString::fromUtf16(row.bareDisplay)), row.expected)
            << row.what;
    }
}
