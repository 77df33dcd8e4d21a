#include "TLMainMenu.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QWidget>

#include <utility>

TLMainMenu::TLMainMenu(std::function<void()> showPreferences, std::function<void()> terminate,
                       QObject* parent)
    : QObject(parent), menu_(QStringLiteral("Tilora")) {
    preferences_ = menu_.addAction(QStringLiteral("Einstellungen…"));
    preferences_->setShortcut(QKeySequence(Qt::ControlModifier | Qt::Key_Comma));
    connect(preferences_, &QAction::triggered, this, [showPreferences = std::move(showPreferences)] {
        if (showPreferences) {
            showPreferences();
        }
    });
    menu_.addSeparator();
    close_ = menu_.addAction(QStringLiteral("Fenster schließen"));
    close_->setShortcut(QKeySequence(Qt::ControlModifier | Qt::Key_W));
    connect(close_, &QAction::triggered, this, [] {
        if (QWidget* window = QApplication::activeWindow()) {
            window->close();
        }
    });
    quit_ = menu_.addAction(QStringLiteral("Tilora beenden"));
    quit_->setShortcut(QKeySequence(Qt::ControlModifier | Qt::Key_Q));
    connect(quit_, &QAction::triggered, this, [terminate = std::move(terminate)] {
        if (terminate) {
            terminate();
        }
    });

    for (QAction* action : {preferences_, close_, quit_}) {
        action->setShortcutContext(Qt::WindowShortcut);
    }
    if (qApp) {
        qApp->installEventFilter(this);
    }
}

TLMainMenu::~TLMainMenu() {
    if (qApp) {
        qApp->removeEventFilter(this);
    }
}

void TLMainMenu::attach(QWidget* window) {
    if (!window || qobject_cast<QMenu*>(window)) {
        return;
    }
    for (QAction* action : {preferences_, close_, quit_}) {
        if (!window->actions().contains(action)) {
            window->addAction(action);
        }
    }
}

bool TLMainMenu::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow()) {
            attach(widget);
        }
    }
    return QObject::eventFilter(watched, event);
}
