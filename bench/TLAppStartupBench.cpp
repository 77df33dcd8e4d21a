// Start-up and footprint of the built application on the private test desktop, side by side
// with a minimal Qt tray program that grabs the same thirty combinations (TLMinimalTray.cpp),
// the two started in turn: time from process start to the tray icon in the panel and to the
// hot keys being registered, CPU time spent until then, and the resident memory once started.
//
//   bench_app_startup [runs] [another Tilora executable, e.g. of an older build]
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

    bool trayIconShown(const char* trayClass) const {
        for (xcb_window_t client : desktop.clientList()) {
            if (hasClass(client, "tint2")) {
                return descendantOfClass(client, trayClass);
            }
        }
        return false;
    }

    // Some client holds the combination when our own grab is refused. The grab is let go at
    // once; a run in which it happened to be held at the moment the program grabbed shows up as a
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

// CPU time of every thread of the process so far (nanosecond counters of the scheduler).
double cpuMilliseconds(pid_t pid) {
    double ns = 0;
    std::error_code error;
    for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        std::ifstream schedstat(task.path() / "schedstat");
        double onCpu = 0;
        if (schedstat >> onCpu) {
            ns += onCpu;
        }
    }
    return ns / 1e6;
}

// One program under measurement and what its runs gave.
struct Program {
    const char* name;
    const char* executable;
    const char* trayClass; // the class of its tray icon window
    std::vector<double> tray, ready, cpu, rss;
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
    const QString log = QString::fromStdString((home / "programs.log").string());
    Probe probe{desktop};
    Program programs[] = {{"Tilora", argc > 2 ? argv[2] : TL_BUNDLE_EXECUTABLE, "Tilora", {}, {}, {}, {}},
                          {"minimal tray", TL_MINIMAL_TRAY, "bench_minimal_tray", {}, {}, {}, {}}};

    // One start of a program: its figures, or nothing when the probe clashed with its grab.
    struct Sample {
        double tray, ready, cpu, rss;
    };
    const auto measure = [&](const Program& program) -> std::optional<Sample> {
        const auto start = Clock::now();
        auto process = desktop.launch({program.executable}, environment, log);
        if (!process) {
            std::fprintf(stderr, "bench_app_startup: %s did not start\n", program.name);
            std::exit(1);
        }
        const auto pid = pid_t(process->processId());
        std::optional<double> tray;
        std::optional<double> ready;
        double cpu = 0;
        for (const auto deadline = start + std::chrono::seconds(5);
             Clock::now() < deadline && !(tray && ready);) {
            if (!tray && probe.trayIconShown(program.trayClass)) {
                tray = Ms(Clock::now() - start).count();
            }
            if (!ready && probe.hotKeyRegistered()) {
                ready = Ms(Clock::now() - start).count();
            }
            if (tray && ready) {
                cpu = cpuMilliseconds(pid);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        std::optional<long> kb;
        if (tray && ready) {
            // Resident memory once start-up work has settled.
            std::this_thread::sleep_for(std::chrono::seconds(1));
            kb = tlResidentKilobytes(pid);
        } else {
            std::fprintf(stderr, "bench_app_startup: %s: no %s within 5 s, round repeated\n", program.name,
                         tray ? "hot keys" : "tray icon");
        }
        process.reset();
        desktop.waitUntil([&] { return !probe.trayIconShown(program.trayClass); });
        return kb ? std::optional(Sample{*tray, std::max(*tray, *ready), cpu, *kb / 1024.0}) : std::nullopt;
    };

    int repeated = 0;
    // The first round is a warm-up (and Tilora's first launch, which also writes the login item).
    for (int run = -1; run < runs && repeated < 10;) {
        std::vector<Sample> round;
        for (const Program& program : programs) {
            if (const std::optional<Sample> sample = measure(program)) {
                round.push_back(*sample);
            } else {
                break;
            }
        }
        if (round.size() != std::size(programs)) {
            ++repeated;
            continue;
        }
        for (std::size_t i = 0; run >= 0 && i < round.size(); ++i) {
            programs[i].tray.push_back(round[i].tray);
            programs[i].ready.push_back(round[i].ready);
            programs[i].cpu.push_back(round[i].cpu);
            programs[i].rss.push_back(round[i].rss);
        }
        ++run;
    }
    std::error_code ignored;
    fs::remove_all(home, ignored);
    if (programs[0].ready.empty()) {
        std::fprintf(stderr, "bench_app_startup: the programs never became ready\n");
        return 1;
    }

    std::printf("rounds: %zu (after one warm-up round), repeated after a probe clash: %d\n",
                programs[0].ready.size(), repeated);
    std::printf("%-14s %-38s %-38s %-14s %s\n", "", "start -> tray icon (ms)",
                "start -> icon and hot keys (ms)", "CPU (ms)", "resident (MB)");
    for (const Program& p : programs) {
        std::printf(
            "%-14s median %6.1f p90 %6.1f max %6.1f  median %6.1f p90 %6.1f max %6.1f  median %6.1f  median "
            "%5.1f\n",
            p.name, tlPercentile(p.tray, 0.5), tlPercentile(p.tray, 0.9), tlPercentile(p.tray, 1.0),
            tlPercentile(p.ready, 0.5), tlPercentile(p.ready, 0.9), tlPercentile(p.ready, 1.0),
            tlPercentile(p.cpu, 0.5), tlPercentile(p.rss, 0.5));
    }
    std::printf("Tilora / minimal tray: icon and hot keys %.2f, CPU %.2f  (target <= 1.20)\n",
                tlPercentile(programs[0].ready, 0.5) / tlPercentile(programs[1].ready, 0.5),
                tlPercentile(programs[0].cpu, 0.5) / tlPercentile(programs[1].cpu, 0.5));
    return 0;
}
