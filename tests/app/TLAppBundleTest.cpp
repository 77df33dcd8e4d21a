// The built bundle as a user runs it: a separate Tilora process on a private desktop with two
// monitors, openbox and a tint2 tray, driven with real key presses and clicks.
#include "TLTestDesktop.h"
#include "TLTestProcess.h"

#include "TLXcb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Frame = TLTestDesktop::Frame;

std::string readFile(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> logLines(const fs::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("Tilora: ")) {
            lines.push_back(line);
        }
    }
    return lines;
}

class AppBundle : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        desktop_ = std::make_unique<TLTestDesktop>();
        std::string error;
        ASSERT_TRUE(desktop_->start(&error)) << error;
    }
    static void TearDownTestSuite() { desktop_.reset(); }

    void SetUp() override {
        ASSERT_NE(desktop_, nullptr);
        ASSERT_TRUE(desktop_->isRunning());
        char pattern[] = "/tmp/tilora-app-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        home_ = pattern;
        fs::create_directories(home_ / "config");
        fs::create_directories(home_ / "runtime");
        fs::permissions(home_ / "runtime", fs::perms::owner_all, fs::perm_options::replace);
        // In the sanitizer build the program checks for leaks when it quits; caches that system
        // libraries keep for the life of the process are none of Tilora's.
        std::ofstream(home_ / "lsan.supp") << "leak:libfontconfig.so\nleak:libdbus-1.so\n";
    }
    void TearDown() override {
        stopAll();
        std::error_code ignored;
        fs::remove_all(home_, ignored);
    }

    std::vector<std::string> environment() const {
        return {"DISPLAY=" + desktop_->displayName(), "XDG_CONFIG_HOME=" + (home_ / "config").string(),
                "XDG_RUNTIME_DIR=" + (home_ / "runtime").string(), "QT_QPA_PLATFORM=xcb",
                "LSAN_OPTIONS=suppressions=" + (home_ / "lsan.supp").string()};
    }

    TLTestProcess* startTilora(const std::string& logName = "tilora.log") {
        TLTestProcess::Options options;
        options.environment = environment();
        options.logPath = (home_ / logName).string();
        std::string error;
        auto process = TLTestProcess::start({TL_BUNDLE_EXECUTABLE}, options, &error);
        EXPECT_TRUE(process) << error;
        if (!process) {
            return nullptr;
        }
        processes_.push_back(std::move(process));
        return processes_.back().get();
    }
    bool launched(const std::string& logName = "tilora.log") {
        return startTilora(logName) && waitUntilReady();
    }
    std::string log(const std::string& logName = "tilora.log") const { return readFile(home_ / logName); }
    void stopAll() {
        for (auto& process : processes_) {
            process->terminate();
        }
        processes_.clear();
    }

    bool hasClass(xcb_window_t window, const std::string& wmClass) const {
        return std::ranges::count(desktop_->wmClass(window), wmClass) > 0;
    }

    std::vector<xcb_window_t> children(xcb_window_t window) const {
        xcb_connection_t* c = desktop_->connection();
        TLXcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
        if (!tree) {
            return {};
        }
        const xcb_window_t* first = xcb_query_tree_children(tree.get());
        return {first, first + xcb_query_tree_children_length(tree.get())};
    }

    // The window itself or its first descendant of that class.
    xcb_window_t findOfClass(xcb_window_t window, const std::string& wmClass) const {
        if (hasClass(window, wmClass)) {
            return window;
        }
        for (xcb_window_t child : children(window)) {
            if (xcb_window_t found = findOfClass(child, wmClass)) {
                return found;
            }
        }
        return XCB_WINDOW_NONE;
    }

    // Tilora's window inside tint2's panel: the tray icon.
    xcb_window_t trayIcon() const {
        for (xcb_window_t client : desktop_->clientList()) {
            if (hasClass(client, "tint2")) {
                return findOfClass(client, "Tilora");
            }
        }
        return XCB_WINDOW_NONE;
    }

    // Mapped top-level windows of Tilora's own (menus, dialogs, the settings window); the
    // panel, which holds the tray icon, does not count. With `menusOnly`, just open menus:
    // tall override-redirect windows.
    std::set<xcb_window_t> tiloraWindows(bool menusOnly = false) const {
        xcb_connection_t* c = desktop_->connection();
        std::set<xcb_window_t> found;
        for (xcb_window_t window : children(desktop_->root())) {
            TLXcbReply<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
            TLXcbReply<xcb_get_geometry_reply_t> geometry(
                xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
            if (!attributes || !geometry || attributes->map_state != XCB_MAP_STATE_VIEWABLE ||
                findOfClass(window, "tint2") || !findOfClass(window, "Tilora")) {
                continue;
            }
            if (!menusOnly || (attributes->override_redirect && geometry->height >= 200)) {
                found.insert(window);
            }
        }
        return found;
    }

    // Right click on the tray icon; true once the menu is open.
    bool openTrayMenu() {
        return run({"xdotool", "mousemove", "--window", std::to_string(trayIcon()), "5", "5", "click",
                    "3"}) &&
               TLTestDesktop::waitUntil([&] { return !tiloraWindows(true).empty(); });
    }

    // Ready: the tray icon is in the panel and the launch sequence, hot keys included, has run.
    // A second start is answered from the first one's event loop, so only after the whole launch
    // sequence (it brings up the settings window, which the tests' own windows then cover).
    // Probing the hot keys by grabbing them would race with Tilora's own grabs.
    bool waitUntilReady() {
        if (!TLTestDesktop::waitUntil([&] { return trayIcon() != XCB_WINDOW_NONE; })) {
            return false;
        }
        TLTestProcess* second = startTilora("ready.log");
        const auto status = second ? second->wait(10s) : std::nullopt;
        if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
            return false;
        }
        // Closed again as a user would (it only hides), so that it plays no part in the test.
        const xcb_window_t settings =
            desktop_->waitForWindow(TLTestDesktop::WindowMatch::byTitle("Tilora – Einstellungen"));
        if (settings == XCB_WINDOW_NONE || !run({"wmctrl", "-i", "-c", std::to_string(settings)})) {
            return false;
        }
        return TLTestDesktop::waitUntil(
            [&] { return std::ranges::count(desktop_->clientList(), settings) == 0; });
    }

    bool run(const std::vector<std::string>& argv) {
        std::string output;
        const auto status = TLTestProcess::run(argv, environment(), &output, 10s);
        EXPECT_TRUE(status && *status == 0) << output;
        return status && *status == 0;
    }

    // A test client on the given monitor, active.
    xcb_window_t clientOn(const TLTestDesktop::Monitor& monitor, const std::string& title) {
        auto process = desktop_->launchTestClient(title, "tlappclient", 400, 300);
        EXPECT_TRUE(process);
        processes_.push_back(std::move(process));
        const xcb_window_t window = desktop_->waitForWindow(TLTestDesktop::WindowMatch::byTitle(title));
        EXPECT_NE(window, XCB_WINDOW_NONE);
        run({"xdotool", "windowmove", "--sync", std::to_string(window), std::to_string(monitor.x + 100),
             std::to_string(monitor.y + 100)});
        EXPECT_TRUE(desktop_->activate(window));
        return window;
    }

    static const TLTestDesktop::Monitor& monitor(const std::string& name) {
        return *std::ranges::find(TLTestDesktop::monitors(), name, &TLTestDesktop::Monitor::name);
    }

    static inline std::unique_ptr<TLTestDesktop> desktop_;
    fs::path home_;
    std::vector<std::unique_ptr<TLTestProcess>> processes_;
};

