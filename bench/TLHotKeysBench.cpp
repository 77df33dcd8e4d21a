// Hot-key registration and key labels against the private X test desktop: registerAll for
// the thirty default combinations (one round trip for all grab checks), and the labels of a
// whole menu (from memory: no round trip).
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLLog.h"
#include "TLTestDesktop.h"
#include "TLUserDefaults.h"
#include "TLX11Connection.h"
#include "TLX11HotKeyService.h"
#include "TLX11KeyboardLayout.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

TLX11Connection* connection = nullptr;

void BM_RegisterAllDefaults(benchmark::State& state) {
    QTemporaryDir dir;
    const TLLog log{nullptr};
    TLUserDefaults defaults(dir.filePath("Tilora.plist"), log);
    TLX11HotKeyService service(*connection);
    TLX11KeyboardLayout keyboard(*connection);
    TLHotkeyManager manager(defaults, service, keyboard);
    for (auto _ : state) {
        const QStringList failures = manager.registerAll();
        if (!failures.isEmpty()) {
            state.SkipWithError(failures.join(", ").toStdString().c_str());
            break;
        }
        benchmark::DoNotOptimize(failures);
    }
    state.counters["hotkeys"] = static_cast<double>(TLLayout::allLayouts().size());
}
BENCHMARK(BM_RegisterAllDefaults)->Unit(benchmark::kMillisecond);

void BM_DisplayStringsOfAllDefaults(benchmark::State& state) {
    TLX11KeyboardLayout keyboard(*connection);
    for (auto _ : state) {
        for (const TLLayout& layout : TLLayout::allLayouts()) {
            QString text = TLShortcut::shortcutWithKeyCode(layout.defaultKeyCode(), layout.defaultModifiers())
                               .displayString(keyboard);
            benchmark::DoNotOptimize(text);
        }
    }
}
BENCHMARK(BM_DisplayStringsOfAllDefaults)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TLTestDesktop testDesktop;
    std::string error;
    if (!testDesktop.start(&error)) {
        std::fprintf(stderr, "test desktop: %s\n", error.c_str());
        return 1;
    }
    auto x11 = TLX11Connection::open(testDesktop.displayName().c_str());
    connection = x11.get();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
