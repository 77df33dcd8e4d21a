#include "TLStatusMenu.h"
#include "TLFakeKeyboardLayout.h"
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
        menu.build({{"G", "Ohne"},
                    {"G", "Pfeil"},
                    {"G", "Buchstabe"},
                    {"G", "Funktion"},
                    {"G", "Enter"},
                    {"G", "Nummer"},
                    {"G", "Befehl"}},
                   {{1, TLShortcut::shortcutWithKeyCode(123, TLControlKey | TLOptionKey)},
                    {2, TLShortcut::shortcutWithKeyCode(3, TLControlKey | TLShiftKey)}, // the key F
                    {3, TLShortcut::shortcutWithKeyCode(96, TLOptionKey)},              // F5
                    {4, TLShortcut::shortcutWithKeyCode(76, TLControlKey)},             // keypad enter
                    {5, TLShortcut::shortcutWithKeyCode(105, TLControlKey | TLOptionKey)},
                    {6, TLShortcut::shortcutWithKeyCode(18, TLCmdKey)}});
    // Without a key equivalent the whole shortcut text joins the name after three blanks.
    EXPECT_EQ(lines.mid(0, 8),
              (QStringList{"[H] G", "    Ohne", "    Pfeil {Ctrl+Alt+Left}", "    Buchstabe {Ctrl+Shift+F}",
                           "    Funktion {Alt+F5}", "    Enter {Ctrl+⌤}", "    Nummer   ⌃⌥#105",
                           "    Befehl {Meta+1}"}));
}

TEST(TLStatusMenu, StaysOneColumnThatScrollsOnAShortScreen) {
    TLStatusMenu menu;
    TLFakeKeyboardLayout keyboard;
    menu.rebuild(TLLayout::allLayouts(), {}, keyboard, {});
    menu.popup({0, 0}); // the offscreen screen is 600 pixels high: too short for the whole menu
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&menu));
    EXPECT_LE(menu.height(), menu.screen()->availableGeometry().height());
    for (QAction* action : menu.actions()) {
        EXPECT_EQ(menu.actionGeometry(action).left(), menu.actionGeometry(menu.actions().front()).left());
    }
}

} // namespace
