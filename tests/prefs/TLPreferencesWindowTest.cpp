#include "support/TLQtTestApplication.h"
#include "update/TLRecordingPresenter.h"

#include "TLFakeDesktop.h"
#include "TLFakeHotKeyService.h"
#include "TLFakeKeyboardLayout.h"
#include "TLFakeLoginItemService.h"
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLLoginItem.h"
#include "TLPreferencesWindowController.h"
#include "TLShortcutRecorder.h"
#include "TLTestHttpServer.h"
#include "TLUpdater.h"
#include "TLUserDefaults.h"
#include "TLWindowMover.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <memory>

// Catches the addresses the window would open in a browser.
class TLUrlCatcher : public QObject {
    Q_OBJECT

public:
    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls.append(url); }
};

namespace {

constexpr std::uint32_t kCtrlOpt = 0x1800;

const QString kRefusedPrefix = QStringLiteral("Vom System verweigert (anderswo belegt?): ");

class PreferencesTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        TLKeyboardLayout::install(&keyboard);
        TLWindowMover::setPlatform(&desktop, &desktop);
        TLLoginItem::setService(&login);
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &urlCatcher, "open");

        defaults = std::make_unique<TLUserDefaults>(dir.filePath(QStringLiteral("Tilora.plist")));
        manager = std::make_unique<TLHotkeyManager>(*defaults, service);

        TLUpdaterContext context;
        context.bundlePath = dir.filePath(QStringLiteral("Tilora.app"));
        context.runningVersion = QStringLiteral("1.0.0");
        context.feedUrl = server.url(QStringLiteral("/appcast.json"));
        context.tempDir = dir.path();
        updater = std::make_unique<TLUpdater>(*defaults, presenter, context);

        controller = std::make_unique<TLPreferencesWindowController>(*manager, *updater);
    }

    void TearDown() override {
        controller.reset();
        updater.reset();
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        TLLoginItem::setService(nullptr);
        TLWindowMover::setPlatform(nullptr, nullptr);
        TLKeyboardLayout::install(nullptr);
    }

    void open() {
        controller->showAndActivate();
        ASSERT_TRUE(QTest::qWaitForWindowActive(controller->window()));
    }

    static const TLLayout& layout(const char* identifier) {
        return *TLLayout::layoutWithIdentifier(identifier);
    }
    static int row(const char* identifier) {
        return static_cast<int>(*TLLayout::indexOf(layout(identifier)));
    }

    QString cellText(int r, int column) const { return controller->table()->item(r, column)->text(); }

    int liveTimers() const {
        int count = 0;
        for (QTimer* timer : controller->findChildren<QTimer*>()) {
            count += timer->isActive() ? 1 : 0;
        }
        return count;
    }

    QTemporaryDir dir;
    TLFakeKeyboardLayout keyboard;
    TLFakeDesktop desktop;
    TLFakeLoginItemService login;
    TLUrlCatcher urlCatcher;
    TLTestHttpServer server;
    std::unique_ptr<TLUserDefaults> defaults;
    TLFakeHotKeyService service;
    std::unique_ptr<TLHotkeyManager> manager;
    TLRecordingPresenter presenter;
    std::unique_ptr<TLUpdater> updater;
    std::unique_ptr<TLPreferencesWindowController> controller;
};

