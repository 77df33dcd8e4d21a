#include "support/TLQtTestApplication.h"
#include "update/TLRecordingPresenter.h"

#include "TLFakeHotKeyService.h"
#include "TLFakeKeyboardLayout.h"
#include "TLFakeLoginItemService.h"
#include "TLFakeWindowControl.h"
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLLog.h"
#include "TLLoginItem.h"
#include "TLPreferencesWindowController.h"
#include "TLShortcutRecorder.h"
#include "TLTestHttpServer.h"
#include "TLUpdater.h"
#include "TLUserDefaults.h"
#include "TLWindowMover.h"

#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

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
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &urlCatcher, "open");
    }
    void TearDown() override { QDesktopServices::unsetUrlHandler(QStringLiteral("https")); }

    TLUpdaterContext updaterContext() {
        TLUpdaterContext context;
        context.bundlePath = dir.filePath(QStringLiteral("Tilora.app"));
        context.runningVersion = QStringLiteral("1.0.0");
        context.feedUrl = server.url(QStringLiteral("/appcast.json"));
        context.tempDir = dir.path();
        return context;
    }

    void open() {
        controller.showAndActivate();
        ASSERT_TRUE(QTest::qWaitForWindowActive(controller.window()));
    }

    static const TLLayout& layout(const char* id) { return *TLLayout::layoutWithIdentifier(id); }
    static int row(const char* id) { return static_cast<int>(*TLLayout::indexOf(layout(id))); }
    // Clicks a row's recorder so that it records.
    TLShortcutRecorder* recordAt(const char* id) {
        TLShortcutRecorder* recorder = controller.recorderAt(row(id));
        QTest::mouseClick(recorder, Qt::LeftButton);
        EXPECT_TRUE(recorder->recording());
        return recorder;
    }

    QString cellText(int r, int column) const { return controller.table()->item(r, column)->text(); }

    int liveTimers() const {
        return static_cast<int>(std::ranges::count_if(controller.findChildren<QTimer*>(), &QTimer::isActive));
    }

    QTemporaryDir dir;
    TLFakeKeyboardLayout keyboard;
    TLFakeWindowControl desktop;
    TLWindowMover mover{desktop};
    TLFakeLoginItemService login;
    TLLoginItem loginItem{login};
    TLUrlCatcher urlCatcher;
    TLTestHttpServer server;
    TLFakeHotKeyService service;
    TLRecordingPresenter presenter;
    TLLog log{nullptr};
    TLUserDefaults defaults{dir.filePath(QStringLiteral("Tilora.plist")), log};
    TLHotkeyManager manager{defaults, service, keyboard};
    TLUpdater updater{defaults, presenter, updaterContext()};
    TLPreferencesWindowController controller{{manager, updater, mover, loginItem, keyboard}};
};

TEST_F(PreferencesTest, BuildsTheWindowOnce) {
    QWidget* window = controller.window();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Tilora – Einstellungen"));
    EXPECT_EQ(window->size(), QSize(560, 680));
    EXPECT_EQ(window->minimumSize(), QSize(480, 400));

    QTableWidget* table = controller.table();
    ASSERT_EQ(table->columnCount(), 3);
    EXPECT_EQ(table->rowCount(), static_cast<int>(TLLayout::allLayouts().size()));
    open();
    const std::pair<const char*, int> columns[] = {{"Gruppe", 150}, {"Aktion", 190}, {"Tastenkürzel", 140}};
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(table->horizontalHeaderItem(c)->text(), QString::fromUtf8(columns[c].first));
        EXPECT_GE(table->columnWidth(c), columns[c].second); // the last one stretches
        EXPECT_LE(table->columnWidth(c), c < 2 ? columns[c].second : 1000);
    }
    for (int r = 0; r < table->rowCount(); ++r) {
        ASSERT_EQ(table->rowHeight(r), 26) << "row " << r;
        ASSERT_NE(controller.recorderAt(r), nullptr) << "row " << r;
    }
    EXPECT_EQ(controller.recorderAt(row("third.left"))->displayText(), QStringLiteral("⌃⌥1"));

    // Closing hides; the same window comes back.
    window->close();
    EXPECT_FALSE(window->isVisible());
    open();
    EXPECT_EQ(controller.window(), window);
    EXPECT_EQ(controller.table(), table);
}

