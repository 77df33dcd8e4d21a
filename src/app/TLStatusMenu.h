#pragma once

#include <QMenu>

#include <functional>
#include <span>

class TLLayout;
class TLShortcut;

// The tray menu: every layout of a catalogue under its group header, each with its shortcut,
// then the fixed commands. It is rebuilt as a whole, never edited item by item.
class TLStatusMenu : public QMenu {
    Q_OBJECT

public:
    struct Actions {
        std::function<void(QAction*)> menuApply;
        std::function<void()> showPreferences;
        std::function<void()> checkForUpdates;
        std::function<void()> showAbout;
        std::function<void()> openSource;
        std::function<void()> terminate;
    };

    static constexpr const char* kIndentationProperty = "indentationLevel";

    explicit TLStatusMenu(QWidget* parent = nullptr);

    // Throws every item away and fills the menu again from the layouts and their shortcuts.
    void rebuild(std::span<const TLLayout> layouts,
                 const std::function<TLShortcut(const TLLayout&)>& shortcutFor, const Actions& actions);

    // An item's title as the user reads it (menu texts double a literal '&').
    static QString itemTitle(const QAction* action);

    // The layout a layout item stands for; nullptr for any other item.
    static const TLLayout* layoutForAction(const QAction* action);

protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override;
};