TEST_F(AppBundle, BundleCarriesItsInformation) {
    const fs::path bundle = fs::path(TL_BUNDLE_EXECUTABLE).parent_path().parent_path().parent_path();
    EXPECT_EQ(bundle.filename(), "Tilora.app");
    const std::string info = readFile(bundle / "Contents" / "Info.plist");
    const std::pair<std::string, std::string> entries[] = {
        {"CFBundleIdentifier", TL_BUNDLE_IDENTIFIER},
        {"CFBundleShortVersionString", TL_PROJECT_VERSION},
        {"CFBundleExecutable", fs::path(TL_BUNDLE_EXECUTABLE).filename().string()}};
    for (const auto& [key, value] : entries) {
        EXPECT_NE(info.find("<key>" + key + "</key>\n\t<string>" + value + "</string>"), std::string::npos)
            << key;
    }
    EXPECT_GT(fs::file_size(bundle / "Contents" / "Resources" / "tilora.png"), 100u);
}

TEST_F(AppBundle, WithoutAnXServerItSaysSoInsteadOfCrashing) {
    for (const std::string display : {"", ":4242"}) {
        std::string output;
        std::vector<std::string> env = environment();
        env[0] = "DISPLAY=" + display;
        const auto status = TLTestProcess::run({TL_BUNDLE_EXECUTABLE}, env, &output, 10s);
        ASSERT_TRUE(status) << display;
        EXPECT_EQ(*status, 1) << display;
        EXPECT_NE(output.find("Tilora braucht eine X11-Sitzung"), std::string::npos) << output;
    }
}