TEST_F(PreferencesTest, GroupTitleOnlyOnTheFirstRowOfEachRun) {
    // Identifier, group ("" for the further rows of a group), name.
    const char* rows[][3] = {
        {"third.left", "Drittel (Spalten)", "Linkes Drittel"},
        {"third.center", "", "Mittleres Drittel"},
        {"ninth.l.top", "Neuntel (Spalte × Zeile)", "Links · oben"},
        {"quartercol.4", "", "Spalte 4 von 4"},
        {"screen.full", "Bildschirm", "Bildschirm ausfüllen"},
    };
    for (const auto& [identifier, group, name] : rows) {
        EXPECT_EQ(cellText(row(identifier), 0), QString::fromUtf8(group)) << identifier;
        EXPECT_EQ(cellText(row(identifier), 1), QString::fromUtf8(name)) << identifier;
    }
    int titled = 0;
    for (int r = 0; r < controller.table()->rowCount(); ++r) {
        titled += cellText(r, 0).isEmpty() ? 0 : 1;
    }
    EXPECT_EQ(titled, 5);
}

TEST_F(PreferencesTest, RecordedShortcutGoesToItsRowsLayoutAndTheTableFollows) {
    open();
    TLShortcutRecorder* left = recordAt("third.left");
    // ⌃⌥2 belongs to the middle third, which loses it.
    QTest::keyClick(left, Qt::Key_2, Qt::ControlModifier | Qt::AltModifier);

    EXPECT_EQ(manager.shortcutForLayout(layout("third.left")).keyCode(), 19);
    EXPECT_EQ(left->displayText(), QStringLiteral("⌃⌥2"));
    EXPECT_EQ(controller.recorderAt(row("third.center"))->displayText(), QStringLiteral("nicht belegt"));
}

TEST_F(PreferencesTest, ResetUpdatesEveryRecorderAndReportsRefusalsInCatalogueOrder) {
    open();
    for (const char* identifier : {"third.left", "ninth.c.mid", "screen.next"}) {
        manager.setShortcut(TLShortcut::unbound(), layout(identifier));
    }
    ASSERT_EQ(controller.recorderAt(row("screen.next"))->displayText(), QStringLiteral("nicht belegt"));
    // Taken elsewhere: ⌃⌥← (left half) and ⌃⌥1 (left third), named here out of order.
    service.taken = {{123, kCtrlOpt}, {18, kCtrlOpt}};

    QSignalSpy changed(&manager, &TLHotkeyManager::hotkeysDidChange);
    controller.resetButton()->click();
    EXPECT_EQ(changed.count(), 1);
    const auto& layouts = TLLayout::allLayouts();
    for (std::size_t r = 0; r < layouts.size(); ++r) {
        const TLShortcut expected =
            TLShortcut::shortcutWithKeyCode(layouts[r].defaultKeyCode(), layouts[r].defaultModifiers());
        EXPECT_EQ(controller.recorderAt(static_cast<int>(r))->displayText(), expected.displayString(keyboard))
            << layouts[r].identifier();
    }
    EXPECT_EQ(controller.statusLabel()->text(),
              kRefusedPrefix + QStringLiteral("Linkes Drittel (⌃⌥1), Linke Hälfte (⌃⌥←)"));

    // The next report without refusals clears the line.
    service.taken.clear();
    controller.resetButton()->click();
    EXPECT_EQ(controller.statusLabel()->text(), QString());

    // A hot key the system takes back later is reported like a refusal.
    service.lose({service.registered().begin()->first});
    EXPECT_EQ(controller.statusLabel()->text(), kRefusedPrefix + QStringLiteral("Linkes Drittel (⌃⌥1)"));
}

TEST_F(PreferencesTest, AccessibilityStateFollowsTheGrantWithinTwoSeconds) {
    desktop.trusted = false;
    open();
    EXPECT_EQ(
        controller.axLabel()->text(),
        QStringLiteral("⚠️ Ohne Freigabe unter Bedienungshilfen kann Tilora keine Fenster bewegen."));
    EXPECT_TRUE(controller.axButton()->isVisible());
    const QColor warning = controller.axLabel()->palette().color(QPalette::WindowText);

    controller.axButton()->click();
    EXPECT_EQ(desktop.count("requestTrust"), 1u);
    EXPECT_EQ(urlCatcher.urls.size(), 1);

    desktop.trusted = true;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            return controller.axLabel()->text() == QStringLiteral("✅ Zugriff auf Bedienungshilfen erteilt");
        },
        3500));
    EXPECT_FALSE(controller.axButton()->isVisible());
    // Green for granted, orange for missing.
    const QColor granted = controller.axLabel()->palette().color(QPalette::WindowText);
    EXPECT_NEAR(warning.hue(), 30, 15);
    EXPECT_NEAR(granted.hue(), 135, 20);
}

