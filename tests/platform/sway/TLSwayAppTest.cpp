// The built program on a real headless sway, started as a user starts it: its tray icon in
// swaybar, a default hot key, its settings window, and how it ends (quit, no tray, sway gone).
#include "TLSwayDesktop.h"

#include <QJsonArray>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

using namespace std::chrono_literals;

class SwayApp : public ::testing::Test {
protected:
    void start(bool bar) {
        std::string error;
        ASSERT_TRUE(sway.start({bar, {}}, &error)) << error;
        // Checked for leaks at its end in the sanitizer build: what Qt's Wayland plugin and its
        // tray icon keep for the life of the process is none of Tilora's.
        std::ofstream(home.filePath("lsan.supp").toStdString())
            << "leak:libwayland-client.so\nleak:libQt6DBus.so\nleak:libdbus-1.so\n";
        tilora = TLTestProcess::start({TL_BUNDLE_EXECUTABLE},
                                      {environment(), -1, home.filePath("log").toStdString()});
        ASSERT_TRUE(tilora);
    }
    std::vector<std::string> environment() const {
        std::vector<std::string> env = sway.environment();
        env.insert(env.end(), {"XDG_CONFIG_HOME=" + home.path().toStdString(), "QT_QPA_PLATFORM=wayland",
                               "LSAN_OPTIONS=suppressions=" + home.filePath("lsan.supp").toStdString()});
        return env;
    }
    std::string log() const {
        std::stringstream text;
        text << std::ifstream(home.filePath("log").toStdString()).rdbuf();
        return text.str();
    }
    std::size_t count(const std::string& line) const {
        std::size_t n = 0;
        for (std::size_t at = 0; (at = log().find(line, at)) != std::string::npos; at += line.size()) {
            ++n;
        }
        return n;
    }
    bool trayHasItem() const {
        std::string reply;
        TLTestProcess::run({"dbus-send", "--session", "--print-reply", "--dest=org.kde.StatusNotifierWatcher",
                            "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties.Get",
                            "string:org.kde.StatusNotifierWatcher", "string:RegisteredStatusNotifierItems"},
                           environment(), &reply, 5s);
        return reply.find("/StatusNotifierItem") != std::string::npos;
    }
    // The settings window, a native Wayland window, has the focus.
    bool settingsShown() const {
        const auto id = sway.waitForWindow("Tilora – Einstellungen");
        return id && sway.container(*id)->value("shell") == "xdg_shell";
    }

    TLSwayDesktop sway;
    QTemporaryDir home;
    std::unique_ptr<TLTestProcess> tilora;
};

TEST_F(SwayApp, TrayIconHotKeySettingsWindowAndEndTakingTheBindingsBack) {
    start(true);
    ASSERT_TRUE(TLSwayDesktop::waitUntil([&] { return trayHasItem(); })) << log();
    auto foot = sway.launchFoot("Probe");
    const auto window = sway.waitForWindow("Probe");
    ASSERT_TRUE(window);
    // Ctrl+Alt+Return fills the visible area: the first output, below the bar.
    ASSERT_TRUE(sway.press("-M ctrl -M alt -k Return -m alt -m ctrl"));
    EXPECT_TRUE(TLSwayDesktop::waitUntil([&] {
        return sway.frame(*window) == sway.visibleArea("HEADLESS-1");
    })) << log();

    // A second start hands over to the first, whose settings window comes up natively.
    EXPECT_EQ(TLTestProcess::run({TL_BUNDLE_EXECUTABLE}, environment(), nullptr, 10s), 0);
    EXPECT_TRUE(settingsShown()) << log();
    // Ended as a session ends it: a normal end, bindings taken back.
    EXPECT_EQ(tilora->terminate(), 0) << log();
    EXPECT_EQ(sway.command("unbindsym Ctrl+Mod1+Return"), std::vector{false});
}

TEST_F(SwayApp, WithoutATrayTheSettingsOpenOnceAndSwaysEndEndsTilora) {
    start(false);
    EXPECT_TRUE(settingsShown()) << log();
    EXPECT_EQ(count("Tilora: Kein Infobereich (System-Tray) gefunden"), 1u) << log();
    sway.command("exit");
    EXPECT_EQ(tilora->wait(10s), 0) << log();
    EXPECT_EQ(count("Tilora: sway wurde beendet, Tilora endet auch."), 1u) << log();
}

} // namespace
