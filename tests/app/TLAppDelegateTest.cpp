#include "TLAppDelegate.h"
#include "TLAboutPanel.h"
#include "TLBuildSettings.h"
#include "TLFakeHotKeyService.h"
#include "TLFakeKeyboardLayout.h"
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLLog.h"
#include "TLMainMenu.h"
#include "TLModifiers.h"
#include "TLRecordingAppServices.h"
#include "TLStatusMenu.h"
#include "TLUserDefaults.h"
#include "support/TLQtTestApplication.h"

#include <QAction>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>
#include <QWidget>

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <memory>
#include <optional>

namespace {

// A test name from a row's description: letters and digits kept, everything else '_'.
template <typename Row>
std::string rowName(const ::testing::TestParamInfo<Row>& info) {
    std::string name;
    for (const char c : std::string(info.param.what)) {
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    }
    return name;
}

const QString kTrustedWithVersion = QString::fromLatin1(TLUserDefaults::kTrustedWithVersion);
const QString kFirstLaunchDone = QString::fromLatin1(TLUserDefaults::kFirstLaunchDone);

bool spinUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

class AppDelegate : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        TLKeyboardLayout::install(&keyboard_);
        TLLog::setSinkForTesting([this](const QString& line) { log_ << line; });
        defaults_ = std::make_unique<TLUserDefaults>(dir_.filePath(QStringLiteral("Tilora.plist")));
        hotkeys_ = std::make_unique<TLHotkeyManager>(*defaults_, hotKeyService_);
        delegate_ = std::make_unique<TLAppDelegate>(*hotkeys_, *defaults_, services_);
        delegate_->setTerminateHandler([this] { ++terminations_; });
        // The real reset tool does not exist here either; tests that need a tool that runs
        // write one.
        delegate_->setResetToolPathForTesting(dir_.filePath(QStringLiteral("tccutil")));
    }
    void TearDown() override {
        delegate_.reset();
        hotkeys_.reset();
        TLLog::setSinkForTesting(nullptr);
        TLKeyboardLayout::install(nullptr);
    }

    // A stand-in reset tool that records its arguments.
    QString writeResetTool() {
        const QString path = dir_.filePath(QStringLiteral("tccutil"));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("#!/bin/sh\nprintf '%s ' \"$@\" > \"$0.args\"\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return path + QStringLiteral(".args");
    }

    QAction* itemNamed(const QString& text) const {
        for (QAction* action : delegate_->menu()->actions()) {
            if (TLStatusMenu::itemTitle(action) == text && TLStatusMenu::layoutForAction(action)) {
                return action;
            }
        }
        return nullptr;
    }

    QTemporaryDir dir_;
    TLFakeKeyboardLayout keyboard_{TLFakeKeyboardLayout::Arrangement::US};
    TLFakeHotKeyService hotKeyService_;
    TLRecordingAppServices services_;
    std::unique_ptr<TLUserDefaults> defaults_;
    std::unique_ptr<TLHotkeyManager> hotkeys_;
    std::unique_ptr<TLAppDelegate> delegate_;
    QStringList log_;
    int terminations_ = 0;
};

// recoverAccessibilityAfterUpdate, one row of the decision table per case.
struct RecoveryRow {
    const char* what;
    bool trusted;
    std::optional<QString> stored;
    bool firstLaunchDone;
    std::optional<QString> storedAfter;
    bool resets;
};

void PrintTo(const RecoveryRow& row, std::ostream* os) {
    *os << row.what;
}

class AccessibilityRecovery : public AppDelegate, public ::testing::WithParamInterface<RecoveryRow> {};

