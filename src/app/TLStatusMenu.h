#pragma once

#include <QMenu>

#include <functional>
#include <span>

class TLKeyboardLayout;
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

    explicit TLStatusMenu(QWidget* parent = nullptr);

    // Throws every item away and fills the menu again from the layouts and their shortcuts,
    // shown with the labels of `labels`.
    void rebuild(std::span<const TLLayout> layouts,
                 const std::function<TLShortcut(const TLLayout&)>& shortcutFor,
                 const TLKeyboardLayout& labels, const Actions& actions);

    // An item's title as the user reads it (menu texts double a literal '&').
    static QString itemTitle(const QAction* action);

    // The identifier of the layout an item stands for; empty for any other item.
    static QString layoutIdentifier(const QAction* action);
    // The catalogue layout an item stands for; nullptr for any other item.
    static const TLLayout* layoutForAction(const QAction* action);

protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override;
};
