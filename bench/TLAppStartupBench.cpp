// Start-up and footprint of the built application on the private test desktop: time from
// process start to the tray icon in the panel and to the hot keys being registered, and the
// resident memory once started.
//
//   bench_app_startup [runs]
#include "TLBenchFigures.h"
#include "TLTestDesktop.h"

#include <QCoreApplication>

#include <xcb/xcb.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr xcb_keycode_t kLeftKey = 105 + 8; // evdev KEY_LEFT + 8
constexpr uint16_t kControlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;

struct Probe {
    TLTestDesktop& desktop;

    std::vector<std::string> classes(xcb_window_t window) const { return desktop.wmClass(window); }

    bool hasClass(xcb_window_t window, const char* name) const {
        const auto list = classes(window);
        return std::find(list.begin(), list.end(), name) != list.end();
    }

    bool descendantOfClass(xcb_window_t window, const char* name) const {
        xcb_connection_t* c = desktop.connection();
        std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
            xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr), &std::free);
        if (!tree) {
            return false;
        }
        const xcb_window_t* children = xcb_query_tree_children(tree.get());
        for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
            if (hasClass(children[i], name) || descendantOfClass(children[i], name)) {
                return true;
            }
        }
        return false;
    }

    bool trayIconShown() const {
        for (xcb_window_t client : desktop.clientList()) {
            if (hasClass(client, "tint2")) {
                return descendantOfClass(client, "Tilora");
            }
        }
        return false;
    }

    // Some client holds the combination when our own grab is refused. The grab is let go at
    // once; a run in which it happened to be held at the moment Tilora grabbed shows up as a
    // timeout and is repeated.
    bool hotKeyRegistered() const {
        xcb_connection_t* c = desktop.connection();
        std::unique_ptr<xcb_generic_error_t, decltype(&std::free)> error(
            xcb_request_check(c, xcb_grab_key_checked(c, 0, desktop.root(), kControlAlt, kLeftKey,
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)),
            &std::free);
        if (!error) {
            xcb_ungrab_key(c, kLeftKey, desktop.root(), kControlAlt);
            xcb_flush(c);
            return false;
        }
        return error->error_code == XCB_ACCESS;
    }
};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    TLTestDesktop desktop;
    std::string error;
    if (!desktop.start(&error)) {
        std::fprintf(stderr, "bench_app_startup: no test desktop: %s\n", error.c_str());
        return 1;
    }
    char pattern[] = "/tmp/tilora-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        return 1;
    }
    const fs::path home = pattern;
    fs::create_directories(home / "config");
    fs::create_directories(home / "runtime");
    fs::permissions(home / "runtime", fs::perms::owner_all, fs::perm_options::replace);
    const QStringList environment = {QString::fromStdString("XDG_CONFIG_HOME=" + (home / "config").string()),
                                     QString::fromStdString("XDG_RUNTIME_DIR=" + (home / "runtime").string()),
                                     "QT_QPA_PLATFORM=xcb"};
    const QString log = QString::fromStdString((home / "tilora.log").string());
    Probe probe{desktop};

    std::vector<double> trayTimes;
    std::vector<double> readyTimes;
    std::vector<double> rss;
    int timeouts = 0;
    // The first start is a warm-up (and the first launch, which also writes the login item).
    for (int run = -1; run < runs && timeouts < 5;) {
        const auto start = Clock::now();
        auto tilora = desktop.launch({TL_BUNDLE_EXECUTABLE}, environment, log);
        if (!tilora) {
            std::fprintf(stderr, "bench_app_startup: Tilora did not start\n");
            return 1;
        }
        std::optional<double> tray;
        std::optional<double> ready;
        const auto deadline = start + std::chrono::seconds(5);
        while (Clock::now() < deadline && !(tray && ready)) {
            if (!tray && probe.trayIconShown()) {
                tray = Ms(Clock::now() - start).count();
            }
            if (!ready && probe.hotKeyRegistered()) {
                ready = Ms(Clock::now() - start).count();
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        if (!tray || !ready) {
            ++timeouts;
            tilora.reset();
            continue;
        }
        // Resident memory once start-up work has settled.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const std::optional<long> kb = tlResidentKilobytes(pid_t(tilora->processId()));
        tilora.reset();
        desktop.waitUntil([&] { return !probe.trayIconShown(); });
        if (run >= 0) {
            trayTimes.push_back(*tray);
            readyTimes.push_back(std::max(*tray, *ready));
            if (kb) {
                rss.push_back(*kb / 1024.0);
            }
        }
        ++run;
    }
    std::error_code ignored;
    fs::remove_all(home, ignored);
    if (trayTimes.empty()) {
        std::fprintf(stderr, "bench_app_startup: Tilora never became ready\n");
        return 1;
    }

    std::printf("runs: %zu (after one warm-up start), repeated after a probe clash: %d\n", trayTimes.size(),
                timeouts);
    std::printf("start -> tray icon shown:                median %6.1f ms  p90 %6.1f ms  max %6.1f ms\n",
                tlPercentile(trayTimes, 0.5), tlPercentile(trayTimes, 0.9), tlPercentile(trayTimes, 1.0));
    std::printf("start -> tray icon and hot keys ready:   median %6.1f ms  p90 %6.1f ms  max %6.1f ms  "
                "(target < 300 ms)\n",
                tlPercentile(readyTimes, 0.5), tlPercentile(readyTimes, 0.9), tlPercentile(readyTimes, 1.0));
    if (!rss.empty()) {
        std::printf(
            "resident memory 1 s after start:         median %6.1f MB  max %6.1f MB  (target < 40 MB)\n",
            tlPercentile(rss, 0.5), tlPercentile(rss, 1.0));
    }
    return 0;
}