TEST_F(AppBundle, TrayIconAppearsAndHotKeyTilesTheWindowOnItsMonitor) {
    ASSERT_TRUE(launched()) << log() << desktop_->logs();

    // On the left monitor (the one with the panel) and on the primary one: the left half of
    // the visible area of the monitor the window is on.
    for (const std::string name : {"LEFT", "RIGHT"}) {
        const auto& m = monitor(name);
        const xcb_window_t window = clientOn(m, "Tilora probe " + name);
        ASSERT_TRUE(run({"xdotool", "key", "ctrl+alt+Left"}));
        const int panel = name == "LEFT" ? TLTestDesktop::kPanelHeight : 0;
        const Frame expected{m.x, m.y, m.width / 2, m.height - panel};
        EXPECT_TRUE(TLTestDesktop::waitUntil([&] { return desktop_->outerFrame(window) == expected; }))
            << name;
    }
    EXPECT_TRUE(logLines(home_ / "tilora.log").empty()) << log();
}

TEST_F(AppBundle, MenuChoiceMovesTheWindowAbout150msLater) {
    ASSERT_TRUE(launched()) << log();
    const auto& right = monitor("RIGHT");
    const xcb_window_t window = clientOn(right, "Tilora probe menu");

    // The first item that can be chosen is the first layout ("Linkes Drittel").
    ASSERT_TRUE(openTrayMenu()) << "the menu did not open";
    ASSERT_TRUE(run({"xdotool", "key", "Down"}));
    const auto chosen = std::chrono::steady_clock::now();
    ASSERT_TRUE(run({"xdotool", "key", "Return"}));
    const Frame expected{right.x, right.y, right.width / 3, right.height};
    ASSERT_TRUE(TLTestDesktop::waitUntil([&] { return desktop_->outerFrame(window) == expected; }, 5s));
    const auto elapsed = std::chrono::steady_clock::now() - chosen;
    // The choice waits 150 ms; the key press itself and the move take a few more.
    EXPECT_GE(elapsed, 140ms);
    EXPECT_LT(elapsed, 2s);
    EXPECT_TRUE(TLTestDesktop::waitUntil([&] { return tiloraWindows(true).empty(); })) << "menu stayed open";
}

TEST_F(AppBundle, MenuClosedWithTheKeyboardOpensAgainWithOneRightClick) {
    ASSERT_TRUE(launched()) << log();
    // The clicks follow each other within the double-click time: after a menu closed with the
    // keyboard, the next right click must open it again, not end a double click. The last
    // closing keys choose the first layout.
    const std::vector<std::vector<std::string>> closings = {{"Escape"}, {"Escape"}, {"Down", "Return"}};
    for (const auto& keys : closings) {
        ASSERT_TRUE(openTrayMenu()) << "the menu did not open before " << keys.back();
        std::vector<std::string> argv = {"xdotool", "key"};
        argv.insert(argv.end(), keys.begin(), keys.end());
        ASSERT_TRUE(run(argv));
        ASSERT_TRUE(TLTestDesktop::waitUntil([&] { return tiloraWindows(true).empty(); })) << keys.back();
    }
    EXPECT_TRUE(openTrayMenu()) << "the menu did not open after Return";
}

TEST_F(AppBundle, QuitItemEndsTiloraCleanly) {
    TLTestProcess* tilora = startTilora();
    ASSERT_TRUE(tilora);
    ASSERT_TRUE(waitUntilReady()) << log();
    // Up from the top wraps to the last item, "Tilora beenden".
    ASSERT_TRUE(openTrayMenu()) << "the menu did not open";
    ASSERT_TRUE(run({"xdotool", "key", "Up", "Return"}));
    const auto status = tilora->wait(10s);
    ASSERT_TRUE(status) << "still running";
    // A clean exit: also no leak report of the sanitizer build.
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status << log();
    EXPECT_TRUE(TLTestDesktop::waitUntil([&] { return trayIcon() == XCB_WINDOW_NONE; }));
}

