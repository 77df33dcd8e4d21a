#include "TLAppDelegate.h"
#include "TLAboutPanel.h"
#include "TLBuildSettings.h"
#include "TLFakeHotKeyService.h"
#include "TLFakeKeyboardLayout.h"
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLLog.h"
#include "TLModifiers.h"
#include "TLRecordingAppServices.h"
#include "TLStatusMenu.h"
#include "TLUserDefaults.h"
#include "support/TLQtTestApplication.h"

#include <QAction>
#include <QElapsedTimer>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

namespace {

const QString kTrustedWithVersion = QString::fromLatin1(TLUserDefaults::kTrustedWithVersion);
const QString kFirstLaunchDone = QString::fromLatin1(TLUserDefaults::kFirstLaunchDone);

class AppDelegate : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        delegate_.setTerminateHandler([this] { ++terminations_; });
        // The real reset tool does not exist on Linux, nor does this one.
        delegate_.setResetToolPathForTesting(dir_.filePath(QStringLiteral("tccutil")));
    }
    void launchTrusted() {
        services_.trustAnswers = {true};
        delegate_.applicationDidFinishLaunching();
        services_.calls.clear();
    }

    QAction* itemFor(const TLLayout& layout) const {
        const QList<QAction*> actions = delegate_.menu()->actions();
        const auto found = std::ranges::find(actions, &layout, &TLStatusMenu::layoutForAction);
        return found == actions.end() ? nullptr : *found;
    }

    QTemporaryDir dir_;
    QStringList log_;
    TLLog logSink_{
        [this](std::string_view line) { log_ << QString::fromUtf8(line.data(), qsizetype(line.size())); }};
    TLFakeKeyboardLayout keyboard_{TLFakeKeyboardLayout::Arrangement::US};
    TLFakeHotKeyService hotKeyService_;
    TLRecordingAppServices services_;
    TLUserDefaults defaults_{dir_.filePath(QStringLiteral("Tilora.plist")), logSink_};
    TLHotkeyManager hotkeys_{defaults_, hotKeyService_, keyboard_};
    TLAppDelegate delegate_{hotkeys_, defaults_, services_, keyboard_, logSink_};
    int terminations_ = 0;
};

