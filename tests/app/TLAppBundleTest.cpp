// The built bundle as a user runs it: a separate Tilora process on a private desktop with two
// monitors, openbox and a tint2 tray, driven with real key presses and clicks.
#include "TLTest.h"
#include "TLTestDesktop.h"
#include "TLTestHttpServer.h"
#include "TLTransfers.h"

#include <sstream>

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
    bool run(const QStringList& argv) {
        std::string output;
        const int status = desktop.run(argv, &output, environment());
        EXPECT_EQ(status, 0) << output;
        return status == 0;
    }

    // Tilora's viewable windows as xdotool finds them: its tray icon inside tint2's panel (22
    // pixels high), or its open menus (taller; the settings window is closed in these tests).
    std::vector<xcb_window_t> shown(bool menus) {
        std::string ids;
        desktop.run({"xdotool", "search", "--onlyvisible", "--class", "^Tilora$"}, &ids);
        std::istringstream in(ids);
        std::vector<xcb_window_t> found;
        for (xcb_window_t id = 0; in >> id;) {
            TLXcbReply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(
                desktop.connection(), xcb_get_geometry(desktop.connection(), id), nullptr));
            if (g && (g->height >= 200) == menus) {
                found.push_back(id);
            }
        }
        return found;
    }
    xcb_window_t trayIcon() {
        const std::vector<xcb_window_t> icons = shown(false);
        return icons.empty() ? xcb_window_t(XCB_WINDOW_NONE) : icons.front();
    }
    bool openTrayMenu() {
        return run({"xdotool", "mousemove", "--window", QString::number(trayIcon()), "5", "5", "click",
                    "3"}) &&
               desktop.waitUntil([&] { return !shown(true).empty(); });
    }
    bool menuClosed() {
        return desktop.waitUntil([&] { return shown(true).empty(); });
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

TEST_F(AppBundle, TheFirstLaunchRegistersStartAtLoginOnce) {
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
}

TEST_F(AppBundle, ItsTransferHelperFetchesAndDownloads) {
    TLTestHttpServer server;
    server.serve("/appcast.json", "{}");
    server.serve("/a.zip", QByteArray(300000, 'z'));
    QString error;
    const auto transfers = TLTransfers::fromBundle(QDir::cleanPath(kExecutable + "/../../.."), &error);
    ASSERT_TRUE(transfers) << error.toStdString();
    // Either may end first.
    std::optional<TLTransfers::Outcome> fetched, downloaded;
    transfers->fetch(server.url("/appcast.json"), {5000, 5000, 100, true},
                     [&](const TLTransfers::Outcome& o) { fetched = o; });
    QFile file(home.filePath("a.zip"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    bool began = false;
    transfers->download(
        server.url("/a.zip"), {5000, 5000, 1 << 20, true}, file.handle(), [&] { began = true; },
        [&](const TLTransfers::Outcome& o) { downloaded = o; });
    ASSERT_TRUE(tlWaitFor([&] { return fetched && downloaded; }));
    EXPECT_EQ(fetched->data, "{}");
    EXPECT_EQ(downloaded->status, 200);
    EXPECT_TRUE(began);
    EXPECT_EQ(tlRead(file.fileName()), QByteArray(300000, 'z'));
}

} // namespace
