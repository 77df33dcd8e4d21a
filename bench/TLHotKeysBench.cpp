// Hot-key registration and key labels against the private X test desktop: registerAll for
// the thirty default combinations (one round trip for all grab checks), and the labels of a
// whole menu (one round trip each, to see the current layout).
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLTestDesktop.h"
#include "TLUserDefaults.h"
#include "TLX11HotKeyService.h"
#include "TLX11KeyboardLayout.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

TLTestDesktop* desktop = nullptr;

void BM_RegisterAllDefaults(benchmark::State& state) {
    QTemporaryDir dir;
    TLUserDefaults defaults(dir.filePath("Tilora.plist"));
    TLX11HotKeyService service(desktop->displayName().c_str());
    TLHotkeyManager manager(defaults, service);
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
    TLX11KeyboardLayout keyboard(desktop->displayName().c_str());
    TLKeyboardLayout::install(&keyboard);
    for (auto _ : state) {
        for (const TLLayout& layout : TLLayout::allLayouts()) {
            QString text = TLShortcut::shortcutWithKeyCode(layout.defaultKeyCode(), layout.defaultModifiers())
                               .displayString();
            benchmark::DoNotOptimize(text);
        }
    }
    TLKeyboardLayout::install(nullptr);
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
    desktop = &testDesktop;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