TEST_F(AppDelegate, AccessibilityRecoveryFollowsTheDecisionTable) {
    const std::optional<QString> absent;
    const struct {
        const char* what;
        bool trusted;
        std::optional<QString> version; // of the bundle
        std::optional<QString> stored;
        bool firstLaunchDone;
        std::optional<QString> storedAfter;
        bool resets;
    } rows[] = {
        {"trusted, older version stored", true, "1.1", "1.0", true, "1.1", false},
        {"trusted, nothing stored, first launch", true, "1.1", absent, false, "1.1", false},
        {"trusted, no bundle version", true, absent, "1.0", true, "", false},
        {"untrusted, same version stored", false, "1.1", "1.1", false, "1.1", false},
        {"untrusted, no bundle version equals a stored empty one", false, absent, "", false, "", false},
        {"untrusted after an update", false, "1.1", "1.0", true, absent, true},
        {"untrusted, nothing stored, first launch", false, "1.1", absent, false, absent, true},
        {"untrusted, nothing stored, set up before", false, "1.1", absent, true, absent, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        services_ = TLRecordingAppServices();
        services_.trustAnswers = {row.trusted};
        services_.version = row.version;
        defaults_.removeObjectForKey(kTrustedWithVersion);
        if (row.stored) {
            defaults_.setObject(*row.stored, kTrustedWithVersion);
        }
        defaults_.setBool(row.firstLaunchDone, kFirstLaunchDone);
        log_.clear();

        delegate_.recoverAccessibilityAfterUpdate();

        EXPECT_EQ(defaults_.stringForKey(kTrustedWithVersion), row.storedAfter);
        ASSERT_EQ(services_.toolRuns.size(), row.resets ? 1u : 0u);
        ASSERT_EQ(log_.size(), row.resets ? 1 : 0);
        if (row.resets) {
            EXPECT_EQ(services_.toolRuns[0], (QStringList{dir_.filePath(QStringLiteral("tccutil")), "reset",
                                                          "Accessibility", "org.tilora.Tilora"}));
            // The tool is missing here: one log line with the reason, and the launch goes on.
            const QString prefix = QStringLiteral("Tilora: tccutil nicht verfügbar: ");
            EXPECT_TRUE(log_[0].startsWith(prefix) && log_[0].size() > prefix.size())
                << log_[0].toStdString();
        }
        // The repair never asks for trust itself.
        EXPECT_FALSE(services_.calls.contains(QStringLiteral("requestTrust")));
    }

    // A bundle without an identifier: the built-in one is reset.
    services_.identifier.reset();
    defaults_.setObject(QStringLiteral("1.0"), kTrustedWithVersion);
    delegate_.recoverAccessibilityAfterUpdate();
    ASSERT_FALSE(services_.toolRuns.empty());
    EXPECT_EQ(services_.toolRuns.back().last(), QString::fromUtf8(TLBuildSettings::kBundleIdentifier));
}

TEST_F(AppDelegate, FirstLaunchSetupRegistersTheLoginItemUntilItSucceeds) {
    const struct {
        const char* what;
        QString path;
        bool available;
        bool succeeds;
        bool flagAfter;
        int registrations;
    } rows[] = {
        {"normal start", "/opt/Tilora.app", true, true, true, 1},
        {"registration fails: retried next time", "/opt/Tilora.app", true, false, false, 1},
        {"translocated copy", "/private/var/folders/x/AppTranslocation/1/d/Tilora.app", true, true, false, 0},
        {"only the exact, case-sensitive component counts", "/home/u/apptranslocation/Tilora.app", true, true,
         true, 1},
        {"no login items on this system", "/opt/Tilora.app", false, true, true, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        services_.calls.clear();
        services_.path = row.path;
        services_.loginAvailable = row.available;
        services_.loginSucceeds = row.succeeds;
        defaults_.setBool(false, kFirstLaunchDone);

        delegate_.firstLaunchSetup();
        EXPECT_EQ(defaults_.boolForKey(kFirstLaunchDone), row.flagAfter);
        // Once the flag is set, later launches leave start at login alone.
        delegate_.firstLaunchSetup();
        EXPECT_EQ(services_.calls.count(QStringLiteral("enableLoginItem")),
                  row.flagAfter ? row.registrations : 2 * row.registrations);
    }
    EXPECT_TRUE(log_.isEmpty());
}

TEST_F(AppDelegate, FreshUntrustedLaunchRunsTheStepsInOrder) {
    QApplication::setQuitOnLastWindowClosed(true);
    delegate_.applicationDidFinishLaunching();
    EXPECT_EQ(services_.calls,
              (QStringList{"isTrusted", "runTool", "loginItemAvailable", "enableLoginItem",
                           "scheduleAutomaticChecks", "isTrusted", "requestTrust", "showPreferences"}));
    EXPECT_TRUE(defaults_.boolForKey(kFirstLaunchDone));
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    // Tray icon, its menu and the hot keys are in place.
    ASSERT_NE(delegate_.statusItem(), nullptr);
    EXPECT_EQ(delegate_.statusItem()->toolTip(), QStringLiteral("Tilora"));
    EXPECT_EQ(delegate_.statusItem()->contextMenu(), delegate_.menu());
    EXPECT_NE(itemFor(TLLayout::allLayouts().front()), nullptr);
    EXPECT_EQ(hotKeyService_.registered().size(), TLLayout::allLayouts().size());
}

TEST_F(AppDelegate, TrustedLaunchAfterSetupAsksForNothing) {
    services_.trustAnswers = {true};
    defaults_.setBool(true, kFirstLaunchDone);
    delegate_.applicationDidFinishLaunching();
    EXPECT_EQ(services_.calls, (QStringList{"isTrusted", "scheduleAutomaticChecks", "isTrusted"}));
    EXPECT_EQ(defaults_.stringForKey(kTrustedWithVersion), QStringLiteral("1.1"));
    EXPECT_TRUE(log_.isEmpty());
}

TEST_F(AppDelegate, FailedApplyWritesExactlyOneLogLine) {
    const TLLayout& layout = TLLayout::allLayouts().front();
    services_.applySucceeds = false;
    delegate_.apply(layout);
    EXPECT_EQ(log_, QStringList{QStringLiteral("Tilora: Linkes Drittel – Kein aktives Fenster.")});

    services_.applySucceeds = true;
    delegate_.apply(layout);
    EXPECT_EQ(log_.size(), 1);
    EXPECT_EQ(services_.applied.size(), 2u);
}

TEST_F(AppDelegate, HotKeysApplyAndShortcutChangesRebuildTheMenu) {
    launchTrusted();
    const TLLayout& layout = TLLayout::allLayouts().front();
    const TLShortcut shortcut = hotkeys_.shortcutForLayout(layout);
    ASSERT_TRUE(hotKeyService_.press(static_cast<std::uint32_t>(shortcut.keyCode()), shortcut.modifiers()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !services_.applied.empty(); }));
    EXPECT_EQ(services_.applied.front(), &layout);

    hotkeys_.setShortcut(TLShortcut::shortcutWithKeyCode(7, TLControlKey | TLShiftKey), layout); // X
    EXPECT_EQ(itemFor(layout)->shortcut(), QKeySequence(Qt::ControlModifier | Qt::ShiftModifier | Qt::Key_X));
    hotkeys_.setShortcut(std::nullopt, layout);
    EXPECT_TRUE(itemFor(layout)->shortcut().isEmpty());
}

TEST_F(AppDelegate, MenuChoiceIsAppliedAbout150msLater) {
    launchTrusted();
    const TLLayout& layout = TLLayout::allLayouts().at(3);
    QElapsedTimer clock;
    clock.start();
    itemFor(layout)->trigger();
    EXPECT_TRUE(services_.applied.empty()) << "applied within the menu action";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !services_.applied.empty(); }));
    EXPECT_GE(clock.elapsed(), TLAppDelegate::kMenuApplyDelayMs - 5);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(services_.applied.front(), &layout);
}