TEST_F(PreferencesTest, OneTimerHoweverOftenTheWindowOpens) {
    open();
    controller.window()->close();
    open();
    open();
    EXPECT_EQ(liveTimers(), 1);
    ASSERT_NE(controller.axTimer(), nullptr);
    EXPECT_EQ(controller.axTimer()->interval(), 2000);

    // Hidden, the timer ends itself at its next firing.
    controller.window()->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.findChildren<QTimer*>().isEmpty(); }, 3500));
    EXPECT_EQ(controller.axTimer(), nullptr);

    // Opening again re-registers every hot key, rebuilds the status line and starts one timer.
    service.taken = {{18, kCtrlOpt}};
    const int batches = service.batchCount;
    open();
    EXPECT_EQ(service.batchCount, batches + 1);
    EXPECT_EQ(controller.statusLabel()->text(), kRefusedPrefix + QStringLiteral("Linkes Drittel (⌃⌥1)"));
    EXPECT_EQ(liveTimers(), 1);
}

TEST_F(PreferencesTest, ClosingOrLeavingTheWindowEndsARecordingUnchanged) {
    open();
    QSignalSpy changed(&manager, &TLHotkeyManager::hotkeysDidChange);
    TLShortcutRecorder* recorder = recordAt("half.left");
    controller.window()->close();
    EXPECT_FALSE(recorder->recording());
    EXPECT_FALSE(manager.suspended());
    EXPECT_TRUE(service.registrationFor(123, kCtrlOpt).has_value());

    open();
    ASSERT_EQ(recordAt("half.left"), recorder);
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_FALSE(recorder->recording());
    EXPECT_FALSE(manager.suspended());
    // Back in front, the recording does not resume: a key press records nothing.
    controller.window()->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(controller.window()));
    QTest::keyClick(recorder, Qt::Key_5, Qt::ControlModifier | Qt::AltModifier);
    EXPECT_EQ(recorder->displayText(), QStringLiteral("⌃⌥←"));
    EXPECT_EQ(changed.count(), 0);
}

TEST_F(PreferencesTest, LoginSwitchReportsFailuresAndResetsTheCheckbox) {
    const struct {
        const char* what;
        TLLoginItemStatus before;
        std::optional<QString> failure; // of the service; none: it succeeds
        QString status;
    } rows[] = {
        {"switching on fails with a reason", TLLoginItemStatus::NotRegistered,
         QStringLiteral("Ordner nicht beschreibbar"),
         QStringLiteral("Anmeldeobjekt: Ordner nicht beschreibbar")},
        {"switching on fails without one", TLLoginItemStatus::NotRegistered, QString(),
         QStringLiteral("Anmeldeobjekt: unbekannter Fehler")},
        {"switching off fails", TLLoginItemStatus::Enabled, QStringLiteral("weg"),
         QStringLiteral("Anmeldeobjekt: weg")},
        {"switching on succeeds quietly", TLLoginItemStatus::NotRegistered, std::nullopt,
         QStringLiteral("vorher")},
    };
    open();
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        login.currentStatus = r.before;
        login.failure =
            r.failure ? std::optional(TLError{QStringLiteral("Tilora"), 1, *r.failure}) : std::nullopt;
        controller.showAndActivate();
        const bool wasOn = r.before == TLLoginItemStatus::Enabled;
        ASSERT_EQ(controller.loginCheckbox()->isChecked(), wasOn);
        controller.statusLabel()->setText(QStringLiteral("vorher"));

        controller.loginCheckbox()->click();
        // After a failure the box shows the real state again.
        EXPECT_EQ(controller.loginCheckbox()->isChecked(), r.failure ? wasOn : !wasOn);
        EXPECT_EQ(controller.statusLabel()->text(), r.status);
    }
    EXPECT_EQ(login.registerCalls, 3);
    EXPECT_EQ(login.unregisterCalls, 1);

    // The next registration report clears an error.
    controller.statusLabel()->setText(QStringLiteral("Anmeldeobjekt: weg"));
    controller.hotkeysChanged();
    EXPECT_EQ(controller.statusLabel()->text(), QString());

    // Where start at login is not available the box is disabled and says why.
    login.available = false;
    controller.showAndActivate();
    EXPECT_FALSE(controller.loginCheckbox()->isEnabled());
    EXPECT_FALSE(controller.loginCheckbox()->isChecked());
    EXPECT_EQ(controller.loginCheckbox()->toolTip(),
              QStringLiteral("Erst ab macOS 13 verfügbar — bis dahin unter Systemeinstellungen → Allgemein → "
                             "Anmeldeobjekte eintragen."));
}

