// The built bundle as a user runs it: a separate Tilora process on a private desktop with two
// monitors, openbox and a tint2 tray, driven with real key presses and clicks.
#include "TLTest.h"
#include "TLTestDesktop.h"
#include "TLTestHttpServer.h"
#include "TLTransfers.h"

namespace {

using Frame = TLTestDesktop::Frame;
const QString kExecutable = TL_BUNDLE_EXECUTABLE;

class AppBundle : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string error;
        ASSERT_TRUE(desktop.start(&error)) << error;
    }
    static void TearDownTestSuite() { desktop.stop(); }
    void SetUp() override {
        ASSERT_TRUE(QDir().mkpath(home.filePath("config")) && QDir().mkpath(home.filePath("runtime")));
        QFile::setPermissions(home.filePath("runtime"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // In the sanitizer build the program checks for leaks when it quits; caches that system
        // libraries keep for the life of the process are none of Tilora's.
        tlWrite(home.filePath("lsan.supp"), "leak:libfontconfig.so\nleak:libdbus-1.so\n");
    }
    QStringList environment() const {
        return {"XDG_CONFIG_HOME=" + home.filePath("config"), "XDG_RUNTIME_DIR=" + home.filePath("runtime"),
                "QT_QPA_PLATFORM=xcb", "LSAN_OPTIONS=suppressions=" + home.filePath("lsan.supp")};
    }
    QProcess* start(const QString& log = "tilora.log") {
        processes.push_back(desktop.launch({kExecutable}, environment(), home.filePath(log)));
        return processes.back().get();
    }
    QString log(const QString& name = "tilora.log") const {
        return QString::fromUtf8(tlRead(home.filePath(name)));
    }
    QStringList logLines(const QString& name = "tilora.log") const {
        return log(name).split('\n').filter(QRegularExpression("^Tilora: "));
    }
    bool run(const QStringList& argv) {
        std::string output;
        const int status = desktop.run(argv, &output, environment());
        EXPECT_EQ(status, 0) << output;
        return status == 0;
    }

    std::vector<xcb_window_t> children(xcb_window_t window) const {
        TLXcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(
            desktop.connection(), xcb_query_tree(desktop.connection(), window), nullptr));
        const xcb_window_t* first = tree ? xcb_query_tree_children(tree.get()) : nullptr;
        return {first, first + (tree ? xcb_query_tree_children_length(tree.get()) : 0)};
    }
    // The window itself or its first descendant of that class.
    xcb_window_t findOfClass(xcb_window_t window, const std::string& wmClass) const {
        if (std::ranges::count(desktop.wmClass(window), wmClass)) {
            return window;
        }
        for (xcb_window_t child : children(window)) {
            if (const xcb_window_t found = findOfClass(child, wmClass)) {
                return found;
            }
        }
        return XCB_WINDOW_NONE;
    }
    // Tilora's window inside tint2's panel.
    xcb_window_t trayIcon() const {
        for (xcb_window_t client : desktop.clientList()) {
            if (std::ranges::count(desktop.wmClass(client), "tint2")) {
                return findOfClass(client, "Tilora");
            }
        }
        return XCB_WINDOW_NONE;
    }
    // Tilora's mapped top-level windows (not the panel holding its icon); with menusOnly, its
    // open menus: tall override-redirect windows.
    std::set<xcb_window_t> tiloraWindows(bool menusOnly = false) const {
        xcb_connection_t* c = desktop.connection();
        std::set<xcb_window_t> found;
        for (xcb_window_t w : children(desktop.root())) {
            TLXcbReply<xcb_get_window_attributes_reply_t> a(
                xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, w), nullptr));
            TLXcbReply<xcb_get_geometry_reply_t> g(
                xcb_get_geometry_reply(c, xcb_get_geometry(c, w), nullptr));
            if (a && g && a->map_state == XCB_MAP_STATE_VIEWABLE && !findOfClass(w, "tint2") &&
                findOfClass(w, "Tilora") && (!menusOnly || (a->override_redirect && g->height >= 200))) {
                found.insert(w);
            }
        }
        return found;
    }
    bool openTrayMenu() {
        return run({"xdotool", "mousemove", "--window", QString::number(trayIcon()), "5", "5", "click",
                    "3"}) &&
               desktop.waitUntil([&] { return !tiloraWindows(true).empty(); });
    }
    bool menuClosed() {
        return desktop.waitUntil([&] { return tiloraWindows(true).empty(); });
    }
    // Ready: the icon is in the tray and the launch sequence has run - a second start is answered
    // from the first one's event loop only after it, raising the settings window, which is
    // closed again as a user would (it only hides).
    bool launchedAndReady(const QString& log = "tilora.log") {
        start(log);
        if (!desktop.waitUntil([&] { return trayIcon() != XCB_WINDOW_NONE; }) ||
            desktop.waitForWindow("Tilora – Einstellungen", std::chrono::milliseconds(300))) {
            return false;
        }
        QProcess* second = start("second.log");
        const xcb_window_t settings = desktop.waitForWindow("Tilora – Einstellungen");
        return second->waitForFinished(10000) && second->exitCode() == 0 && settings &&
               desktop.waitUntil([&] { return desktop.activeWindow() == settings; }) &&
               run({"wmctrl", "-i", "-c", QString::number(settings)}) &&
               desktop.waitUntil([&] { return !std::ranges::count(desktop.clientList(), settings); });
    }
    // A test client on the monitor, active.
    xcb_window_t clientOn(const TLTestDesktop::Monitor& m, const std::string& title) {
        processes.push_back(desktop.launchTestClient(title, "tlappclient", 400, 300));
        const xcb_window_t w = desktop.waitForWindow(title);
        run({"xdotool", "windowmove", "--sync", QString::number(w), QString::number(m.x + 100),
             QString::number(m.y + 100)});
        EXPECT_TRUE(desktop.activate(w));
        return w;
    }

    static inline TLTestDesktop desktop;
    QTemporaryDir home;
    std::vector<TLTestDesktop::Process> processes;
};

