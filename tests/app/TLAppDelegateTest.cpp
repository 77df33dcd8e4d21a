#include "TLAppDelegate.h"
#include "TLAboutPanel.h"
#include "TLAppServices.h"
#include "TLBuildSettings.h"
#include "TLFakeHotKeyService.h"
#include "TLFakeKeyboardLayout.h"
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLLog.h"
#include "TLModifiers.h"
#include "TLProcessRunner.h"
#include "TLStatusMenu.h"
#include "TLTest.h"
#include "TLUserDefaults.h"

#include <QAction>
#include <QSystemTrayIcon>
#include <QTextBlock>
#include <QTextBrowser>

namespace {

// Application services that answer as configured and record every call in order. Tools are
// really started, so a missing one fails as it would.
struct RecordingServices final : TLAppServices {
    template <typename T>
    T call(const QString& name, T answer) {
        calls << name;
        return answer;
    }
    bool isTrusted() override {
        return call("isTrusted", trustAnswers[std::min(trustCalls++, trustAnswers.size() - 1)]);
    }
    void requestTrust() override { calls << "requestTrust"; }
    bool applyLayout(const TLLayout& layout, QString* error) override {
        applied.push_back(&layout);
        if (!applySucceeds && error) {
            *error = "Kein aktives Fenster.";
        }
        return call("applyLayout", applySucceeds);
    }
    void showPreferences() override { calls << "showPreferences"; }
    bool loginItemAvailable() override { return call("loginItemAvailable", loginAvailable); }
    bool enableLoginItem() override { return call("enableLoginItem", loginSucceeds); }
    void scheduleAutomaticChecks() override { calls << "scheduleAutomaticChecks"; }
    void checkForUpdatesInteractive() override { calls << "checkForUpdatesInteractive"; }
    QString bundlePath() override { return path; }
    std::optional<QString> shortVersion() override { return version; }
    std::optional<QString> bundleIdentifier() override { return identifier; }
    bool runTool(const QString& program, const QStringList& arguments, QString* failure) override {
        toolRuns.push_back(QStringList{program} + arguments);
        return call("runTool", TLProcessRunner::run(program, arguments, failure));
    }
    void openUrl(const QUrl& url) override { calls << "openUrl:" + url.toString(); }

    std::vector<bool> trustAnswers{false}; // one per isTrusted call; the last one repeats
    std::size_t trustCalls = 0;
    bool applySucceeds = true, loginAvailable = true, loginSucceeds = true;
    QString path = "/opt/Tilora.app";
    std::optional<QString> version = "1.1", identifier = "org.tilora.Tilora";
    QStringList calls;
    std::vector<const TLLayout*> applied;
    std::vector<QStringList> toolRuns;
};

class AppDelegate : public ::testing::Test {
protected:
    void SetUp() override {
        delegate.setTerminateHandler([this] { ++terminations; });
        delegate.setResetToolPathForTesting(
            dir.filePath("tccutil")); // the real tool does not exist here either
    }
    void launchTrusted() {
        services.trustAnswers = {true};
        delegate.applicationDidFinishLaunching();
        services.calls.clear();
    }
    QAction* itemFor(const TLLayout& layout) const {
        const QList<QAction*> actions = delegate.menu()->actions();
        const auto found = std::ranges::find(actions, &layout, &TLStatusMenu::layoutForAction);
        return found == actions.end() ? nullptr : *found;
    }

