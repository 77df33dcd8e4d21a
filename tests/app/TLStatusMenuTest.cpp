#include "TLStatusMenu.h"
#include "TLFakeKeyboardLayout.h"
#include "TLLayout.h"
#include "TLModifiers.h"
#include "TLShortcut.h"
#include "support/TLQtTestApplication.h"

#include <QAction>
#include <QStyleOptionMenuItem>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Lines = std::vector<std::string>;

// One line per menu entry: "---" for a separator, "[H] title" for a disabled header, the drawn
// text otherwise (indented items start with blanks, literal ampersands are doubled); " {keys}"
// when it has a shortcut.
class ProbedMenu : public TLStatusMenu {
public:
    Lines describe() const {
        Lines lines;
        for (const QAction* action : actions()) {
            if (action->isSeparator()) {
                lines.push_back("---");
                continue;
            }
            QStyleOptionMenuItem option;
            initStyleOption(&option, action);
            // The drawn text, without the shortcut the style appends after a tab.
            const QString drawn = option.text.section(u'\t', 0, 0);
            std::string line = (action->isEnabled() ? "" : "[H] ") + drawn.toStdString();
            if (!action->shortcut().isEmpty()) {
                line += " {" + action->shortcut().toString(QKeySequence::PortableText).toStdString() + "}";
            }
            lines.push_back(line);
        }
        return lines;
    }
};

const Lines kFixedItems = {"Einstellungen… {Ctrl+,}",
                           "Nach Updates suchen…",
                           "Über Tilora – Impressum && Lizenz",
                           "Quelltext (Open Source, MIT)",
                           "---",
                           "Tilora beenden {Ctrl+Q}"};

std::vector<TLLayout> catalogue(const std::vector<std::pair<std::string, std::string>>& groupAndName) {
    std::vector<TLLayout> layouts;
    for (const auto& [group, name] : groupAndName) {
        layouts.emplace_back("test." + std::to_string(layouts.size()), group, name, TLLayoutKindFrac,
                             TLFrac{0, 0, 1, 1}, -1, 0);
    }
    return layouts;
}

class StatusMenu : public ::testing::Test {
protected:
    Lines build(const std::vector<TLLayout>& layouts) {
        menu_.rebuild(layouts,
                      [this](const TLLayout& layout) {
                          const auto found = shortcuts_.find(layout.identifier());
                          return found == shortcuts_.end() ? TLShortcut::unbound() : found->second;
                      },
                      layout_, {});
        return menu_.describe();
    }

    TLFakeKeyboardLayout layout_{TLFakeKeyboardLayout::Arrangement::US};
    std::map<std::string, TLShortcut> shortcuts_;
    ProbedMenu menu_;
};

TEST_F(StatusMenu, HeadersWhereverTheGroupChangesSeparatorsAndIndentedItems) {
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::string>> layouts;
        Lines head;
    } rows[] = {
        {"two groups",
         {{"Drittel", "Links"},
          {"Drittel", "Mitte"},
          {"Drittel", "Rechts"},
          {"Hälften", "Links"},
          {"Hälften", "Rechts"}},
         {"[H] Drittel", "    Links", "    Mitte", "    Rechts", "---", "[H] Hälften", "    Links",
          "    Rechts", "---"}},
        {"a group that comes back gets a second header",
         {{"A", "1"}, {"B", "2"}, {"A", "3"}},
         {"[H] A", "    1", "---", "[H] B", "    2", "---", "[H] A", "    3", "---"}},
        {"ampersands stay text",
         {{"Links & rechts", "Hin & her"}},
         {"[H] Links && rechts", "    Hin && her", "---"}},
        {"empty catalogue", {}, {"---"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Lines expected = row.head;
        expected.insert(expected.end(), kFixedItems.begin(), kFixedItems.end());
        EXPECT_EQ(build(catalogue(row.layouts)), expected);
    }
    EXPECT_EQ(menu_.title(), QStringLiteral("Tilora"));
    EXPECT_EQ(TLStatusMenu::itemTitle(menu_.actions().at(3)),
              QStringLiteral("Über Tilora – Impressum & Lizenz"));
}

TEST_F(StatusMenu, ShortcutsBecomeKeyEquivalentsOrTitles) {
    layout_.setCharacter(105, QString()); // a key the layout has no text for: shown as #105
    const auto layouts = catalogue({{"G", "Ohne"},
                                    {"G", "Pfeil"},
                                    {"G", "Buchstabe"},
                                    {"G", "Funktion"},
                                    {"G", "Enter"},
                                    {"G", "Nummer"},
                                    {"G", "Befehl"}});
    shortcuts_.emplace("test.1", TLShortcut::shortcutWithKeyCode(123, TLControlKey | TLOptionKey));
    shortcuts_.emplace("test.2", TLShortcut::shortcutWithKeyCode(3, TLControlKey | TLShiftKey)); // key F
    shortcuts_.emplace("test.3", TLShortcut::shortcutWithKeyCode(96, TLOptionKey));              // F5
    shortcuts_.emplace("test.4", TLShortcut::shortcutWithKeyCode(76, TLControlKey)); // keypad enter
    shortcuts_.emplace("test.5", TLShortcut::shortcutWithKeyCode(105, TLControlKey | TLOptionKey));
    shortcuts_.emplace("test.6", TLShortcut::shortcutWithKeyCode(18, TLCmdKey)); // 1
    const Lines lines = build(layouts);
    const Lines expected = {"[H] G", "    Ohne", "    Pfeil {Ctrl+Alt+Left}", "    Buchstabe {Ctrl+Shift+F}",
                            "    Funktion {Alt+F5}", "    Enter {Ctrl+⌤}",
                            // No key equivalent: the whole shortcut text joins the name after three blanks.
                            "    Nummer   ⌃⌥#105", "    Befehl {Meta+1}"};
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 8), expected);
}

} // namespace