TEST_F(AppDelegate, FixedCommandsReachTheirServices) {
    launchTrusted();
    for (QAction* action : delegate_.menu()->actions()) {
        if (!action->isSeparator() && action->isEnabled() && !TLStatusMenu::layoutForAction(action)) {
            action->trigger();
        }
    }
    EXPECT_EQ(services_.calls, (QStringList{"showPreferences", "checkForUpdatesInteractive", "openUrl"}));
    EXPECT_EQ(services_.opened, std::vector<QUrl>{QUrl(QString::fromUtf8(TLBuildSettings::kSourceUrl))});
    ASSERT_NE(delegate_.aboutPanel(), nullptr);
    EXPECT_TRUE(delegate_.aboutPanel()->isVisible());
    delegate_.aboutPanel()->close();
    EXPECT_EQ(terminations_, 1);
    // Headers stand for no layout.
    EXPECT_EQ(TLStatusMenu::layoutForAction(delegate_.menu()->actions().first()), nullptr);
}

TEST_F(AppDelegate, AboutShowsNameVersionAndCredits) {
    delegate_.showAbout();
    TLAboutPanel* panel = delegate_.aboutPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->applicationName(), QStringLiteral("Tilora"));
    EXPECT_TRUE(panel->versionText().contains(QStringLiteral("1.1")));
    EXPECT_TRUE(
        panel->creditsView()->document()->toPlainText().contains(QStringLiteral("Quelltext & Lizenz")));
    EXPECT_TRUE(panel->creditsView()->openExternalLinks());

    services_.version.reset();
    delegate_.showAbout();
    EXPECT_EQ(delegate_.aboutPanel(), panel); // one panel, filled anew
    EXPECT_TRUE(panel->versionText().isEmpty());
    panel->close();
}

TEST_F(AppDelegate, WindowShortcutsWorkInTiloraWindows) {
    launchTrusted();
    QWidget window;
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    QTest::keyClick(&window, Qt::Key_Comma, Qt::ControlModifier);
    EXPECT_EQ(services_.calls, QStringList{"showPreferences"});
    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(terminations_, 1);
    QTest::keyClick(&window, Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(window.isVisible());
}

} // namespace