TEST_P(AccessibilityRecovery, FollowsTheDecisionTable) {
    const RecoveryRow& row = GetParam();
    services_.trustAnswers = {row.trusted};
    if (row.stored) {
        defaults_->setObject(*row.stored, kTrustedWithVersion);
    }
    defaults_->setBool(row.firstLaunchDone, kFirstLaunchDone);
    const QString record = writeResetTool();

    delegate_->recoverAccessibilityAfterUpdate();

    EXPECT_EQ(defaults_->stringForKey(kTrustedWithVersion), row.storedAfter) << row.what;
    if (row.resets) {
        ASSERT_EQ(services_.toolRuns.size(), 1u) << row.what;
        QFile args(record);
        ASSERT_TRUE(args.open(QIODevice::ReadOnly)) << row.what;
        EXPECT_EQ(args.readAll(), QByteArray("reset Accessibility org.tilora.Tilora ")) << row.what;
    } else {
        EXPECT_TRUE(services_.toolRuns.empty()) << row.what;
    }
    EXPECT_TRUE(log_.isEmpty()) << row.what;
    // The repair never asks for trust itself.
    EXPECT_FALSE(services_.calls.contains(QStringLiteral("requestTrust")));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AccessibilityRecovery,
    ::testing::Values(RecoveryRow{"trusted, older version stored", true, QStringLiteral("1.0"), true,
                                  QStringLiteral("1.1"), false},
                      RecoveryRow{"trusted, nothing stored, first launch", true, std::nullopt, false,
                                  QStringLiteral("1.1"), false},
                      RecoveryRow{"untrusted, same version stored", false, QStringLiteral("1.1"), false,
                                  QStringLiteral("1.1"), false},
                      RecoveryRow{"untrusted after an update", false, QStringLiteral("1.0"), true,
                                  std::nullopt, true},
                      RecoveryRow{"untrusted, nothing stored, first launch", false, std::nullopt, false,
                                  std::nullopt, true},
                      RecoveryRow{"untrusted, nothing stored, set up before", false, std::nullopt, true,
                                  std::nullopt, false}),
    rowName<RecoveryRow>);

TEST_F(AppDelegate, EmptyStoredVersionEqualsAMissingBundleVersion) {
    services_.version.reset();
    services_.trustAnswers = {false};
    defaults_->setObject(QString(), kTrustedWithVersion);
    delegate_->recoverAccessibilityAfterUpdate();
    EXPECT_TRUE(services_.toolRuns.empty());
    EXPECT_EQ(defaults_->stringForKey(kTrustedWithVersion), QString());

    services_.trustAnswers = {true};
    delegate_->recoverAccessibilityAfterUpdate();
    EXPECT_EQ(defaults_->stringForKey(kTrustedWithVersion), QString());
}

TEST_F(AppDelegate, MissingResetToolIsLoggedOnceAndTheLaunchGoesOn) {
    services_.trustAnswers = {false};
    services_.identifier.reset(); // falls back to the built-in identifier
    defaults_->setObject(QStringLiteral("1.0"), kTrustedWithVersion);
    delegate_->recoverAccessibilityAfterUpdate();

    ASSERT_EQ(services_.toolRuns.size(), 1u);
    EXPECT_EQ(services_.toolRuns[0].mid(1),
              (QStringList{"reset", "Accessibility", QString::fromUtf8(TLBuildSettings::kBundleIdentifier)}));
    ASSERT_EQ(log_.size(), 1);
    EXPECT_TRUE(log_[0].startsWith(QStringLiteral("Tilora: tccutil nicht verfügbar: ")))
        << log_[0].toStdString();
    EXPECT_GT(log_[0].size(), QStringLiteral("Tilora: tccutil nicht verfügbar: ").size());
    EXPECT_FALSE(defaults_->stringForKey(kTrustedWithVersion).has_value());
}

TEST_F(AppDelegate, FirstLaunchRegistersTheLoginItemOnce) {
    delegate_->firstLaunchSetup();
    delegate_->firstLaunchSetup();
    EXPECT_EQ(services_.calls.count(QStringLiteral("enableLoginItem")), 1);
    EXPECT_TRUE(defaults_->boolForKey(kFirstLaunchDone));
}

TEST_F(AppDelegate, FailedLoginItemIsRetriedAtTheNextLaunch) {
    services_.loginSucceeds = false;
    delegate_->firstLaunchSetup();
    EXPECT_FALSE(defaults_->boolForKey(kFirstLaunchDone));
    services_.loginSucceeds = true;
    delegate_->firstLaunchSetup();
    EXPECT_TRUE(defaults_->boolForKey(kFirstLaunchDone));
    EXPECT_EQ(services_.calls.count(QStringLiteral("enableLoginItem")), 2);
    EXPECT_TRUE(log_.isEmpty());
}

