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

// One line per menu entry: "---" for a separator, "[H] title" for a disabled header,
// "  title" for an indented item, "title" otherwise; " {keys}" when it has a shortcut.
std::vector<std::string> describe(const QMenu& menu) {
    std::vector<std::string> lines;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator()) {
            lines.push_back("---");
            continue;
        }
        std::string line;
        const int indentation = action->property(TLStatusMenu::kIndentationProperty).toInt();
        if (!action->isEnabled()) {
            line += "[H] ";
        }
        line += std::string(2 * indentation, ' ') + TLStatusMenu::itemTitle(action).toStdString();
        if (!action->shortcut().isEmpty()) {
            line += " {" + action->shortcut().toString(QKeySequence::PortableText).toStdString() + "}";
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<TLLayout> catalogue(const std::vector<std::pair<std::string, std::string>>& groupAndName) {
    std::vector<TLLayout> layouts;
    int i = 0;
    for (const auto& [group, name] : groupAndName) {
        layouts.emplace_back("test." + std::to_string(i++), group, name, TLLayoutKindFrac, TLFrac{0, 0, 1, 1},
                             -1, 0);
    }
    return layouts;
}

class StatusMenu : public ::testing::Test {
protected:
    void SetUp() override { TLKeyboardLayout::install(&layout_); }
    void TearDown() override { TLKeyboardLayout::install(nullptr); }

    std::function<TLShortcut(const TLLayout&)> table() {
        return [this](const TLLayout& layout) {
            const auto found = shortcuts_.find(layout.identifier());
            return found == shortcuts_.end() ? TLShortcut::unbound() : found->second;
        };
    }

    TLFakeKeyboardLayout layout_{TLFakeKeyboardLayout::Arrangement::US};
    std::map<std::string, TLShortcut> shortcuts_;
    TLStatusMenu menu_;
};

const std::vector<std::string> kFixedItems = {
    "Einstellungen… {Ctrl+,}",
    "Nach Updates suchen…",
    "Über Tilora – Impressum & Lizenz",
    "Quelltext (Open Source, MIT)",
    "---",
    "Tilora beenden {Ctrl+Q}",
};

TEST_F(StatusMenu, GroupsWithHeadersSeparatorsAndIndentedItems) {
    const auto layouts = catalogue({{"Drittel", "Links"},
                                    {"Drittel", "Mitte"},
                                    {"Drittel", "Rechts"},
                                    {"Hälften", "Links"},
                                    {"Hälften", "Rechts"}});
    menu_.rebuild(layouts, table(), {});

    std::vector<std::string> expected = {"[H] Drittel", "  Links", "  Mitte",  "  Rechts", "---",
                                         "[H] Hälften", "  Links", "  Rechts", "---"};
    expected.insert(expected.end(), kFixedItems.begin(), kFixedItems.end());
    EXPECT_EQ(describe(menu_), expected);
    EXPECT_EQ(menu_.title(), QStringLiteral("Tilora"));
}

TEST_F(StatusMenu, AmpersandsInTitlesStayText) {
    const auto layouts = catalogue({{"Links & rechts", "Hin & her"}});
    menu_.rebuild(layouts, table(), {});
    const QList<QAction*> actions = menu_.actions();
    EXPECT_EQ(actions[0]->text(), QStringLiteral("Links && rechts"));
    EXPECT_EQ(TLStatusMenu::itemTitle(actions[1]), QStringLiteral("Hin & her"));
    EXPECT_EQ(TLStatusMenu::itemTitle(actions[5]), QStringLiteral("Über Tilora – Impressum & Lizenz"));
    EXPECT_TRUE(actions[5]->text().contains(QStringLiteral("&&")));
}

TEST_F(StatusMenu, HeaderWhereverTheGroupChangesBetweenNeighbours) {
    // A group that comes back after another one gets a second header.
    const auto layouts = catalogue({{"A", "1"}, {"B", "2"}, {"A", "3"}});
    menu_.rebuild(layouts, table(), {});
    const auto lines = describe(menu_);
    const std::vector<std::string> head(lines.begin(), lines.begin() + 9);
    EXPECT_EQ(head, (std::vector<std::string>{"[H] A", "  1", "---", "[H] B", "  2", "---", "[H] A", "  3",
                                              "---"}));
}

TEST_F(StatusMenu, EmptyCatalogueStartsWithTheSeparator) {
    menu_.rebuild({}, table(), {});
    std::vector<std::string> expected = {"---"};
    expected.insert(expected.end(), kFixedItems.begin(), kFixedItems.end());
    EXPECT_EQ(describe(menu_), expected);
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
    menu_.rebuild(layouts, table(), {});

    const auto lines = describe(menu_);
    ASSERT_GE(lines.size(), 8u);
    EXPECT_EQ(lines[1], "  Ohne");
    EXPECT_EQ(lines[2], "  Pfeil {Ctrl+Alt+Left}");
    EXPECT_EQ(lines[3], "  Buchstabe {Ctrl+Shift+F}");
    EXPECT_EQ(lines[4], "  Funktion {Alt+F5}");
    EXPECT_EQ(lines[5], "  Enter {Ctrl+⌤}");
    // No key equivalent: the whole shortcut text joins the name after three blanks.
    EXPECT_EQ(lines[6], "  Nummer   ⌃⌥#105");
    EXPECT_EQ(lines[7], "  Befehl {Meta+1}");
}

TEST_F(StatusMenu, ItemsCallTheirActionsAndKnowTheirLayout) {
    const auto layouts = catalogue({{"G", "Eins"}, {"G", "Zwei"}});
    QStringList calls;
    std::vector<const TLLayout*> chosen;
    TLStatusMenu::Actions actions;
    actions.menuApply = [&](QAction* item) { chosen.push_back(TLStatusMenu::layoutForAction(item)); };
    actions.showPreferences = [&] { calls << "prefs"; };
    actions.checkForUpdates = [&] { calls << "updates"; };
    actions.showAbout = [&] { calls << "about"; };
    actions.openSource = [&] { calls << "source"; };
    actions.terminate = [&] { calls << "quit"; };
    menu_.rebuild(layouts, table(), actions);

    for (QAction* action : menu_.actions()) {
        if (!action->isSeparator() && action->isEnabled()) {
            action->trigger();
        }
    }
    EXPECT_EQ(chosen, (std::vector<const TLLayout*>{&layouts[0], &layouts[1]}));
    EXPECT_EQ(calls, (QStringList{"prefs", "updates", "about", "source", "quit"}));
    // Headers and fixed items stand for no layout.
    EXPECT_EQ(TLStatusMenu::layoutForAction(menu_.actions().first()), nullptr);
    EXPECT_EQ(TLStatusMenu::layoutForAction(menu_.actions().last()), nullptr);
}

TEST_F(StatusMenu, RebuildReplacesEveryItem) {
    const auto layouts = catalogue({{"G", "Eins"}});
    menu_.rebuild(layouts, table(), {});
    const auto before = describe(menu_);
    shortcuts_.emplace("test.0", TLShortcut::shortcutWithKeyCode(0, TLControlKey)); // A
    menu_.rebuild(layouts, table(), {});
    const auto after = describe(menu_);
    EXPECT_EQ(before.size(), after.size());
    EXPECT_EQ(before[1], "  Eins");
    EXPECT_EQ(after[1], "  Eins {Ctrl+A}");
}

TEST_F(StatusMenu, LayoutItemsAreDrawnIndented) {
    struct Probe : TLStatusMenu {
        QString drawnText(const QAction* action) const {
            QStyleOptionMenuItem option;
            initStyleOption(&option, action);
            return option.text;
        }
    } probe;
    const auto layouts = catalogue({{"Gruppe", "Name"}});
    probe.rebuild(layouts, table(), {});
    const QString header = probe.drawnText(probe.actions().at(0));
    const QString item = probe.drawnText(probe.actions().at(1));
    EXPECT_EQ(header, QStringLiteral("Gruppe"));
    EXPECT_TRUE(item.endsWith(QStringLiteral("Name")));
    EXPECT_GT(item.size(), QStringLiteral("Name").size());
}

} // namespace
