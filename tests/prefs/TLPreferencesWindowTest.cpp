#include "TLFakeHotKeyService.h"
#include "TLFakeKeyboardLayout.h"
#include "TLFakeWindowControl.h"
#include "TLHotkeyManager.h"
#include "TLLoginItem.h"
#include "TLPreferencesWindowController.h"
#include "TLShortcutRecorder.h"
#include "TLTest.h"
#include "TLUpdateTestSupport.h"
#include "TLUrlCatcher.h"
#include "TLWindowMover.h"
#include "TLXdgAutostart.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

namespace {

constexpr std::uint32_t kCtrlOpt = 0x1800;
const QString kRefused = "Vom System verweigert (anderswo belegt?): ";

// The settings window with real widgets over the real hot-key manager, updater, mover and login
// item, which use fake platform services and a local HTTP server for the update check.
class PreferencesTest : public ::testing::Test {
protected:
    TLUpdaterContext updaterContext() {
        TLUpdaterContext context;
        context.bundlePath = dir.filePath("Tilora.app");
        context.runningVersion = "1.0.0";
        context.feedUrl = server.url("/appcast.json");
        context.tempDir = dir.path();
        return context;
    }
    void open() {
        controller.showAndActivate();
        ASSERT_TRUE(QTest::qWaitForWindowActive(controller.window()));
    }
    static int row(const char* id) { return int(*TLLayout::indexOf(*TLLayout::layoutWithIdentifier(id))); }
    QString shown(const char* id) const { return controller.recorderAt(row(id))->displayText(); }
    TLShortcutRecorder* recordAt(const char* id) {
        TLShortcutRecorder* recorder = controller.recorderAt(row(id));
        QTest::mouseClick(recorder, Qt::LeftButton);
        EXPECT_TRUE(recorder->recording());
        return recorder;
    }
    int liveTimers() const {
        return int(std::ranges::count_if(controller.findChildren<QTimer*>(), &QTimer::isActive));
    }

    QTemporaryDir dir;
    TLFakeKeyboardLayout keyboard;
    TLFakeWindowControl desktop;
    TLWindowMover mover{desktop};
    TLScopedEnv config{"XDG_CONFIG_HOME", dir.filePath("config").toUtf8()};
    TLXdgAutostart login{"org.tilora.Tilora", dir.filePath("Tilora.app/Contents/MacOS/Tilora")};
    TLLoginItem loginItem{login};
    TLUrlCatcher urls;
    TLTestHttpServer server;
    TLFakeHotKeyService service;
    TLRecordingPresenter presenter;
    TLLog log{nullptr};
    TLUserDefaults defaults{dir.filePath("Tilora.plist"), log};
    TLHotkeyManager manager{defaults, service, keyboard};
    TLUpdater updater{defaults, presenter, updaterContext()};
    TLPreferencesWindowController controller{{manager, updater, mover, loginItem, keyboard}};
};

TEST_F(PreferencesTest, OneWindowWithARowPerLayoutAndItsGroupOnTheFirstRowOfEachRun) {
    QWidget* window = controller.window();
    EXPECT_EQ(window->windowTitle(), "Tilora – Einstellungen");
    const auto& all = TLLayout::allLayouts();
    ASSERT_EQ(controller.table()->rowCount(), int(all.size()));
    for (int r = 0; r < int(all.size()); ++r) {
        const bool first = r == 0 || all[r].group() != all[r - 1].group();
        EXPECT_EQ(controller.table()->item(r, 0)->text() + "|" + controller.table()->item(r, 1)->text(),
                  QString::fromStdString((first ? all[r].group() : "") + "|" + all[r].name()));
        ASSERT_NE(controller.recorderAt(r), nullptr);
    }
    EXPECT_EQ(shown("third.left"), "⌃⌥1");
    open();
    window->close(); // only hides; the same window comes back
    open();
    EXPECT_EQ(controller.window(), window);
}

TEST_F(PreferencesTest, RecordingsAndResetReachTheTableAndRefusalsTheStatusLine) {
    open();
    // ⌃⌥2 belongs to the middle third, which loses it.
    QTest::keyClick(recordAt("third.left"), Qt::Key_2, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(manager.shortcutForLayout(TLLayout::allLayouts()[0]).keyCode(), 19);
    EXPECT_EQ(shown("third.left"), "⌃⌥2");
    EXPECT_EQ(shown("third.center"), "nicht belegt");

    manager.setShortcut(TLShortcut::unbound(), *TLLayout::layoutWithIdentifier("screen.next"));
    service.taken = {{123, kCtrlOpt}, {18, kCtrlOpt}}; // left half and left third, named out of order
    QSignalSpy changed(&manager, &TLHotkeyManager::hotkeysDidChange);
    controller.resetButton()->click();
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(shown("third.left"), "⌃⌥1");
    EXPECT_EQ(shown("third.center"), "⌃⌥2");
    EXPECT_EQ(shown("screen.next"), "⌃⌥⇧→");
    EXPECT_EQ(controller.statusLabel()->text(), kRefused + "Linkes Drittel (⌃⌥1), Linke Hälfte (⌃⌥←)");
    service.taken.clear();
    controller.resetButton()->click();
    EXPECT_EQ(controller.statusLabel()->text(), "") << "a report without refusals clears the line";
    service.lose({service.registered.begin()->first}); // taken back later: reported alike
    EXPECT_EQ(controller.statusLabel()->text(), kRefused + "Linkes Drittel (⌃⌥1)");
}

TEST_F(PreferencesTest, AccessibilityStateFollowsTheGrantWithOneTimerWhileShown) {
    desktop.trusted = false;
    open();
    controller.window()->close();
    open();
    open();
    EXPECT_EQ(controller.axLabel()->text(),
              "⚠️ Ohne Freigabe unter Bedienungshilfen kann Tilora keine Fenster bewegen.");
    EXPECT_EQ(liveTimers(), 1);
    controller.axButton()->click();
    EXPECT_EQ(std::ranges::count(desktop.calls, "requestTrust"), 1);
    EXPECT_EQ(urls.urls.size(), 1);
    desktop.trusted = true;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return controller.axLabel()->text() == "✅ Zugriff auf Bedienungshilfen erteilt"; }, 3500));
    EXPECT_FALSE(controller.axButton()->isVisible());
    // Hidden, the timer ends itself at its next firing.
    controller.window()->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.findChildren<QTimer*>().isEmpty(); }, 3500));
    // Opening again registers every hot key, rebuilds the status line and starts one timer.
    service.taken = {{18, kCtrlOpt}};
    const int batches = service.batchCount;
    open();
    EXPECT_EQ(service.batchCount, batches + 1);
    EXPECT_EQ(controller.statusLabel()->text(), kRefused + "Linkes Drittel (⌃⌥1)");
    EXPECT_EQ(liveTimers(), 1);
}