TEST_F(AppDelegate, TranslocatedStartDoesNothingAndKeepsTheFlagUnset) {
    services_.path = QStringLiteral("/private/var/folders/x/AppTranslocation/1234/d/Tilora.app");
    delegate_->firstLaunchSetup();
    EXPECT_FALSE(defaults_->boolForKey(kFirstLaunchDone));
    EXPECT_TRUE(services_.calls.isEmpty());
    // Only the exact, case-sensitive component counts.
    services_.path = QStringLiteral("/home/u/apptranslocation/Tilora.app");
    delegate_->firstLaunchSetup();
    EXPECT_TRUE(defaults_->boolForKey(kFirstLaunchDone));
}

TEST_F(AppDelegate, WithoutLoginItemsTheFlagIsSetAtOnce) {
    services_.loginAvailable = false;
    delegate_->firstLaunchSetup();
    EXPECT_TRUE(defaults_->boolForKey(kFirstLaunchDone));
    EXPECT_FALSE(services_.calls.contains(QStringLiteral("enableLoginItem")));
}

TEST_F(AppDelegate, FreshUntrustedLaunchRunsTheStepsInOrder) {
    delegate_->applicationDidFinishLaunching();
    EXPECT_EQ(services_.calls,
              (QStringList{"isTrusted", "runTool", "loginItemAvailable", "enableLoginItem",
                           "scheduleAutomaticChecks", "isTrusted", "requestTrust", "showPreferences"}));
    EXPECT_TRUE(defaults_->boolForKey(kFirstLaunchDone));
    EXPECT_EQ(log_.size(), 1); // the missing reset tool
    // Menu, tray icon and hot keys are in place.
    ASSERT_NE(delegate_->statusItem(), nullptr);
    EXPECT_EQ(delegate_->statusItem()->toolTip(), QStringLiteral("Tilora"));
    EXPECT_EQ(delegate_->statusItem()->contextMenu(), delegate_->menu());
    EXPECT_GT(hotKeyService_.registered().size(), 0u);
    EXPECT_NE(itemNamed(QString::fromStdString(TLLayout::allLayouts().front().name())), nullptr);
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
}

TEST_F(AppDelegate, TrustedLaunchAfterSetupAsksForNothing) {
    services_.trustAnswers = {true};
    defaults_->setBool(true, kFirstLaunchDone);
    delegate_->applicationDidFinishLaunching();
    EXPECT_EQ(services_.calls, (QStringList{"isTrusted", "scheduleAutomaticChecks", "isTrusted"}));
    EXPECT_EQ(defaults_->stringForKey(kTrustedWithVersion), QStringLiteral("1.1"));
    EXPECT_TRUE(log_.isEmpty());
}

TEST_F(AppDelegate, FailedApplyWritesExactlyOneLogLine) {
    const TLLayout& layout = TLLayout::allLayouts().front();
    services_.applySucceeds = false;
    delegate_->apply(layout);
    ASSERT_EQ(log_.size(), 1);
    EXPECT_EQ(
        log_[0],
        QStringLiteral("Tilora: %1 – Kein aktives Fenster.").arg(QString::fromStdString(layout.name())));

    services_.applySucceeds = true;
    delegate_->apply(layout);
    EXPECT_EQ(log_.size(), 1);
    EXPECT_EQ(services_.applied.size(), 2u);
}

TEST_F(AppDelegate, HotKeyPressAppliesItsLayout) {
    services_.trustAnswers = {true};
    delegate_->applicationDidFinishLaunching();
    const TLLayout& layout = TLLayout::allLayouts().front();
    const TLShortcut shortcut = hotkeys_->shortcutForLayout(layout);
    ASSERT_TRUE(shortcut.isBound());
    ASSERT_TRUE(hotKeyService_.press(static_cast<std::uint32_t>(shortcut.keyCode()), shortcut.modifiers()));
    ASSERT_TRUE(spinUntil([&] { return !services_.applied.empty(); }));
    EXPECT_EQ(services_.applied.front(), &layout);
}

