#include "TLStatusMenu.h"

#include "TLKeyEquivalent.h"
#include "TLLayout.h"
#include "TLShortcut.h"

#include <QProxyStyle>
#include <QStyleOptionMenuItem>

#include <optional>

namespace {

QString qtext(const std::string& text) {
    return QString::fromStdString(text);
}

// Menu texts mark their mnemonic with '&'; a title's own ampersands are doubled to stay text.
QString menuTitle(QString title) {
    return title.replace(u'&', QStringLiteral("&&"));
}

QAction* addCommand(QMenu& menu, const QString& title, const std::function<void()>& action,
                    const QKeySequence& shortcut = {}) {
    QAction* item = menu.addAction(menuTitle(title));
    if (!shortcut.isEmpty()) {
        item->setShortcut(shortcut);
    }
    if (action) {
        QObject::connect(item, &QAction::triggered, item, [action] { action(); });
    }
    return item;
}

} // namespace

namespace {

// A menu taller than the screen scrolls in one column instead of breaking into columns, which
// would tear a group apart.
class TLScrollingMenuStyle final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        return hint == SH_Menu_Scrollable ? 1 : QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

TLStatusMenu::TLStatusMenu(QWidget* parent) : QMenu(QStringLiteral("Tilora"), parent) {
    auto* style = new TLScrollingMenuStyle;
    style->setParent(this);
    setStyle(style);
}

void TLStatusMenu::rebuild(std::span<const TLLayout> layouts,
                           const std::function<TLShortcut(const TLLayout&)>& shortcutFor,
                           const TLKeyboardLayout& labels, const Actions& actions) {
    // clear() deletes the actions the menu owns, and with them their connections.
    clear();

    std::optional<std::string> group;
    for (const TLLayout& layout : layouts) {
        if (!group || *group != layout.group()) {
            if (group) {
                addSeparator();
            }
            QAction* header = addAction(menuTitle(qtext(layout.group())));
            header->setEnabled(false);
            group = layout.group();
        }

        QAction* item = addAction(menuTitle(qtext(layout.name())));
        item->setData(qtext(layout.identifier()));
        if (actions.menuApply) {
            connect(item, &QAction::triggered, item, [item, apply = actions.menuApply] { apply(item); });
        }

        const TLShortcut shortcut = shortcutFor ? shortcutFor(layout) : TLShortcut::unbound();
        if (!shortcut.isBound()) {
            continue; // the name alone, no key equivalent
        }
        const QString bare = TLShortcut::shortcutWithKeyCode(shortcut.keyCode(), 0).displayString(labels);
        if (const std::optional<char16_t> key = TLKeyEquivalent::forKeyCode(shortcut.keyCode(), bare)) {
            item->setShortcut(TLKeyEquivalent::keySequence(
                *key, TLShortcut::eventFlagsFromCarbonModifiers(shortcut.modifiers())));
        } else {
            item->setText(menuTitle(
                QStringLiteral("%1   %2").arg(qtext(layout.name()), shortcut.displayString(labels))));
        }
    }

    addSeparator();
    addCommand(*this, QStringLiteral("Einstellungen…"), actions.showPreferences,
               QKeySequence(Qt::ControlModifier | Qt::Key_Comma));
    addCommand(*this, QStringLiteral("Nach Updates suchen…"), actions.checkForUpdates);
    addCommand(*this, QStringLiteral("Über Tilora – Impressum & Lizenz"), actions.showAbout);
    addCommand(*this, QStringLiteral("Quelltext (Open Source, MIT)"), actions.openSource);
    addSeparator();
    addCommand(*this, QStringLiteral("Tilora beenden"), actions.terminate,
               QKeySequence(Qt::ControlModifier | Qt::Key_Q));
}

QString TLStatusMenu::itemTitle(const QAction* action) {
    return action ? action->text().replace(QStringLiteral("&&"), QStringLiteral("&")) : QString();
}

QString TLStatusMenu::layoutIdentifier(const QAction* action) {
    return action ? action->data().toString() : QString();
}

const TLLayout* TLStatusMenu::layoutForAction(const QAction* action) {
    const QString identifier = layoutIdentifier(action);
    return identifier.isEmpty() ? nullptr : TLLayout::layoutWithIdentifier(identifier.toStdString());
}

void TLStatusMenu::initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const {
    QMenu::initStyleOption(option, action);
    // Menus have no indentation levels; a layout item is moved in by a few blanks under its header.
    if (!layoutIdentifier(action).isEmpty()) {
        option->text.prepend(QStringLiteral("    "));
    }
}