    QTemporaryDir dir;
    QStringList log;
    TLLog sink{
        [this](std::string_view line) { log << QString::fromUtf8(line.data(), qsizetype(line.size())); }};
    TLFakeKeyboardLayout keyboard;
    TLFakeHotKeyService hotKeyService;
    RecordingServices services;
    TLUserDefaults defaults{dir.filePath("Tilora.plist"), sink};
    TLHotkeyManager hotkeys{defaults, hotKeyService, keyboard};
    TLAppDelegate delegate{hotkeys, defaults, services, keyboard, sink};
    int terminations = 0;
};

TEST_F(AppDelegate, AccessibilityRecoveryFollowsTheDecisionTable) {
    const std::optional<QString> absent;
    const struct {
        bool trusted;
        std::optional<QString> version, stored; // of the bundle, as stored
        bool firstLaunchDone;
        std::optional<QString> storedAfter;
        bool resets;
    } rows[] = {
        {true, "1.1", "1.0", true, "1.1", false},
        {true, "1.1", absent, false, "1.1", false},
        {true, absent, "1.0", true, "", false},
        {false, "1.1", "1.1", false, "1.1", false},
        {false, absent, "", false, "", false},
        {false, "1.1", "1.0", true, absent, true}, // after an update
        {false, "1.1", absent, false, absent, true},
        {false, "1.1", absent, true, absent, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.trusted) + row.version.value_or("-").toStdString() +
                     row.stored.value_or("-").toStdString() + std::to_string(row.firstLaunchDone));
        services = RecordingServices();
        services.trustAnswers = {row.trusted};
        services.version = row.version;
        defaults.setObject(row.stored ? QVariant(*row.stored) : QVariant(),
                           TLUserDefaults::kTrustedWithVersion);
        defaults.setBool(row.firstLaunchDone, TLUserDefaults::kFirstLaunchDone);
        log.clear();
        delegate.recoverAccessibilityAfterUpdate();
        EXPECT_EQ(defaults.stringForKey(TLUserDefaults::kTrustedWithVersion), row.storedAfter);
        ASSERT_EQ(services.toolRuns.size(), row.resets ? 1u : 0u);
        ASSERT_EQ(log.size(), row.resets ? 1 : 0);
        if (row.resets) {
            EXPECT_EQ(services.toolRuns[0],
                      (QStringList{dir.filePath("tccutil"), "reset", "Accessibility", "org.tilora.Tilora"}));
            // The tool is missing here: one log line with the reason, and the launch goes on.
            EXPECT_TRUE(log[0].startsWith("Tilora: tccutil nicht verfügbar: ") && log[0].size() > 34)
                << log[0].toStdString();
        }
        EXPECT_FALSE(services.calls.contains("requestTrust")) << "the repair never asks for trust itself";
    }
    services.identifier.reset(); // a bundle without an identifier: the built-in one is reset
    defaults.setObject(QStringLiteral("1.0"), TLUserDefaults::kTrustedWithVersion);
    delegate.recoverAccessibilityAfterUpdate();
    EXPECT_EQ(services.toolRuns.back().last(), TLBuildSettings::kBundleIdentifier);
}

TEST_F(AppDelegate, FirstLaunchSetupRegistersTheLoginItemUntilItSucceeds) {
    const std::tuple<QString, bool, bool, bool, int> rows[] = {
        // bundle path, login items available, registration succeeds, flag afterwards, registrations
        {"/opt/Tilora.app", true, true, true, 1},
        {"/opt/Tilora.app", true, false, false, 1}, // retried next time
        {"/private/var/folders/x/AppTranslocation/1/d/Tilora.app", true, true, false, 0},
        {"/home/u/apptranslocation/Tilora.app", true, true, true, 1}, // only the exact component counts
        {"/opt/Tilora.app", false, true, true, 0},
    };
    for (const auto& [path, available, succeeds, flagAfter, registrations] : rows) {
        SCOPED_TRACE(path.toStdString());
        services.calls.clear();
        services.path = path;
        services.loginAvailable = available;
        services.loginSucceeds = succeeds;
        defaults.setBool(false, TLUserDefaults::kFirstLaunchDone);
        delegate.firstLaunchSetup();
        EXPECT_EQ(defaults.boolForKey(TLUserDefaults::kFirstLaunchDone), flagAfter);
        delegate.firstLaunchSetup(); // once the flag is set, later launches leave it alone
        EXPECT_EQ(services.calls.count("enableLoginItem"), flagAfter ? registrations : 2 * registrations);
    }
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(AppDelegate, LaunchRunsItsStepsInOrder) {
    QApplication::setQuitOnLastWindowClosed(true);
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(services.calls,
              (QStringList{"isTrusted", "runTool", "loginItemAvailable", "enableLoginItem",
                           "scheduleAutomaticChecks", "isTrusted", "requestTrust", "showPreferences"}));
    EXPECT_TRUE(defaults.boolForKey(TLUserDefaults::kFirstLaunchDone));
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    EXPECT_EQ(delegate.statusItem()->contextMenu(), delegate.menu());
    EXPECT_EQ(hotKeyService.registered.size(), 30u);
    // Trusted and set up: nothing to ask. Refused hot keys and shortcuts without a key: one line each.
    services = RecordingServices();
    services.trustAnswers = {true};
    log.clear();
    hotKeyService.taken = {{123, TLControlKey | TLOptionKey}, {124, TLControlKey | TLOptionKey}};
    hotkeys.setShortcut(TLShortcut::shortcutWithKeyCode(52, TLControlKey), TLLayout::allLayouts().front());
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(services.calls, (QStringList{"isTrusted", "scheduleAutomaticChecks", "isTrusted"}));
    EXPECT_EQ(defaults.stringForKey(TLUserDefaults::kTrustedWithVersion), "1.1");
    EXPECT_EQ(log,
              (QStringList{"Tilora: Vom System verweigert (anderswo belegt?): Linke Hälfte (⌃⌥←), Rechte "
                           "Hälfte (⌃⌥→)",
                           "Tilora: Tastenkürzel ohne Taste: Linkes Drittel (⌃#52)"}));
}

TEST_F(AppDelegate, HotKeysAndMenuChoicesApplyAndAFailureIsLoggedOnce) {
    launchTrusted();
    const TLLayout& first = TLLayout::allLayouts().front();
    ASSERT_TRUE(hotKeyService.press(18, TLControlKey | TLOptionKey));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !services.applied.empty(); }));
    EXPECT_EQ(services.applied.back(), &first);
    const TLLayout& fourth = TLLayout::allLayouts().at(3);
    QElapsedTimer clock;
    clock.start();
    itemFor(fourth)->trigger();
    EXPECT_EQ(services.applied.size(), 1u) << "applied within the menu action";
    ASSERT_TRUE(QTest::qWaitFor([&] { return services.applied.size() == 2; }));
    EXPECT_GE(clock.elapsed(), TLAppDelegate::kMenuApplyDelayMs - 5);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(services.applied.back(), &fourth);
    services.applySucceeds = false;
    delegate.apply(first);
    EXPECT_EQ(log, QStringList{"Tilora: Linkes Drittel – Kein aktives Fenster."});
}