TEST_F(AppDelegate, MenuChoiceIsAppliedAbout150msLater) {
    services_.trustAnswers = {true};
    delegate_->applicationDidFinishLaunching();
    const TLLayout& layout = TLLayout::allLayouts().at(3);
    QAction* item = itemNamed(QString::fromStdString(layout.name()));
    if (!item) { // named with its shortcut in the title
        for (QAction* action : delegate_->menu()->actions()) {
            if (TLStatusMenu::layoutForAction(action) == &layout) {
                item = action;
            }
        }
    }
    ASSERT_NE(item, nullptr);
    QElapsedTimer clock;
    clock.start();
    item->trigger();
    EXPECT_TRUE(services_.applied.empty()) << "applied within the menu action";
    ASSERT_TRUE(spinUntil([&] { return !services_.applied.empty(); }));
    EXPECT_GE(clock.elapsed(), TLAppDelegate::kMenuApplyDelayMs - 5);
    EXPECT_LT(clock.elapsed(), 1000);
    EXPECT_EQ(services_.applied.front(), &layout);
}

TEST_F(AppDelegate, ShortcutChangeRebuildsTheMenu) {
    services_.trustAnswers = {true};
    delegate_->applicationDidFinishLaunching();
    const TLLayout& layout = TLLayout::allLayouts().front();
    auto itemFor = [&]() -> QAction* {
        for (QAction* action : delegate_->menu()->actions()) {
            if (TLStatusMenu::layoutForAction(action) == &layout) {
                return action;
            }
        }
        return nullptr;
    };
    hotkeys_->setShortcut(TLShortcut::shortcutWithKeyCode(7, TLControlKey | TLShiftKey), layout); // X
    ASSERT_NE(itemFor(), nullptr);
    EXPECT_EQ(itemFor()->shortcut(), QKeySequence(Qt::ControlModifier | Qt::ShiftModifier | Qt::Key_X));
    hotkeys_->setShortcut(std::nullopt, layout);
    EXPECT_TRUE(itemFor()->shortcut().isEmpty());
    EXPECT_EQ(TLStatusMenu::itemTitle(itemFor()), QString::fromStdString(layout.name()));
}

TEST_F(AppDelegate, FixedCommandsReachTheirServices) {
    services_.trustAnswers = {true};
    delegate_->applicationDidFinishLaunching();
    services_.calls.clear();
    for (QAction* action : delegate_->menu()->actions()) {
        if (action->text() == QStringLiteral("Einstellungen…") ||
            action->text() == QStringLiteral("Nach Updates suchen…") ||
            action->text() == QStringLiteral("Quelltext (Open Source, MIT)") ||
            action->text() == QStringLiteral("Tilora beenden")) {
            action->trigger();
        }
    }
    EXPECT_EQ(services_.calls, (QStringList{"showPreferences", "checkForUpdatesInteractive", "openUrl"}));
    ASSERT_EQ(services_.opened.size(), 1u);
    EXPECT_EQ(services_.opened[0], QUrl(QString::fromUtf8(TLBuildSettings::kSourceUrl)));
    EXPECT_EQ(terminations_, 1);
}

TEST_F(AppDelegate, AboutShowsNameVersionAndCredits) {
    delegate_->showAbout();
    TLAboutPanel* panel = delegate_->aboutPanel();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->applicationName(), QStringLiteral("Tilora"));
    EXPECT_TRUE(panel->versionText().contains(QStringLiteral("1.1")));
    EXPECT_TRUE(
        panel->creditsView()->document()->toPlainText().contains(QStringLiteral("Quelltext & Lizenz")));
    EXPECT_TRUE(panel->creditsView()->openExternalLinks());

    services_.version.reset();
    delegate_->showAbout();
    EXPECT_EQ(delegate_->aboutPanel(), panel); // one panel, filled anew
    EXPECT_TRUE(panel->versionText().isEmpty());
    panel->close();
}

TEST_F(AppDelegate, WindowShortcutsWorkInTiloraWindows) {
    services_.trustAnswers = {true};
    delegate_->applicationDidFinishLaunching();
    services_.calls.clear();

    QWidget window;
    window.setWindowTitle(QStringLiteral("Tilora – Probe"));
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