TEST_F(AppBundle, FailingLayoutWritesOneLogLineAndShowsNothing) {
    ASSERT_TRUE(launched()) << log();
    const xcb_window_t window = clientOn(monitor("LEFT"), "Tilora probe single");
    const auto before = desktop_->outerFrame(window);

    // Down to one monitor: a move to the next display cannot work. (LEFT stands for the
    // screen's output, so removing it would bring back the output's own monitor.)
    const auto monitorsAre = [&](const char* count) {
        return TLTestDesktop::waitUntil([&] {
            std::string output;
            TLTestProcess::run({"xrandr", "--listmonitors"}, environment(), &output, 5s);
            return output.find(std::string("Monitors: ") + count) != std::string::npos;
        });
    };
    ASSERT_TRUE(run({"xrandr", "--delmonitor", "RIGHT"}));
    // Put back however the test ends.
    const std::shared_ptr<void> restore(nullptr, [&](void*) {
        run({"xrandr", "--setmonitor", "*RIGHT", "1920/508x1080/286+1440+0", "none"});
        monitorsAre("2");
    });
    ASSERT_TRUE(monitorsAre("1"));
    const std::set<xcb_window_t> windowsBefore = tiloraWindows();
    ASSERT_TRUE(run({"xdotool", "key", "ctrl+alt+shift+Right"}));
    ASSERT_TRUE(TLTestDesktop::waitUntil([&] { return !logLines(home_ / "tilora.log").empty(); })) << log();

    EXPECT_EQ(
        logLines(home_ / "tilora.log"),
        std::vector<std::string>{"Tilora: Auf nächsten Bildschirm – Nur ein Bildschirm angeschlossen."});
    // Nothing new is shown (a window that was on its way, like the tray icon before the panel
    // takes it in, may have gone).
    for (xcb_window_t shown : tiloraWindows()) {
        EXPECT_TRUE(windowsBefore.count(shown)) << "new window " << shown;
    }
    EXPECT_EQ(desktop_->outerFrame(window), before);
}

TEST_F(AppBundle, SecondStartExitsAndRaisesTheSettingsWindow) {
    ASSERT_TRUE(startTilora());
    ASSERT_TRUE(TLTestDesktop::waitUntil([&] { return trayIcon() != XCB_WINDOW_NONE; })) << log();
    const auto settingsWindow = [&](std::chrono::milliseconds timeout) {
        return desktop_->waitForWindow(TLTestDesktop::WindowMatch::byTitle("Tilora – Einstellungen"),
                                       timeout);
    };
    EXPECT_EQ(settingsWindow(300ms), XCB_WINDOW_NONE);

    TLTestProcess* second = startTilora("second.log");
    ASSERT_TRUE(second);
    const auto status = second->wait(10s);
    ASSERT_TRUE(status) << "the second start kept running";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;

    const xcb_window_t settings = settingsWindow(5s);
    ASSERT_NE(settings, XCB_WINDOW_NONE);
    EXPECT_TRUE(TLTestDesktop::waitUntil([&] { return desktop_->activeWindow() == settings; }));
    EXPECT_TRUE(processes_.front()->running());
}

TEST_F(AppBundle, FirstLaunchRegistersStartAtLoginOnce) {
    const fs::path autostart = home_ / "config" / "autostart";
    ASSERT_TRUE(launched()) << log();
    ASSERT_TRUE(TLTestDesktop::waitUntil([&] {
        return readFile(home_ / "config" / "Tilora" / "Tilora.plist").find("TLFirstLaunchDone") !=
               std::string::npos;
    }));
    ASSERT_TRUE(fs::exists(autostart) && !fs::is_empty(autostart));
    const fs::path entry = fs::directory_iterator(autostart)->path();
    EXPECT_NE(readFile(entry).find(fs::path(TL_BUNDLE_EXECUTABLE).filename().string()), std::string::npos);

    // The user switches it off; later launches leave that alone.
    stopAll();
    ASSERT_TRUE(TLTestDesktop::waitUntil([&] { return trayIcon() == XCB_WINDOW_NONE; }));
    fs::remove(entry);
    ASSERT_TRUE(launched("relaunch.log")) << log("relaunch.log");
    EXPECT_TRUE(fs::is_empty(autostart));
}

} // namespace
