// The application shell in this process, over the real X11 backends, on a private desktop:
// what the tray menu holds and how it follows a shortcut changed in the settings window.
#include "TLAppDelegate.h"
#include "TLApplication.h"
#include "TLBundle.h"
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLPlatform.h"
#include "TLPreferencesWindowController.h"
#include "TLShortcutRecorder.h"
#include "TLStatusMenu.h"
#include "TLTestDesktop.h"
#include "TLTestProcess.h"
#include "TLUserDefaults.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

// One desktop, one application object and one launched shell for the whole binary, with the
// object graph the program builds.
class ShellOnDesktop : public ::testing::Environment {
public:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(desktop.start(&error)) << error;
        desktop.setDisplayEnvironment();
        ASSERT_TRUE(home.isValid());
        QDir(home.path()).mkpath(QStringLiteral("config"));
        QDir(home.path()).mkpath(QStringLiteral("runtime"));
        QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_CONFIG_HOME", home.filePath(QStringLiteral("config")).toUtf8());
        qputenv("XDG_RUNTIME_DIR", home.filePath(QStringLiteral("runtime")).toUtf8());
        qputenv("QT_QPA_PLATFORM", "xcb");
        application = std::make_unique<QApplication>(argc, argv);
        std::unique_ptr<TLPlatform> platform = TLPlatform::open(nullptr);
        ASSERT_TRUE(platform);
        tilora =
            std::make_unique<TLApplication>(std::move(platform), TLBundle(QStringLiteral(TL_BUNDLE_PATH)));
        // No feed requests from this test.
        tilora->defaults().setBool(false, QString::fromLatin1(TLUserDefaults::kAutoUpdateEnabled));
        delegate = &tilora->delegate();
        delegate->setTerminateHandler([] {});
        delegate->applicationDidFinishLaunching();
    }
    void TearDown() override {
        // The objects go while the process is still whole (not in exit handlers), then the desktop.
        tilora.reset();
        application.reset();
        desktop.stop();
    }

    TLTestDesktop desktop;
    QTemporaryDir home;
    std::unique_ptr<QApplication> application;
    std::unique_ptr<TLApplication> tilora;
    TLAppDelegate* delegate = nullptr;

private:
    int argc = 1;
    char name[8] = "tilora";
    char* argv[2] = {name, nullptr};
};

ShellOnDesktop* const shell =
    static_cast<ShellOnDesktop*>(::testing::AddGlobalTestEnvironment(new ShellOnDesktop));

bool xdotool(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {"xdotool"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string output;
    const auto status = TLTestProcess::run(argv, {"DISPLAY=" + shell->desktop.displayName()}, &output,
                                           std::chrono::seconds(10));
    return status && *status == 0;
}

QAction* itemFor(const TLLayout& layout) {
    const QList<QAction*> actions = shell->delegate->menu()->actions();
    const auto found = std::ranges::find(actions, &layout, &TLStatusMenu::layoutForAction);
    return found == actions.end() ? nullptr : *found;
}

TEST(ShellOnDesktop, TrayIconWithTheCatalogueUnderHeadersSeparatorsAndShortcuts) {
    QSystemTrayIcon* icon = shell->delegate->statusItem();
    ASSERT_NE(icon, nullptr);
    EXPECT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_TRUE(icon->isVisible());
    EXPECT_EQ(icon->toolTip(), QStringLiteral("Tilora"));
    EXPECT_EQ(icon->contextMenu(), shell->delegate->menu());

    const QList<QAction*> actions = shell->delegate->menu()->actions();
    std::vector<std::string> headers;
    for (QAction* action : actions) {
        if (!action->isSeparator() && !action->isEnabled()) {
            headers.push_back(TLStatusMenu::itemTitle(action).toStdString());
        }
    }
    const auto separators = std::ranges::count_if(actions, &QAction::isSeparator);
    EXPECT_EQ(headers, (std::vector<std::string>{"Drittel (Spalten)", "Neuntel (Spalte × Zeile)", "Viertel",
                                                 "Hälften", "Bildschirm"}));
    EXPECT_EQ(separators, 4 + 2); // between the groups, before the commands, before quitting
    EXPECT_EQ(actions.size(), 5 + 30 + 6 + 5);
    EXPECT_EQ(TLStatusMenu::itemTitle(actions.last()), QStringLiteral("Tilora beenden"));

    // The default shortcuts as key equivalents (Option is Alt, on a US keyboard).
    const std::map<std::string, QString> expected = {{"third.left", "Ctrl+Alt+1"},
                                                     {"ninth.l.top", "Ctrl+Alt+Q"},
                                                     {"half.top", "Ctrl+Alt+Up"},
                                                     {"screen.full", "Ctrl+Alt+Return"},
                                                     {"screen.next", "Ctrl+Alt+Shift+Right"}};
    for (const auto& [identifier, keys] : expected) {
        const TLLayout* layout = TLLayout::layoutWithIdentifier(identifier);
        QAction* item = layout ? itemFor(*layout) : nullptr;
        ASSERT_TRUE(item) << identifier;
        EXPECT_EQ(item->shortcut(), QKeySequence(keys)) << identifier;
        EXPECT_EQ(TLStatusMenu::itemTitle(item), QString::fromStdString(layout->name()));
    }
}

TEST(ShellOnDesktop, ShortcutRecordedInTheSettingsWindowRebuildsTheMenu) {
    const TLLayout& layout = TLLayout::allLayouts().front();
    shell->delegate->showPreferences();
    TLPreferencesWindowController& preferences = shell->tilora->preferences();
    TLShortcutRecorder* recorder = preferences.recorderAt(0);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return preferences.window()->isActiveWindow() && recorder->isVisible(); }, 10000));

    // A real click on the recorder, then a real key press on the keyboard.
    const QPoint centre = recorder->mapToGlobal(recorder->rect().center());
    ASSERT_TRUE(xdotool({"mousemove", std::to_string(centre.x()), std::to_string(centre.y()), "click", "1"}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return recorder->recording(); }, 10000));
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+k"}));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return itemFor(layout)->shortcut() == QKeySequence(QStringLiteral("Ctrl+Alt+K")); }, 10000))
        << itemFor(layout)->shortcut().toString().toStdString();

    // Back to the defaults: the menu follows again.
    shell->tilora->hotkeys().resetToDefaults();
    EXPECT_EQ(itemFor(layout)->shortcut(), QKeySequence(QStringLiteral("Ctrl+Alt+1")));
    preferences.window()->close();
}

} // namespace
