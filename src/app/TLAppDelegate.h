#pragma once

#include <QIcon>
#include <QObject>
#include <QString>

#include <memory>

class QAction;
class QEvent;
class QMenu;
class QPoint;
class QSystemTrayIcon;
class QTimer;
class TLAboutPanel;
class TLAppServices;
class TLHotkeyManager;
class TLKeyboardLayout;
class TLLayout;
class TLLog;
class TLMainMenu;
class TLStatusMenu;
class TLTrayWatch;
class TLUserDefaults;

// The application shell: tray icon and menu, applying layouts from hot keys and the menu, the
// About panel and the launch sequence.
class TLAppDelegate : public QObject {
    Q_OBJECT

public:
    // Without a window manager that can move windows (started before it, or none at all),
    // Tilora says so once, opens nothing, and looks again every kTrustPollMs until one is there.
    static constexpr const char* kNoWindowManagerLine =
        "Tilora: Kein EWMH-fähiger Fenstermanager gefunden – Tilora bewegt Fenster, sobald einer läuft.";
    static constexpr const char* kWindowManagerFoundLine =
        "Tilora: Fenstermanager gefunden – Fenster lassen sich jetzt bewegen.";
    static constexpr int kTrustPollMs = 500;
    // How long a menu choice waits before it is applied: the menu must be gone and the
    // previously focused window active again.
    static constexpr int kMenuApplyDelayMs = 150;
    // How long after launching a missing tray counts as missing: the settings window then
    // opens once, so that the user sees Tilora run.
    static constexpr int kNoTrayDelayMs = 3000;
    static constexpr const char* kNoTrayLine =
        "Tilora: Kein Infobereich (System-Tray) gefunden – Tilora läuft mit seinen Tastenkürzeln, "
        "die Einstellungen öffnen sich.";

    // labels name the keys of the menu's shortcuts; failures are written to log.
    TLAppDelegate(TLHotkeyManager& hotkeys, TLUserDefaults& defaults, TLAppServices& services,
                  const TLKeyboardLayout& labels, const TLLog& log, QObject* parent = nullptr);
    ~TLAppDelegate() override;

    // The launch sequence, once, on the main thread.
    void applicationDidFinishLaunching();

    void buildMainMenu();
    void buildStatusItem();
    void rebuildMenu();

    void apply(const TLLayout& layout);
    void menuApply(QAction* item);
    void checkForUpdates();
    void showPreferences();
    void openSource();
    void showAbout();

    void recoverAccessibilityAfterUpdate();
    void firstLaunchSetup();

    // The running version: CFBundleShortVersionString, empty when absent.
    QString currentVersion() const;

    QSystemTrayIcon* statusItem() const { return statusItem_.get(); }
    TLStatusMenu* menu() const { return menu_.get(); }
    TLMainMenu* mainMenu() const { return mainMenu_.get(); }
    TLAboutPanel* aboutPanel() const { return aboutPanel_.get(); }

    // Where quitting goes (tests replace QCoreApplication::quit).
    void setTerminateHandler(std::function<void()> terminate);
    // The tool recoverAccessibilityAfterUpdate starts to reset a stale grant. Linux keeps no such
    // grant and has no such tool: without one the reset is skipped (tests give it one).
    void setResetToolPathForTesting(QString path) { resetToolPath_ = std::move(path); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void terminate();
    void popUpStatusMenu(const QPoint& at);
    void watchForTrust();
    void makeStatusIcon();
    void checkTray();

    TLHotkeyManager& hotkeys_;
    TLUserDefaults& defaults_;
    TLAppServices& services_;
    const TLKeyboardLayout& labels_;
    const TLLog& log_;
    std::unique_ptr<TLStatusMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> statusItem_;
    std::unique_ptr<TLTrayWatch> trayWatch_;
    std::unique_ptr<TLMainMenu> mainMenu_;
    std::unique_ptr<TLAboutPanel> aboutPanel_;
    std::function<void()> terminate_;
    QIcon windowIcon_; // drawn when the first window needs it, shared by all
    QString resetToolPath_;
    std::unique_ptr<QTimer> trustWatch_;
};