TEST_F(AppBundle, WithoutAnXServerItSaysSoAndEnds) {
    for (const char* display : {"", ":4242"}) {
        std::string output;
        QProcess p;
        p.setEnvironment(QProcessEnvironment::systemEnvironment().toStringList()
                         << QString("DISPLAY=") + display);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(kExecutable);
        ASSERT_TRUE(p.waitForFinished(10000)) << display;
        EXPECT_EQ(p.exitCode(), 1) << display;
        EXPECT_TRUE(p.readAll().contains("Tilora braucht eine X11-Sitzung")) << display;
    }
}

TEST_F(AppBundle, AUserTilesWindowsWithHotKeysAndTheTrayMenuAndQuits) {
    ASSERT_TRUE(launchedAndReady()) << log().toStdString() << desktop.logs();
    // On the left monitor, which has the panel: the left half of its visible area.
    const auto& left = TLTestDesktop::kMonitors[1];
    const xcb_window_t probe = clientOn(left, "Tilora probe left");
    ASSERT_TRUE(run({"xdotool", "key", "ctrl+alt+Left"}));
    EXPECT_TRUE(desktop.waitUntil([&] {
        return desktop.outerFrame(probe) ==
               Frame{left.x, left.y, left.width / 2, left.height - TLTestDesktop::kPanelHeight};
    }));
    // The first item that can be chosen is the first layout ("Linkes Drittel").
    const auto& right = TLTestDesktop::kMonitors[0];
    const xcb_window_t w = clientOn(right, "Tilora probe menu");
    ASSERT_TRUE(openTrayMenu());
    ASSERT_TRUE(run({"xdotool", "key", "Down", "Return"}));
    ASSERT_TRUE(desktop.waitUntil([&] {
        return desktop.outerFrame(w) == Frame{right.x, right.y, right.width / 3, right.height};
    }));
    EXPECT_TRUE(menuClosed());
    // A menu closed with the keyboard opens again with the next right click, not ending a double click.
    for (const QStringList& keys : {QStringList{"Escape"}, QStringList{"Escape"}}) {
        ASSERT_TRUE(openTrayMenu()) << "before " << keys.back().toStdString();
        ASSERT_TRUE(run(QStringList{"xdotool", "key"} + keys));
        ASSERT_TRUE(menuClosed());
    }
    // Up from the top wraps to the last item, "Tilora beenden": a clean exit, also without a leak report.
    ASSERT_TRUE(openTrayMenu());
    ASSERT_TRUE(run({"xdotool", "key", "Up", "Return"}));
    ASSERT_TRUE(processes.front()->waitForFinished(10000)) << "still running";
    EXPECT_EQ(processes.front()->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(processes.front()->exitCode(), 0) << log().toStdString();
    EXPECT_TRUE(desktop.waitUntil([&] { return !trayIcon(); }));
}

TEST_F(AppBundle, TheFirstLaunchRegistersStartAtLoginOnceAndFailuresGoToTheLogOnly) {
    const QDir autostart(home.filePath("config/autostart"));
    ASSERT_TRUE(launchedAndReady()) << log().toStdString();
    const QString maps = QStringLiteral("/proc/%1/maps").arg(processes.front()->processId());
    EXPECT_FALSE(tlRead(maps).contains("libQt6Network")) << "only the transfer helper loads it";
    ASSERT_TRUE(desktop.waitUntil(
        [&] { return tlRead(home.filePath("config/Tilora/Tilora.plist")).contains("TLFirstLaunchDone"); }));
    ASSERT_EQ(autostart.entryList(QDir::Files).size(), 1);
    const QString entry = autostart.filePath(autostart.entryList(QDir::Files).first());
    EXPECT_TRUE(tlRead(entry).contains("MacOS/Tilora"));
    // The user switches it off; later launches leave that alone.
    processes.clear();
    ASSERT_TRUE(desktop.waitUntil([&] { return !trayIcon(); }));
    QFile::remove(entry);
    ASSERT_TRUE(launchedAndReady("relaunch.log")) << log("relaunch.log").toStdString();
    EXPECT_TRUE(autostart.entryList(QDir::Files).isEmpty());
    // Down to one monitor: a move to the next display fails, with one log line and nothing shown.
    // (LEFT stands for the screen's output: removing it would bring back the output's monitor.)
    const auto monitors = [&](const char* count) {
        return desktop.waitUntil([&] {
            std::string output;
            desktop.run({"xrandr", "--listmonitors"}, &output);
            return output.find(std::string("Monitors: ") + count) != std::string::npos;
        });
    };
    const xcb_window_t single = clientOn(TLTestDesktop::kMonitors[1], "Tilora probe single");
    const auto before = desktop.outerFrame(single);
    ASSERT_TRUE(run({"xrandr", "--delmonitor", "RIGHT"}) && monitors("1"));
    const std::set<xcb_window_t> shown = tiloraWindows();
    ASSERT_TRUE(run({"xdotool", "key", "ctrl+alt+shift+Right"}));
    EXPECT_TRUE(desktop.waitUntil([&] { return !logLines("relaunch.log").isEmpty(); }));
    EXPECT_EQ(logLines("relaunch.log"),
              QStringList{"Tilora: Auf nächsten Bildschirm – Nur ein Bildschirm angeschlossen."});
    for (xcb_window_t window : tiloraWindows()) {
        EXPECT_TRUE(shown.count(window)) << "new window " << window;
    }
    EXPECT_EQ(desktop.outerFrame(single), before);
    EXPECT_TRUE(run({"xrandr", "--setmonitor", "*RIGHT", "1920/508x1080/286+1440+0", "none"}) &&
                monitors("2"));
}

TEST_F(AppBundle, ItsTransferHelperFetchesAndDownloads) {
    TLTestHttpServer server;
    server.serve("/appcast.json", "{}");
    server.serve("/a.zip", QByteArray(300000, 'z'));
    QString error;
    const auto transfers = TLTransfers::fromBundle(QDir::cleanPath(kExecutable + "/../../.."), &error);
    ASSERT_TRUE(transfers) << error.toStdString();
    std::vector<TLTransfers::Outcome> outcomes;
    const auto done = [&](const TLTransfers::Outcome& o) { outcomes.push_back(o); };
    transfers->fetch(server.url("/appcast.json"), {5000, 5000, 100, true}, done);
    transfers->fetch(server.url("/a.zip"), {5000, 5000, 100, true}, done);
    QFile file(home.filePath("a.zip"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    bool began = false;
    transfers->download(
        server.url("/a.zip"), {5000, 5000, 1 << 20, true}, file.handle(), [&] { began = true; }, done);
    ASSERT_TRUE(tlWaitFor([&] { return outcomes.size() == 3; }));
    EXPECT_EQ(outcomes[0].data, "{}");
    EXPECT_TRUE(outcomes[1].tooLarge);
    EXPECT_EQ(outcomes[2].status, 200);
    EXPECT_TRUE(began);
    EXPECT_EQ(tlRead(file.fileName()), QByteArray(300000, 'z'));
    EXPECT_FALSE(TLTransfers::fromBundle(home.path(), &error));
}

} // namespace
