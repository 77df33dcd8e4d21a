#include "TLAppDelegate.h"

#include "TLAboutPanel.h"
#include "TLAppServices.h"
#include "TLBuildSettings.h"
#include "TLCredits.h"
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLLog.h"
#include "TLMainMenu.h"
#include "TLStatusIcon.h"
#include "TLStatusMenu.h"
#include "TLTrayWatch.h"
#include "TLUserDefaults.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QMouseEvent>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>
#include <QWidget>

#include <functional>

TLAppDelegate::TLAppDelegate(TLHotkeyManager& hotkeys, TLUserDefaults& defaults, TLAppServices& services,
                             const TLKeyboardLayout& labels, const TLLog& log, QObject* parent)
    : QObject(parent), hotkeys_(hotkeys), defaults_(defaults), services_(services), labels_(labels),
      log_(log), terminate_([] { QCoreApplication::quit(); }) {}

TLAppDelegate::~TLAppDelegate() {
    // The manager outlives the delegate; its handler must not call into a deleted one.
    hotkeys_.setHandler(nullptr);
}

void TLAppDelegate::setTerminateHandler(std::function<void()> terminate) {
    terminate_ = std::move(terminate);
}

void TLAppDelegate::terminate() {
    if (terminate_) {
        terminate_();
    }
}

void TLAppDelegate::applicationDidFinishLaunching() {
    // 1. Accessory: no taskbar entry (there is no main window) and closing the last window
    //    does not quit; only the quit commands do.
    QApplication::setQuitOnLastWindowClosed(false);
    // 2. and 3.: menus, tray icon and the first status menu, before any hot key is registered.
    buildMainMenu();
    buildStatusItem();
    // 4. Hot-key presses apply their layout at once.
    hotkeys_.setHandler([this](const TLLayout& layout) { apply(layout); });
    // 5. Refused hot keys go to the log, one line, besides the settings window's status line;
    //    the manager tries them again from time to time. Shortcuts that name no key never work.
    QStringList refused = hotkeys_.registerAll();
    const QStringList keyless = hotkeys_.keylessShortcuts();
    refused.removeIf([&](const QString& failure) { return keyless.contains(failure); });
    if (!refused.isEmpty()) {
        log_.write(QStringLiteral("Tilora: Vom System verweigert (anderswo belegt?): ") +
                   refused.join(QStringLiteral(", ")));
    }
    if (!keyless.isEmpty()) {
        log_.write(QStringLiteral("Tilora: Tastenkürzel ohne Taste: ") + keyless.join(QStringLiteral(", ")));
    }
    // 6.
    connect(&hotkeys_, &TLHotkeyManager::hotkeysDidChange, this, &TLAppDelegate::rebuildMenu);
    // 7. reads TLFirstLaunchDone before 8. can set it.
    recoverAccessibilityAfterUpdate();
    firstLaunchSetup();
    // 9.
    services_.scheduleAutomaticChecks();
    // 10. Asked again: 7. may have reset the grant. Here the grant is a window manager: there
    //     is nothing to open for it, and it may still be on its way.
    if (!services_.isTrusted()) {
        services_.requestTrust();
        log_.write(std::string_view(kNoWindowManagerLine));
        watchForTrust();
    }
    // Without a tray nothing would show that Tilora runs.
    QTimer::singleShot(kNoTrayDelayMs, this, &TLAppDelegate::checkTray);
}

void TLAppDelegate::checkTray() {
    // Only asked when an icon exists: asking Qt before a D-Bus tray exists would keep it from
    // ever using one.
    if (statusItem_ && QSystemTrayIcon::isSystemTrayAvailable()) {
        return;
    }
    log_.write(std::string_view(kNoTrayLine));
    showPreferences();
}

void TLAppDelegate::watchForTrust() {
    trustWatch_ = std::make_unique<QTimer>();
    trustWatch_->setInterval(kTrustPollMs);
    connect(trustWatch_.get(), &QTimer::timeout, this, [this] {
        if (services_.isTrusted()) {
            trustWatch_->stop();
            log_.write(std::string_view(kWindowManagerFoundLine));
            recoverAccessibilityAfterUpdate(); // as a launch with it would
        }
    });
    trustWatch_->start();
}

void TLAppDelegate::buildMainMenu() {
    mainMenu_ = std::make_unique<TLMainMenu>([this] { showPreferences(); }, [this] { terminate(); });
}

void TLAppDelegate::buildStatusItem() {
    menu_ = std::make_unique<TLStatusMenu>();
    trayWatch_ = std::make_unique<TLTrayWatch>();
    if (trayWatch_->iconCanBeMade()) {
        makeStatusIcon();
    } else {
        connect(trayWatch_.get(), &TLTrayWatch::trayAppeared, this, &TLAppDelegate::makeStatusIcon);
    }
    rebuildMenu();
}

void TLAppDelegate::makeStatusIcon() {
    if (statusItem_) {
        return;
    }
    statusItem_ = std::make_unique<QSystemTrayIcon>();
    statusItem_->setIcon(TLStatusIcon::trayIcon(TLStatusIcon::Panel::Dark));
    statusItem_->setToolTip(QStringLiteral("Tilora"));
    statusItem_->setContextMenu(menu_.get());
    // A left click opens the menu too, as a click on a status item does; so does a left click
    // that Qt counts as a double click (see below). A tray that asks its items for their menu
    // (StatusNotifierItem hosts that draw none themselves, such as swaybar) gets it as well.
    connect(statusItem_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick ||
                    reason == QSystemTrayIcon::Context) {
                    popUpStatusMenu(QCursor::pos());
                }
            });
    // The icon pops its menu up on a right press but ignores a right double click. A press soon
    // after the one that opened the menu is counted as one when the menu was closed with the
    // keyboard (no click in between), so eventFilter opens the menu for it.
    qApp->installEventFilter(this);
    statusItem_->show();
}

