// The built program on a real headless sway, started as a user starts it: its tray icon in
// swaybar, a default hot key, its settings window, and how it ends (quit, no tray, sway gone).
#include "TLSwayDesktop.h"
#include "TLTest.h"

namespace {

class SwayApp : public ::testing::Test {
protected:
    void start(bool bar, const QString& config = {}) {
        std::string error;
        ASSERT_TRUE(sway.start(&error, bar, config)) << error;
        // Checked for leaks at its end in the sanitizer build: what Qt's Wayland plugin, its tray
        // icon and D-Bus keep for the life of the process is none of Tilora's.
        tlWrite(home.filePath("lsan.supp"),
                "leak:libwayland-client.so\nleak:libQt6DBus.so\nleak:libdbus-1.so\n");
        tilora = sway.launch({TL_BUNDLE_EXECUTABLE}, environment(), home.filePath("log"));
        ASSERT_TRUE(tilora);
    }
    // Tilora picks its Qt platform itself, as in a user's session.
    QStringList environment() const {
        return {"XDG_CONFIG_HOME=" + home.path(),
                "QT_QPA_PLATFORM=", "LSAN_OPTIONS=suppressions=" + home.filePath("lsan.supp")};
    }
    QString log() const { return tlText(home.filePath("log")); }
    // The settings window, a native Wayland window, has the focus.
    bool settingsShown() const {
        const auto id = sway.waitForWindow("Tilora – Einstellungen");
        return id && sway.container(*id)->value("shell") == "xdg_shell";
    }
    int exitCode() const {
        tilora->waitForFinished(10000);
        return tilora->exitStatus() == QProcess::NormalExit ? tilora->exitCode() : -1;
    }

    TLSwayDesktop sway;
    QTemporaryDir home;
    TLSwayDesktop::Process tilora;
};

TEST_F(SwayApp, TrayIconHotKeySettingsWindowAndEndTakingTheBindingsBack) {
    start(true, "bindsym Ctrl+Mod1+c exec true");
    ASSERT_TRUE(tlWaitFor([&] { return sway.trayHasItem(); })) << log().toStdString();
    auto foot = sway.launch({"foot", "--title", "Probe", "sleep", "1000"});
    const auto window = sway.waitForWindow("Probe");
    ASSERT_TRUE(window);
    // Ctrl+Alt+Return fills the visible area: the first output, below the bar.
    ASSERT_TRUE(sway.press("-M ctrl -M alt -k Return -m alt -m ctrl"));
    EXPECT_TRUE(tlWaitFor([&] { return sway.frame(*window) == sway.visibleArea("HEADLESS-1"); }))
        << log().toStdString();

    // A second start hands over to the first, whose settings window comes up natively.
    EXPECT_EQ(sway.run({TL_BUNDLE_EXECUTABLE}, nullptr, environment()), 0);
    EXPECT_TRUE(settingsShown()) << log().toStdString();
    // Ended as a session ends it: a normal end, its bindings taken back, the configuration's kept.
    tilora->terminate();
    EXPECT_EQ(exitCode(), 0) << log().toStdString();
    EXPECT_EQ(sway.command("unbindsym Ctrl+Mod1+Return"), std::vector{false});
    EXPECT_EQ(sway.command("unbindsym Ctrl+Mod1+c"), std::vector{true});
}

TEST_F(SwayApp, WithoutATrayTheSettingsOpenOnceAndSwaysEndEndsTilora) {
    start(false);
    EXPECT_TRUE(settingsShown()) << log().toStdString();
    EXPECT_EQ(log().count("Tilora: Kein Infobereich (System-Tray) gefunden"), 1) << log().toStdString();
    sway.command("exit");
    EXPECT_EQ(exitCode(), 0) << log().toStdString();
    EXPECT_EQ(log().count("Tilora: sway wurde beendet, Tilora endet auch."), 1) << log().toStdString();
}

} // namespace
