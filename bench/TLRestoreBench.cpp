// Time from a press on a maximized, fullscreen or shaded window to its final frame in the
// layout, on each window manager the test desktop knows: the restore waits for the window
// manager's confirmation, never for its 1 s deadline, and the press itself returns at once.
//
//   bench_restore [samples] [window managers...]   (default 10; openbox fluxbox metacity jwm wmaker)

#include "TLX11WindowFixture.h"

#include <cstdio>
#include <cstdlib>

namespace {

using Frame = TLTestDesktop::Frame;

struct State {
    const char* name;
    const char* first;
    const char* second;
    const char* then; // set after the first two have taken hold
};

constexpr State kStates[] = {
    {"maximized", "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ", nullptr},
    {"maximized horizontally", "_NET_WM_STATE_MAXIMIZED_HORZ", nullptr, nullptr},
    {"maximized vertically", "_NET_WM_STATE_MAXIMIZED_VERT", nullptr, nullptr},
    {"fullscreen", "_NET_WM_STATE_FULLSCREEN", nullptr, nullptr},
    {"maximized, then fullscreen", "_NET_WM_STATE_MAXIMIZED_VERT", "_NET_WM_STATE_MAXIMIZED_HORZ",
     "_NET_WM_STATE_FULLSCREEN"},
    {"shaded", "_NET_WM_STATE_SHADED", nullptr, nullptr},
};

// Runs the event loop until the condition holds; false after timeoutMs.
bool waitFor(const std::function<bool()>& condition, qint64 timeoutMs = 3000) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return true;
}

bool hasState(TLTestDesktop& desktop, xcb_window_t w, const char* state) {
    return std::ranges::count(desktop.cardinals(w, "_NET_WM_STATE"), desktop.atom(state)) > 0;
}

void setState(TLTestDesktop& desktop, xcb_window_t w, const char* first, const char* second) {
    desktop.sendClientMessage(w, "_NET_WM_STATE",
                              {1, desktop.atom(first), second ? desktop.atom(second) : 0, 2, 0});
    desktop.waitUntil([&] { return hasState(desktop, w, first); });
    desktop.waitForRest(w, std::chrono::milliseconds(50));
}

void benchWindowManager(const std::string& wm, int samples) {
    TLTestDesktop desktop;
    std::string error;
    if (!desktop.start(&error, wm)) {
        std::printf("%-10s did not start: %s\n", wm.c_str(), error.c_str());
        return;
    }
    auto connection = TLX11Connection::open(desktop.displayName().c_str());
    TLX11WindowControl control(*connection);
    TLWindowMover mover(control);
    auto client = desktop.launchTestClient("Restore probe", "tlbench", 500, 400);
    const xcb_window_t w = desktop.waitForWindow("Restore probe");
    if (w == XCB_WINDOW_NONE || !desktop.activate(w)) {
        std::printf("%-10s: the probe window did not appear\n", wm.c_str());
        return;
    }
    const TLLayout* layouts[2] = {TLLayout::layoutWithIdentifier("half.right"),
                                  TLLayout::layoutWithIdentifier("quarter.tl")};
    for (const State& state : kStates) {
        std::vector<double> ms;
        qint64 slowestPress = 0;
        int missed = 0;
        for (int i = 0; i < samples; ++i) {
            setState(desktop, w, state.first, state.second);
            if (state.then) {
                setState(desktop, w, state.then, nullptr);
            }
            const TLLayout& layout = *layouts[i % 2];
            const Frame want =
                TLX11WindowFixture::expectedFrame(layout, desktop.outerFrame(w).value_or(Frame{}));
            QElapsedTimer clock;
            clock.start();
            mover.applyLayout(layout);
            slowestPress = std::max(slowestPress, clock.elapsed());
            if (waitFor([&] { return desktop.outerFrame(w) == want && !control.restoring(); })) {
                ms.push_back(double(clock.nsecsElapsed()) / 1e6);
            } else {
                ++missed;
            }
        }
        std::sort(ms.begin(), ms.end());
        const auto at = [&](double q) {
            return ms.empty() ? 0 : ms[std::min(ms.size() - 1, std::size_t(q * double(ms.size())))];
        };
        std::printf("%-10s %-28s median %6.1f ms  max %6.1f ms  press %3lld ms  missed %d of %d\n",
                    wm.c_str(), state.name, at(0.5), ms.empty() ? 0 : ms.back(), slowestPress, missed,
                    samples);
    }
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    std::vector<std::string> wms(argv + std::min(argc, 2), argv + argc);
    if (wms.empty()) {
        wms = {"openbox", "fluxbox", "metacity", "jwm", "wmaker"};
    }
    for (const std::string& wm : wms) {
        benchWindowManager(wm, samples);
    }
    return 0;
}