void TLAppDelegate::popUpStatusMenu(const QPoint& at) {
    if (menu_ && !menu_->isVisible()) {
        // A fixed size: where the menu cannot be a popup of one of Tilora's windows (Wayland),
        // a tiling compositor then floats it instead of giving it a whole screen.
        menu_->setFixedSize(menu_->sizeHint());
        menu_->popup(at);
    }
}

bool TLAppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        // The application icon goes with each real window as it appears. Set for the whole
        // application at launch, it would be drawn at every size and written into the tray
        // icon's own window, which nobody sees.
        if ((widget->windowType() == Qt::Window || widget->windowType() == Qt::Dialog) &&
            !widget->testAttribute(Qt::WA_SetWindowIcon) &&
            qstrcmp(widget->metaObject()->className(), "QSystemTrayIconSys") != 0) {
            if (windowIcon_.isNull()) {
                windowIcon_ = TLStatusIcon::applicationIcon();
            }
            widget->setWindowIcon(windowIcon_);
        }
        return false;
    }
    if (event->type() != QEvent::MouseButtonDblClick || !statusItem_ || !watched->isWidgetType()) {
        return false;
    }
    const auto* click = static_cast<QMouseEvent*>(event);
    const auto* widget = static_cast<QWidget*>(watched);
    // The tray icon's own window: the only one that covers exactly the icon's area.
    const QRect icon = statusItem_->geometry();
    if (click->button() != Qt::RightButton || !widget->isWindow() || widget == menu_.get() ||
        icon.isEmpty() || QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size()) != icon) {
        return false;
    }
    popUpStatusMenu(click->globalPosition().toPoint());
    return true;
}

void TLAppDelegate::rebuildMenu() {
    if (!menu_) {
        return;
    }
    TLStatusMenu::Actions actions;
    actions.menuApply = [this](QAction* item) { menuApply(item); };
    actions.showPreferences = [this] { showPreferences(); };
    actions.checkForUpdates = [this] { checkForUpdates(); };
    actions.showAbout = [this] { showAbout(); };
    actions.openSource = [this] { openSource(); };
    actions.terminate = [this] { terminate(); };
    menu_->rebuild(
        TLLayout::allLayouts(), [this](const TLLayout& layout) { return hotkeys_.shortcutForLayout(layout); },
        labels_, actions);
}

void TLAppDelegate::apply(const TLLayout& layout) {
    QString error;
    if (!services_.applyLayout(layout, &error)) {
        log_.write(QStringLiteral("Tilora: %1 – %2").arg(QString::fromStdString(layout.name()), error));
    }
}

void TLAppDelegate::menuApply(QAction* item) {
    const TLLayout* layout = TLStatusMenu::layoutForAction(item);
    if (!layout) {
        return;
    }
    // Catalogue entries live for the whole process, so the pointer outlives the timer; the
    // timer is owned by the delegate and dies with it.
    QTimer::singleShot(kMenuApplyDelayMs, this, [this, layout] { apply(*layout); });
}

void TLAppDelegate::checkForUpdates() {
    services_.checkForUpdatesInteractive();
}

void TLAppDelegate::showPreferences() {
    services_.showPreferences();
}

void TLAppDelegate::openSource() {
    services_.openUrl(QUrl(QString::fromUtf8(TLBuildSettings::kSourceUrl)));
}

void TLAppDelegate::showAbout() {
    if (!aboutPanel_) {
        aboutPanel_ = std::make_unique<TLAboutPanel>();
    }
    aboutPanel_->present(QStringLiteral("Tilora"), currentVersion(), TLCredits::creditsText());
}

QString TLAppDelegate::currentVersion() const {
    return services_.shortVersion().value_or(QString());
}

void TLAppDelegate::recoverAccessibilityAfterUpdate() {
    const QString version = currentVersion();
    if (services_.isTrusted()) {
        defaults_.setObject(version, QString::fromLatin1(TLUserDefaults::kTrustedWithVersion));
        return;
    }
    const std::optional<QString> stored =
        defaults_.stringForKey(QString::fromLatin1(TLUserDefaults::kTrustedWithVersion));
    if (stored) {
        if (*stored == version) {
            return;
        }
    } else if (defaults_.boolForKey(QString::fromLatin1(TLUserDefaults::kFirstLaunchDone))) {
        return;
    }

    defaults_.removeObjectForKey(QString::fromLatin1(TLUserDefaults::kTrustedWithVersion));
    if (resetToolPath_.isEmpty()) {
        return; // no grant to reset on this platform
    }
    const QString identifier =
        services_.bundleIdentifier().value_or(QString::fromUtf8(TLBuildSettings::kBundleIdentifier));
    QString failure;
    if (!services_.runTool(resetToolPath_,
                           {QStringLiteral("reset"), QStringLiteral("Accessibility"), identifier},
                           &failure)) {
        log_.write(QStringLiteral("Tilora: tccutil nicht verfügbar: %1").arg(failure));
    }
}

void TLAppDelegate::firstLaunchSetup() {
    const QString flag = QString::fromLatin1(TLUserDefaults::kFirstLaunchDone);
    if (defaults_.boolForKey(flag)) {
        return;
    }
    // A start from a translocated (temporary, read-only) copy must not register that copy.
    if (services_.bundlePath().contains(QStringLiteral("/AppTranslocation/"))) {
        return;
    }
    if (!services_.loginItemAvailable()) {
        defaults_.setBool(true, flag);
        return;
    }
    if (services_.enableLoginItem()) {
        defaults_.setBool(true, flag);
    }
}