TEST_F(AppDelegate, MenuFollowsTheShortcutsAndItsCommandsReachTheirServices) {
    launchTrusted();
    const TLLayout& layout = TLLayout::allLayouts().front();
    hotkeys.setShortcut(TLShortcut::shortcutWithKeyCode(7, TLControlKey | TLShiftKey), layout); // X
    EXPECT_EQ(itemFor(layout)->shortcut(), QKeySequence(Qt::ControlModifier | Qt::ShiftModifier | Qt::Key_X));
    hotkeys.setShortcut(std::nullopt, layout);
    EXPECT_TRUE(itemFor(layout)->shortcut().isEmpty());

    for (QAction* action : delegate.menu()->actions()) {
        if (!action->isSeparator() && action->isEnabled() && !TLStatusMenu::layoutForAction(action)) {
            action->trigger();
        }
    }
    EXPECT_EQ(services.calls, (QStringList{"showPreferences", "checkForUpdatesInteractive",
                                           "openUrl:" + QString(TLBuildSettings::kSourceUrl)}));
    TLAboutPanel* panel = delegate.aboutPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_FALSE(panel->windowIcon().isNull()) << "each real window gets the icon";
    EXPECT_TRUE(QApplication::windowIcon().isNull()) << "never the tray icon's window";
    EXPECT_EQ(terminations, 1);
    EXPECT_TRUE(panel->versionText().contains("1.1"));
    EXPECT_TRUE(panel->creditsView()->openExternalLinks());
    // Links in the palette's link colour, everything else in its text colour.
    for (QTextBlock block = panel->creditsView()->document()->begin(); block.isValid();
         block = block.next()) {
        for (auto piece = block.begin(); !piece.atEnd(); ++piece) {
            const QTextCharFormat format = piece.fragment().charFormat();
            const auto role = format.isAnchor() ? QPalette::Link : QPalette::WindowText;
            EXPECT_EQ(format.foreground().color(), QGuiApplication::palette().color(role));
        }
    }
    services.version.reset();
    delegate.showAbout();
    EXPECT_EQ(delegate.aboutPanel(), panel) << "one panel, filled anew";
    EXPECT_TRUE(panel->versionText().isEmpty());
    panel->close();
    // Window shortcuts work in Tilora's own windows.
    QWidget window;
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    services.calls.clear();
    QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(services.calls, QStringList{"showPreferences"});
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(terminations, 2);
    QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window.isVisible());
}

} // namespace