TEST_F(PreferencesTest, SwitchesReachTheirServicesAndFailuresResetTheCheckbox) {
    open();
    // Start at login through the real autostart entry: a file where its folder belongs makes
    // switching on fail, which leaves the box off and says why; a success is quiet.
    for (const bool blocked : {true, false}) {
        ASSERT_TRUE(blocked ? tlWrite(dir.filePath("config/autostart"), "kept")
                            : QFile::remove(dir.filePath("config/autostart")));
        controller.statusLabel()->setText("vorher");
        controller.loginCheckbox()->click();
        EXPECT_EQ(controller.loginCheckbox()->isChecked() && loginItem.isEnabled(), !blocked);
        EXPECT_EQ(controller.statusLabel()->text().left(28),
                  blocked ? "Anmeldeobjekt: Der Autostart" : "vorher");
    }
    controller.loginCheckbox()->click();
    EXPECT_FALSE(loginItem.isEnabled());
    controller.statusLabel()->setText("Anmeldeobjekt: x");
    controller.hotkeysChanged(); // the next registration report clears an error
    EXPECT_EQ(controller.statusLabel()->text(), "");
    // Where no entry can be made (here: a bundle without a name for it) the box is off,
    // disabled, and says why.
    TLXdgAutostart unnamed{"", dir.filePath("Tilora")};
    TLLoginItem unavailable{unnamed};
    TLPreferencesWindowController other{{manager, updater, mover, unavailable, keyboard}};
    other.showAndActivate();
    EXPECT_FALSE(other.loginCheckbox()->isEnabled() || other.loginCheckbox()->isChecked());
    EXPECT_FALSE(other.loginCheckbox()->toolTip().isEmpty());

    EXPECT_TRUE(controller.updateCheckbox()->isChecked()) << "absent setting means on";
    controller.updateCheckbox()->click();
    EXPECT_EQ(defaults.objectForKey(TLUserDefaults::kAutoUpdateEnabled), QVariant(false));
    defaults.setBool(true, TLUserDefaults::kAutoUpdateEnabled);
    controller.showAndActivate();
    EXPECT_TRUE(controller.updateCheckbox()->isChecked()) << "follows the stored switch when it opens";
    server.serve("/appcast.json", R"({"version": "1.0.0"})");
    controller.checkButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !presenter.alerts.empty(); }, 10000));
    EXPECT_EQ(presenter.alerts[0].title, "Tilora ist aktuell");
}

} // namespace