TEST_F(PreferencesTest, BuildsTheWindowOnce) {
    QWidget* window = controller->window();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tilora – Einstellungen"));
    EXPECT_EQ(window->size(), QSize(560, 680));
    EXPECT_EQ(window->minimumSize(), QSize(480, 400));

    QTableWidget* table = controller->table();
    ASSERT_EQ(table->columnCount(), 3);
    EXPECT_EQ(table->horizontalHeaderItem(0)->text(), QStringLiteral("Gruppe"));
    EXPECT_EQ(table->horizontalHeaderItem(1)->text(), QStringLiteral("Aktion"));
    EXPECT_EQ(table->horizontalHeaderItem(2)->text(), QStringLiteral("Tastenkürzel"));
    EXPECT_EQ(table->rowCount(), static_cast<int>(TLLayout::allLayouts().size()));

    open();
    EXPECT_EQ(table->columnWidth(0), 150);
    EXPECT_EQ(table->columnWidth(1), 190);
    EXPECT_GE(table->columnWidth(2), 140);
    for (int r = 0; r < table->rowCount(); ++r) {
        ASSERT_EQ(table->rowHeight(r), 26) << "row " << r;
    }

    // Closing hides; the same window comes back.
    QTableWidget* before = table;
    window->close();
    EXPECT_FALSE(window->isVisible());
    open();
    EXPECT_EQ(controller->window(), window);
    EXPECT_EQ(controller->table(), before);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(PreferencesTest, GroupTitleOnlyOnTheFirstRowOfEachRun) {
    struct Expectation {
        const char* identifier;
        const char* group; // "" for the further rows of a group
        const char* name;
    };
    const Expectation rows[] = {
        {"third.left", "Drittel (Spalten)", "Linkes Drittel"},
        {"third.center", "", "Mittleres Drittel"},
        {"third.right", "", "Rechtes Drittel"},
        {"ninth.l.top", "Neuntel (Spalte × Zeile)", "Links · oben"},
        {"ninth.r.bot", "", "Rechts · unten"},
        {"quarter.tl", "Viertel", "Viertel oben links"},
        {"quartercol.4", "", "Spalte 4 von 4"},
        {"half.left", "Hälften", "Linke Hälfte"},
        {"twothirds.right", "", "Rechte zwei Drittel"},
        {"screen.full", "Bildschirm", "Bildschirm ausfüllen"},
        {"screen.prev", "", "Auf vorigen Bildschirm"},
    };
    for (const Expectation& e : rows) {
        SCOPED_TRACE(e.identifier);
        EXPECT_EQ(cellText(row(e.identifier), 0), QString::fromUtf8(e.group));
        EXPECT_EQ(cellText(row(e.identifier), 1), QString::fromUtf8(e.name));
    }
    int titled = 0;
    for (int r = 0; r < controller->table()->rowCount(); ++r) {
        titled += cellText(r, 0).isEmpty() ? 0 : 1;
    }
    EXPECT_EQ(titled, 5);
}

TEST_F(PreferencesTest, EveryShortcutCellIsARecorderOfItsLayout) {
    const auto& layouts = TLLayout::allLayouts();
    for (int r = 0; r < static_cast<int>(layouts.size()); ++r) {
        TLShortcutRecorder* recorder = controller->recorderAt(r);
        ASSERT_NE(recorder, nullptr) << "row " << r;
        EXPECT_EQ(recorder->displayText(),
                  manager->shortcutForLayout(layouts[static_cast<std::size_t>(r)]).displayString());
    }
    EXPECT_EQ(controller->recorderAt(row("third.left"))->displayText(), QStringLiteral("⌃⌥1"));
}

TEST_F(PreferencesTest, RecordedShortcutIsStoredAndTakenFromItsOwner) {
    open();
    QSignalSpy changed(manager.get(), &TLHotkeyManager::hotkeysDidChange);
    TLShortcutRecorder* left = controller->recorderAt(row("third.left"));
    QTest::mouseClick(left, Qt::LeftButton);
    ASSERT_TRUE(left->recording());
    EXPECT_TRUE(service.registered().empty());

    // ⌃⌥2 belongs to the middle third.
    QTest::keyClick(left, Qt::Key_2, Qt::ControlModifier | Qt::AltModifier);

    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(manager->shortcutForLayout(layout("third.left")).keyCode(), 19);
    EXPECT_FALSE(manager->shortcutForLayout(layout("third.center")).isBound());
    EXPECT_EQ(left->displayText(), QStringLiteral("⌃⌥2"));
    EXPECT_EQ(controller->recorderAt(row("third.center"))->displayText(), QStringLiteral("nicht belegt"));
    EXPECT_TRUE(service.registrationFor(19, kCtrlOpt).has_value());
    EXPECT_FALSE(service.registrationFor(18, kCtrlOpt).has_value());

    // Stored: a fresh manager over the same file sees the change.
    TLUserDefaults reread(defaults->filePath());
    TLFakeHotKeyService otherService;
    TLHotkeyManager restored(reread, otherService);
    EXPECT_EQ(restored.shortcutForLayout(layout("third.left")).keyCode(), 19);
    EXPECT_FALSE(restored.shortcutForLayout(layout("third.center")).isBound());
}

TEST_F(PreferencesTest, StatusLineListsRefusedHotKeysInCatalogueOrder) {
    // Taken elsewhere: ⌃⌥← (left half) and ⌃⌥1 (left third), named here out of order.
    service.taken = {{123, kCtrlOpt}, {18, kCtrlOpt}};
    open();
    EXPECT_EQ(controller->statusLabel()->text(),
              kRefusedPrefix + QStringLiteral("Linkes Drittel (⌃⌥1), Linke Hälfte (⌃⌥←)"));

    // The next report without refusals clears the line.
    service.taken.clear();
    controller->resetButton()->click();
    EXPECT_EQ(controller->statusLabel()->text(), QString());
}

TEST_F(PreferencesTest, ResetUpdatesEveryRecorderThroughTheChangeSignal) {
    open();
    for (const char* identifier : {"third.left", "ninth.c.mid", "screen.next"}) {
        manager->setShortcut(TLShortcut::unbound(), layout(identifier));
    }
    ASSERT_EQ(controller->recorderAt(row("screen.next"))->displayText(), QStringLiteral("nicht belegt"));
    service.taken = {{124, 0x1a00}};

    QSignalSpy changed(manager.get(), &TLHotkeyManager::hotkeysDidChange);
    controller->resetButton()->click();
    EXPECT_EQ(changed.count(), 1);

    const auto& layouts = TLLayout::allLayouts();
    for (std::size_t r = 0; r < layouts.size(); ++r) {
        const TLShortcut expected =
            TLShortcut::shortcutWithKeyCode(layouts[r].defaultKeyCode(), layouts[r].defaultModifiers());
        EXPECT_EQ(controller->recorderAt(static_cast<int>(r))->displayText(), expected.displayString())
            << layouts[r].identifier();
    }
    EXPECT_EQ(controller->statusLabel()->text(),
              kRefusedPrefix + QStringLiteral("Auf nächsten Bildschirm (⌃⌥⇧→)"));
}

TEST_F(PreferencesTest, AccessibilityStateFollowsTheGrantWithinTwoSeconds) {
    desktop.trusted = false;
    open();
    EXPECT_EQ(
        controller->axLabel()->text(),
        QStringLiteral("⚠️ Ohne Freigabe unter Bedienungshilfen kann Tilora keine Fenster bewegen."));
    EXPECT_TRUE(controller->axButton()->isVisible());
    const QColor warning = controller->axLabel()->palette().color(QPalette::WindowText);

    controller->axButton()->click();
    EXPECT_EQ(desktop.promptRequests, 1);
    EXPECT_EQ(urlCatcher.urls.size(), 1);

    desktop.trusted = true;
    QTRY_COMPARE_WITH_TIMEOUT(controller->axLabel()->text(),
                              QStringLiteral("✅ Zugriff auf Bedienungshilfen erteilt"), 3500);
    EXPECT_FALSE(controller->axButton()->isVisible());
    const QColor granted = controller->axLabel()->palette().color(QPalette::WindowText);
    // Green for granted, orange for missing.
    EXPECT_GT(granted.green(), granted.red());
    EXPECT_GT(warning.red(), warning.blue());
    EXPECT_NEAR(warning.hue(), 30, 15);
    EXPECT_NEAR(granted.hue(), 135, 20);
}

TEST_F(PreferencesTest, OneTimerHoweverOftenTheWindowOpens) {
    open();
    controller->window()->close();
    open();
    open();
    EXPECT_EQ(liveTimers(), 1);
    ASSERT_NE(controller->axTimer(), nullptr);
    EXPECT_EQ(controller->axTimer()->interval(), 2000);

    // Hidden, the timer ends itself at its next firing.
    controller->window()->close();
    QTRY_VERIFY_WITH_TIMEOUT(controller->axTimer() == nullptr, 3500);
    QTRY_COMPARE(static_cast<int>(controller->findChildren<QTimer*>().size()), 0);

    // Opening again re-registers every hot key, rebuilds the status line and starts one timer.
    service.taken = {{18, kCtrlOpt}};
    const int batches = service.batchCount;
    open();
    EXPECT_EQ(service.batchCount, batches + 1);
    EXPECT_EQ(controller->statusLabel()->text(), kRefusedPrefix + QStringLiteral("Linkes Drittel (⌃⌥1)"));
    EXPECT_EQ(liveTimers(), 1);
}

TEST_F(PreferencesTest, ClosingOrLeavingTheWindowEndsARecordingUnchanged) {
    open();
    QSignalSpy changed(manager.get(), &TLHotkeyManager::hotkeysDidChange);
    TLShortcutRecorder* recorder = controller->recorderAt(row("half.left"));
    QTest::mouseClick(recorder, Qt::LeftButton);
    ASSERT_TRUE(recorder->recording());
    controller->window()->close();
    EXPECT_FALSE(recorder->recording());
    EXPECT_FALSE(manager->suspended());
    EXPECT_TRUE(service.registrationFor(123, kCtrlOpt).has_value());
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(recorder->displayText(), QStringLiteral("⌃⌥←"));

    open();
    QTest::mouseClick(recorder, Qt::LeftButton);
    ASSERT_TRUE(recorder->recording());
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_FALSE(recorder->recording());
    EXPECT_FALSE(manager->suspended());
    // Back in front, the recording does not resume: a key press records nothing.
    controller->window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(controller->window()));
    EXPECT_FALSE(recorder->recording());
    QTest::keyClick(recorder, Qt::Key_5, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(recorder->displayText(), QStringLiteral("⌃⌥←"));
    EXPECT_EQ(changed.count(), 0);
}

struct LoginFailureRow {
    const char* name;
    QString description;
    QString expectedStatus;
};

TEST_F(PreferencesTest, LoginFailureIsShownAndTheCheckboxReset) {
    const LoginFailureRow rows[] = {
        {"with description", QStringLiteral("Ordner nicht beschreibbar"),
         QStringLiteral("Anmeldeobjekt: Ordner nicht beschreibbar")},
        {"without description", QString(), QStringLiteral("Anmeldeobjekt: unbekannter Fehler")},
    };
    open();
    for (const LoginFailureRow& r : rows) {
        SCOPED_TRACE(r.name);
        login.currentStatus = TLLoginItemStatus::NotRegistered;
        login.failure = TLError{QStringLiteral("Tilora"), 1, r.description};
        controller->showAndActivate();
        ASSERT_FALSE(controller->loginCheckbox()->isChecked());

        controller->loginCheckbox()->click();
        EXPECT_FALSE(controller->loginCheckbox()->isChecked());
        EXPECT_EQ(controller->statusLabel()->text(), r.expectedStatus);
    }

    // Switching off fails too: the box goes back on, to the real state.
    login.currentStatus = TLLoginItemStatus::Enabled;
    controller->showAndActivate();
    ASSERT_TRUE(controller->loginCheckbox()->isChecked());
    controller->loginCheckbox()->click();
    EXPECT_TRUE(controller->loginCheckbox()->isChecked());
    EXPECT_EQ(login.unregisterCalls, 1);

    // The next registration report clears the error.
    controller->hotkeysChanged();
    EXPECT_EQ(controller->statusLabel()->text(), QString());
}

TEST_F(PreferencesTest, LoginSwitchSucceedsQuietly) {
    open();
    controller->statusLabel()->setText(QStringLiteral("vorher"));
    controller->loginCheckbox()->click();
    EXPECT_EQ(login.registerCalls, 1);
    EXPECT_TRUE(controller->loginCheckbox()->isChecked());
    EXPECT_EQ(controller->statusLabel()->text(), QStringLiteral("vorher"));
}

TEST_F(PreferencesTest, LoginSwitchDisabledWhereUnavailable) {
    login.available = false;
    open();
    EXPECT_FALSE(controller->loginCheckbox()->isEnabled());
    EXPECT_FALSE(controller->loginCheckbox()->isChecked());
    EXPECT_EQ(controller->loginCheckbox()->toolTip(),
              QStringLiteral("Erst ab macOS 13 verfügbar — bis dahin unter Systemeinstellungen → Allgemein → "
                             "Anmeldeobjekte eintragen."));
}

TEST_F(PreferencesTest, UpdateSwitchAndCheckGoToTheUpdater) {
    open();
    EXPECT_TRUE(controller->updateCheckbox()->isChecked()) << "absent setting means on";

    controller->updateCheckbox()->click();
    EXPECT_FALSE(updater->isAutomaticCheckingEnabled());
    EXPECT_EQ(defaults->objectForKey(QString::fromUtf8(TLUserDefaults::kAutoUpdateEnabled)), QVariant(false));

    // The check box follows the stored switch the next time the window opens.
    defaults->setBool(true, QString::fromUtf8(TLUserDefaults::kAutoUpdateEnabled));
    controller->showAndActivate();
    EXPECT_TRUE(controller->updateCheckbox()->isChecked());

    server.serve(QStringLiteral("/appcast.json"),
                 R"({"version": "1.0.0", "notes": "", "url": "https://example.org/a.zip", "sha256": "00"})");
    controller->checkButton()->click();
    QTRY_COMPARE_WITH_TIMEOUT(presenter.alerts.size(), 1, 10000);
    EXPECT_EQ(presenter.alerts[0].title, QStringLiteral("Tilora ist aktuell"));
    EXPECT_EQ(server.requestCount(QStringLiteral("/appcast.json")), 1);
}

TEST_F(PreferencesTest, ExtraHeightGoesToTheTableOnly) {
    open();
    QWidget* window = controller->window();
    const QList<QWidget*> others = {controller->axLabel(), controller->statusLabel(),
                                    controller->loginCheckbox(), controller->checkButton()};
    auto heights = [&] {
        QList<int> h;
        for (QWidget* w : others) {
            h.append(w->height());
        }
        return h;
    };
    const int tableBefore = controller->table()->height();
    const QList<int> othersBefore = heights();

    window->resize(560, 900);
    QTRY_COMPARE(window->height(), 900);
    QTRY_COMPARE(controller->table()->height(), tableBefore + 220);
    EXPECT_EQ(heights(), othersBefore);

    window->resize(100, 100);
    QTRY_COMPARE(window->size(), QSize(480, 400));
    EXPECT_GT(controller->table()->height(), 26);
    // Nothing sticks out of the window at its smallest.
    EXPECT_LE(controller->statusLabel()->geometry().bottom(), window->height() - 16);
}

} // namespace

#include "TLPreferencesWindowTest.moc"
