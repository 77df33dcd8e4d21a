// Start-up and footprint of the built application on a private headless sway: time from process
// start to the tray icon in swaybar and to the hot keys being bound, and the resident memory once
// started. Tilora picks its Qt platform itself, as in a user's session.
//
//   bench_sway_startup [runs]
#include "TLBenchFigures.h"
#include "TLSwayDesktop.h"
#include "TLSwaySession.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

// One of the defaults; Tilora binds them all in one request, so one stands for all.
constexpr const char* kCombination = "Ctrl+Mod1+Left";
constexpr const char* kCommand = "nop tilora half.left";

// sway lists no bindings: a binding is there when taking it back succeeds. It is put back at
// once, as Tilora made it.
bool bound(TLSwaySession& session) {
    const auto taken = session.run(QStringLiteral("unbindsym %1").arg(kCombination));
    if (taken.empty() || !taken.front().success) {
        return false;
    }
    session.run(QStringLiteral("bindsym --no-repeat %1 %2").arg(kCombination, kCommand));
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    TLSwayDesktop sway;
    std::string error;
    if (!sway.start(&error)) {
        std::fprintf(stderr, "bench_sway_startup: %s\n", error.c_str());
        return 1;
    }
    sway.setEnvironment();
    auto session = TLSwaySession::open(qEnvironmentVariable("SWAYSOCK"));
    QTemporaryDir home;
    if (!session || !home.isValid()) {
        std::fprintf(stderr, "bench_sway_startup: no IPC or no temporary folder\n");
        return 1;
    }
    const QStringList environment = {"XDG_CONFIG_HOME=" + home.path(), "QT_QPA_PLATFORM="};

    std::vector<double> trayTimes, readyTimes, rss;
    // The first start is a warm-up (and the first launch, which also writes the login item).
    for (int run = -1; run < runs; ++run) {
        const auto start = Clock::now();
        auto tilora = TLTestDesktop::launchWith(environment, {TL_BUNDLE_EXECUTABLE});
        if (!tilora) {
            std::fprintf(stderr, "bench_sway_startup: Tilora did not start\n");
            return 1;
        }
        std::optional<double> tray, ready;
        for (const auto deadline = start + std::chrono::seconds(10);
             Clock::now() < deadline && !(tray && ready);) {
            if (!ready && bound(*session)) {
                ready = Ms(Clock::now() - start).count();
            }
            if (!tray && sway.trayHasItem()) {
                tray = Ms(Clock::now() - start).count();
            }
        }
        if (!tray || !ready) {
            std::fprintf(stderr, "bench_sway_startup: run %d: no %s within 10 s\n", run,
                         tray ? "binding" : "tray icon");
            return 1;
        }
        // Resident memory once start-up work has settled.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const std::optional<long> kb = tlResidentKilobytes(pid_t(tilora->processId()));
        tilora.reset();
        TLTestDesktop::waitUntil([&] { return !sway.trayHasItem(); });
        if (run >= 0) {
            trayTimes.push_back(*tray);
            readyTimes.push_back(*ready);
            if (kb) {
                rss.push_back(double(*kb) / 1024.0);
            }
        }
    }

    std::printf("runs: %zu (after one warm-up start)\n", readyTimes.size());
    std::printf("start -> hot keys bound:        median %6.1f ms  p90 %6.1f ms  max %6.1f ms\n",
                tlPercentile(readyTimes, 0.5), tlPercentile(readyTimes, 0.9), tlPercentile(readyTimes, 1.0));
    std::printf("start -> tray icon in swaybar:  median %6.1f ms  p90 %6.1f ms  max %6.1f ms\n",
                tlPercentile(trayTimes, 0.5), tlPercentile(trayTimes, 0.9), tlPercentile(trayTimes, 1.0));
    if (!rss.empty()) {
        std::printf("resident memory 1 s after start: median %5.1f MB  max %5.1f MB\n",
                    tlPercentile(rss, 0.5), tlPercentile(rss, 1.0));
    }
    return 0;
}