TEST_F(PreferencesTest, UpdateSwitchAndCheckGoToTheUpdater) {
    open();
    EXPECT_TRUE(controller.updateCheckbox()->isChecked()) << "absent setting means on";

    controller.updateCheckbox()->click();
    EXPECT_EQ(defaults.objectForKey(QString::fromUtf8(TLUserDefaults::kAutoUpdateEnabled)), QVariant(false));

    // The check box follows the stored switch the next time the window opens.
    defaults.setBool(true, QString::fromUtf8(TLUserDefaults::kAutoUpdateEnabled));
    controller.showAndActivate();
    EXPECT_TRUE(controller.updateCheckbox()->isChecked());

    server.serve(QStringLiteral("/appcast.json"),
                 R"({"version": "1.0.0", "notes": "", "url": "https://example.org/a.zip", "sha256": "00"})");
    controller.checkButton()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !presenter.alerts.empty(); }, 10000));
    EXPECT_EQ(presenter.alerts[0].title, QStringLiteral("Tilora ist aktuell"));
}

TEST_F(PreferencesTest, ExtraHeightGoesToTheTableOnly) {
    open();
    QWidget* window = controller.window();
    // All 220 extra pixels end up in the table, so nothing else has grown.
    const int tableBefore = controller.table()->height();
    window->resize(560, 900);
    ASSERT_TRUE(QTest::qWaitFor([&] { return controller.table()->height() == tableBefore + 220; }));

    window->resize(100, 100);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->size() == QSize(480, 400); }));
    EXPECT_GT(controller.table()->height(), 26);
    // Nothing sticks out of the window at its smallest.
    EXPECT_LE(controller.statusLabel()->geometry().bottom(), window->height() - 16);
}

// A dark theme as a desktop would set it.
QPalette darkPalette() {
    const QColor text(0xe6, 0xe6, 0xe6);
    QPalette p(text, QColor(0x3a, 0x3a, 0x3a), QColor(0x50, 0x50, 0x50), QColor(0x18, 0x18, 0x18),
               QColor(0x5a, 0x5a, 0x5a), text, Qt::white, QColor(0x1e, 0x1e, 0x1e), QColor(0x2b, 0x2b, 0x2b));
    p.setColor(QPalette::AlternateBase, QColor(0x26, 0x26, 0x26));
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x7b, 0xe0));
    p.setColor(QPalette::PlaceholderText, QColor(0xe6, 0xe6, 0xe6, 128));
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(QPalette::Disabled, role, QColor(0x80, 0x80, 0x80));
    }
    return p;
}

// Renders the window in a light and a dark theme to PNGs in the build folder (to look at) and
// checks that each is a real picture in its theme.
TEST_F(PreferencesTest, ScreenshotsInLightAndDarkThemes) {
    const QPalette original = QApplication::palette();
    service.taken = {{18, kCtrlOpt}, {124, 0x1a00}};
    manager.setShortcut(TLShortcut::unbound(), layout("ninth.c.mid"));
    for (const bool dark : {false, true}) {
        const QString name = dark ? QStringLiteral("dark") : QStringLiteral("light");
        SCOPED_TRACE(name.toStdString());
        QApplication::setPalette(dark ? darkPalette() : original);
        desktop.trusted = dark;
        open();
        // One recorder in the middle of a recording, with Control held.
        TLShortcutRecorder* recorder = controller.recorderAt(4);
        QTest::mouseClick(recorder, Qt::LeftButton);
        QKeyEvent control(QEvent::KeyPress, Qt::Key_Control, Qt::NoModifier);
        QApplication::sendEvent(recorder, &control);
        ASSERT_EQ(recorder->displayText(), QStringLiteral("⌃…"));

        const QImage image = controller.window()->grab().toImage();
        const QString path =
            QDir(QStringLiteral(TL_SCREENSHOT_DIR)).filePath(QStringLiteral("preferences-%1.png").arg(name));
        ASSERT_TRUE(image.save(path)) << path.toStdString();
        controller.window()->close();

        EXPECT_EQ(image.size(), QSize(560, 680));
        QSet<QRgb> colours;
        double lightness = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                colours.insert(image.pixel(x, y));
                lightness += image.pixelColor(x, y).lightnessF();
            }
        }
        lightness /= image.width() * image.height();
        EXPECT_GT(colours.size(), 50) << "a blank or flat picture";
        EXPECT_TRUE(dark ? lightness < 0.35 : lightness > 0.65) << lightness;
    }
    QApplication::setPalette(original);
}

} // namespace

#include "TLPreferencesWindowTest.moc"
