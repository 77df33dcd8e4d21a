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
#include <QTextBrowser>

namespace {

// Application services that answer as configured and record every call in order. Tools are
// really started, so a missing one fails as it would.
struct RecordingServices final : TLAppServices {
    bool record(const QString& name, bool answer = true) {
        calls << name;
        return answer;
    }
    bool isTrusted() override { return record("isTrusted", trusted); }
    void requestTrust() override { record("requestTrust"); }
    bool applyLayout(const TLLayout& layout, QString* error) override {
        applied.push_back(&layout);
        if (!applySucceeds && error) {
            *error = "Kein aktives Fenster.";
        }
        return record("applyLayout", applySucceeds);
    }
    void showPreferences() override { record("showPreferences"); }
    bool loginItemAvailable() override { return record("loginItemAvailable", loginAvailable); }
    bool enableLoginItem() override { return record("enableLoginItem", loginSucceeds); }
    void scheduleAutomaticChecks() override { record("scheduleAutomaticChecks"); }
    void checkForUpdatesInteractive() override { record("checkForUpdatesInteractive"); }
    QString bundlePath() override { return path; }
    std::optional<QString> shortVersion() override { return version; }
    std::optional<QString> bundleIdentifier() override { return identifier; }
    bool runTool(const QString& program, const QStringList& arguments, QString* failure) override {
        return record("runTool", TLProcessRunner::run(program, arguments, failure));
    }
    void openUrl(const QUrl& url) override { record("openUrl:" + url.toString()); }

    bool trusted = false, applySucceeds = true, loginAvailable = true, loginSucceeds = true;
    QString path = "/opt/Tilora.app";
    std::optional<QString> version = "1.1", identifier = "org.tilora.Tilora";
    QStringList calls;
    std::vector<const TLLayout*> applied;
};

class AppDelegate : public ::testing::Test {
protected:
    void SetUp() override {
        delegate.setTerminateHandler([this] { ++terminations; });
        delegate.setResetToolPathForTesting(
            dir.filePath("tccutil")); // the real tool does not exist here either
    }
    void launchTrusted() {
        services.trusted = true;
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

TEST_F(AppDelegate, FirstLaunchSetupRegistersTheLoginItemUntilItSucceeds) {
    const std::tuple<QString, bool, bool, bool, int> rows[] = {
        // bundle path, login items available, registration succeeds, flag afterwards, registrations
        {"/opt/Tilora.app", true, true, true, 1},
        {"/opt/Tilora.app", true, false, false, 1}, // retried next time
        {"/private/var/folders/x/AppTranslocation/1/d/Tilora.app", true, true, false, 0},
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
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(services.calls,
              (QStringList{"isTrusted", "runTool", "loginItemAvailable", "enableLoginItem",
                           "scheduleAutomaticChecks", "isTrusted", "requestTrust", "showPreferences"}));
    EXPECT_TRUE(defaults.boolForKey(TLUserDefaults::kFirstLaunchDone));
    // Not trusted at the first launch: the accessibility grant is reset; the tool is missing here,
    // which costs one log line with the reason, and the launch goes on.
    EXPECT_TRUE(log.size() == 1 && log[0].startsWith("Tilora: tccutil nicht verfügbar: "))
        << log.join("|").toStdString();
    // Trusted and set up: nothing to ask.
    services = RecordingServices();
    services.trusted = true;
    log.clear();
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(services.calls, (QStringList{"isTrusted", "scheduleAutomaticChecks", "isTrusted"}));
    EXPECT_EQ(defaults.stringForKey(TLUserDefaults::kTrustedWithVersion), "1.1");
    EXPECT_TRUE(log.isEmpty());
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
    EXPECT_EQ(terminations, 1);
    EXPECT_TRUE(panel->versionText().contains("1.1") && panel->creditsView()->openExternalLinks());
    delegate.showAbout();
    EXPECT_EQ(delegate.aboutPanel(), panel) << "one panel";
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

TEST(TLProcessRunner, PassesArgumentsWaitsForTheEndAndReportsWhatCannotStart) {
    QTemporaryDir dir;
    QString failure;
    EXPECT_FALSE(TLProcessRunner::run(dir.filePath("no-such-tool"), {"reset"}, &failure));
    EXPECT_FALSE(failure.isEmpty());
    EXPECT_FALSE(TLProcessRunner::run(dir.filePath("no-such-tool"), {}));
    // The record is written in one go at the very end: it exists only if run() waited. A tool
    // that fails after starting counts as run.
    const QString script = dir.filePath("tool.sh"), out = dir.filePath("args.txt");
    ASSERT_TRUE(tlWrite(
        script, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.tmp\"\nmv \"$0.tmp\" \"" +
                    out.toUtf8() + "\"\nexit 3\n"));
    ASSERT_TRUE(QFile::setPermissions(script, QFile::ReadOwner | QFile::ExeOwner));
    failure.clear();
    EXPECT_TRUE(TLProcessRunner::run(script, {"reset", "Accessibility", "org.example.with space"}, &failure));
    EXPECT_TRUE(failure.isEmpty());
    EXPECT_EQ(tlRead(out), "reset\nAccessibility\norg.example.with space\n");
}
