#include "TLStatusMenu.h"
#include "TLFakeKeyboardLayout.h"
#include "TLKeyEquivalent.h"
#include "TLLayout.h"
#include "TLModifiers.h"
#include "TLShortcut.h"
#include "TLTest.h"

#include <QAction>
#include <QStyleOptionMenuItem>

namespace {

// The menu as drawn, one line per entry: "---" a separator, "[H] " a disabled header, the drawn
// text (indented items start with blanks, literal ampersands doubled), " {keys}" a shortcut.
class ProbedMenu : public TLStatusMenu {
public:
    QStringList build(const std::vector<std::pair<std::string, std::string>>& groupAndName,
                      const std::map<std::size_t, TLShortcut>& shortcuts = {}) {
        std::vector<TLLayout> layouts;
        for (const auto& [group, name] : groupAndName) {
            layouts.emplace_back("t" + std::to_string(layouts.size()), group, name, TLLayoutKindFrac,
                                 TLFrac{0, 0, 1, 1}, -1, 0);
        }
        rebuild(layouts,
                [&](const TLLayout& l) {
                    const auto found = shortcuts.find(std::stoul(l.identifier().substr(1)));
                    return found == shortcuts.end() ? TLShortcut::unbound() : found->second;
                },
                keyboard, {});
        QStringList lines;
        for (const QAction* action : actions()) {
            QStyleOptionMenuItem option;
            initStyleOption(&option, action);
            const QString keys = action->shortcut().toString(QKeySequence::PortableText);
            lines << (action->isSeparator()
                          ? "---"
                          : (action->isEnabled() ? "" : "[H] ") + option.text.section('\t', 0, 0) +
                                (keys.isEmpty() ? "" : " {" + keys + "}"));
        }
        return lines;
    }
    TLFakeKeyboardLayout keyboard;
};

const QStringList kFixedItems = {"Einstellungen… {Ctrl+,}",
                                 "Nach Updates suchen…",
                                 "Über Tilora – Impressum && Lizenz",
                                 "Quelltext (Open Source, MIT)",
                                 "---",
                                 "Tilora beenden {Ctrl+Q}"};

TEST(TLStatusMenu, HeadersWhereverTheGroupChangesSeparatorsAndIndentedItems) {
    ProbedMenu menu;
    EXPECT_EQ(
        menu.build({{"Drittel", "Links"}, {"Drittel", "Rechts"}, {"Hälften", "Links"}, {"Drittel", "Mitte"}}),
        QStringList({"[H] Drittel", "    Links", "    Rechts", "---", "[H] Hälften", "    Links", "---",
                     "[H] Drittel", "    Mitte", "---"}) +
            kFixedItems);
    EXPECT_EQ(menu.build({{"Links & rechts", "Hin & her"}}),
              QStringList({"[H] Links && rechts", "    Hin && her", "---"}) + kFixedItems);
    EXPECT_EQ(menu.build({}), QStringList{"---"} + kFixedItems);
    EXPECT_EQ(menu.title(), "Tilora");
    EXPECT_EQ(TLStatusMenu::itemTitle(menu.actions().at(3)), "Über Tilora – Impressum & Lizenz");
}

TEST(TLStatusMenu, ShortcutsBecomeKeyEquivalentsOrTitles) {
    ProbedMenu menu;
    menu.keyboard.keys[105] = ""; // a key the layout has no text for: shown as #105
    const QStringList lines =
        menu.build({{"G", "Ohne"}, {"G", "Pfeil"}, {"G", "Buchstabe"}, {"G", "Nummer"}, {"G", "Befehl"}},
                   {{1, TLShortcut::shortcutWithKeyCode(123, TLControlKey | TLOptionKey)},
                    {2, TLShortcut::shortcutWithKeyCode(3, TLControlKey | TLShiftKey)}, // the key F
                    {3, TLShortcut::shortcutWithKeyCode(105, TLControlKey | TLOptionKey)},
                    {4, TLShortcut::shortcutWithKeyCode(18, TLCmdKey)}});
    // Without a key equivalent the whole shortcut text joins the name after three blanks.
    EXPECT_EQ(lines.mid(1, 5),
              (QStringList{"    Ohne", "    Pfeil {Ctrl+Alt+Left}", "    Buchstabe {Ctrl+Shift+F}",
                           "    Nummer   ⌃⌥#105", "    Befehl {Meta+1}"}));
}

} // namespace

TEST(KeyEquivalentRule, GivesTheMenuCharacter) {
    const struct {
        const char* what;
        std::int64_t keyCode;
        const char16_t* bareDisplay;
        std::optional<char16_t> expected;
    } rows[] = {
        // The fixed keys win over whatever their display text is.
        {"return", 36, u"↩", u'\r'},
        {"left", 123, u"←", char16_t(0xF702)},
        // Every other key by its bare display text.
        {"umlaut lower-cased", 39, u"Ä", u'ä'},
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
