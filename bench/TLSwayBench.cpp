// Latency of a hot key on sway, from the binding event that sway sends for a key press to the
// reply of the command that gives the window its final geometry (sway answers a command once its
// layout holds the new geometry), for three ways of handling the same press:
//   (a) floor: the command sent at once over an IPC connection that is already open;
//   (b) Tilora: hot-key service, hot-key manager (with its hand-over to the main loop), mover
//       with its read of the tree, the placement and the command;
//   (c) what a user could bind instead: a swaymsg process sending the same command.
// All three are timed from the same event, read by the same session. Presses come from a
// virtual keyboard (wtype) on a private headless sway; left and right halves alternate, so
// every press changes the geometry.
//
//   bench_sway [samples]      (default 60 per way)

#include "TLBenchFigures.h"
#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLLog.h"
#include "TLSwayDesktop.h"
#include "TLSwayHotKeyService.h"
#include "TLSwayKeyboardLayout.h"
#include "TLSwayMessage.h"
#include "TLSwaySession.h"
#include "TLSwayWindowControl.h"
#include "TLUserDefaults.h"
#include "TLWindowMover.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum Way { Floor, Tilora, Swaymsg, kWays };
constexpr const char* kNames[kWays] = {"floor: the command over open IPC", "Tilora: hot key to placed window",
                                       "swaymsg process with the command"};

// Tilora's window control, noting when its command has been answered.
class Timed : public TLWindowControl {
public:
    explicit Timed(TLWindowControl& real) : real_(real) {}
    bool isTrusted() override { return real_.isTrusted(); }
    void requestTrust() override {}
    TLFrontmostWindow readFrontmostWindow() override { return real_.readFrontmostWindow(); }
    std::optional<TLPoint> mouseLocation() override { return real_.mouseLocation(); }
    bool setFrame(std::uint64_t w, TLIntPoint p, TLIntSize s, QString* failure) override {
        const bool ok = real_.setFrame(w, p, s, failure);
        done = Clock::now();
        return ok;
    }
    std::optional<Clock::time_point> done;

private:
    TLWindowControl& real_;
};

// Notes when the press arrives and answers the bench's own bindings.
class Presses : public TLSwaySession::Listener {
public:
    explicit Presses(TLSwaySession& session) : session_(session) {}
    void handleEvent(std::uint32_t type, const QJsonObject& event) override {
        if (type != TLSwayMessage::kEventBinding) {
            return;
        }
        pressed = Clock::now();
        const QString command = event.value("binding").toObject().value("command").toString();
        if (command == "nop bench floor") {
            session_.run(target);
            done = Clock::now();
        } else if (command == "nop bench swaymsg") {
            TLTestDesktop::runWith({}, {"swaymsg", target});
            done = Clock::now();
        }
    }
    QString target; // the command for the next press of the bench's own keys
    std::optional<Clock::time_point> pressed, done;

private:
    TLSwaySession& session_;
};

} // namespace

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::max(4, std::atoi(argv[1])) : 60;
    QCoreApplication app(argc, argv);
    TLSwayDesktop sway;
    std::string error;
    if (!sway.start(&error)) {
        std::fprintf(stderr, "bench_sway: %s\n", error.c_str());
        return 1;
    }
    sway.setEnvironment();
    auto foot = sway.launch({"foot", "--title", "Bench", "sleep", "1000"});
    const std::optional<long long> window = sway.waitForWindow("Bench");
    auto session = TLSwaySession::open(qEnvironmentVariable("SWAYSOCK"));
    if (!window || !session) {
        std::fprintf(stderr, "bench_sway: no window or no IPC\n");
        return 1;
    }
    TLSwayKeyboardLayout keyboard(*session);
    TLSwayHotKeyService service(*session, keyboard);
    Presses presses(*session);
    session->addListener(presses);
    TLSwayWindowControl control(*session);
    Timed timed(control);
    TLWindowMover mover(timed);
    QTemporaryDir home;
    TLLog log([](std::string_view) {});
    TLUserDefaults defaults(home.filePath("Tilora.plist"), log);
    TLHotkeyManager hotkeys(defaults, service, keyboard);
    hotkeys.setHandler([&](const TLLayout& layout) { mover.applyLayout(layout); });
    hotkeys.registerAll();
    session->run("bindsym Ctrl+Mod1+Shift+F9 nop bench floor; bindsym Ctrl+Mod1+Shift+F10 nop bench swaymsg");

    // The two targets as Tilora computes them: read them off the window once Tilora placed it.
    const auto pump = [&](const std::function<bool()>& done) {
        const auto deadline = Clock::now() + std::chrono::seconds(5);
        while (!done() && Clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return done();
    };
    QString halves[2];
    for (int side = 0; side < 2; ++side) {
        timed.done.reset();
        sway.press(side == 0 ? "-M ctrl -M alt -k Left -m alt -m ctrl"
                             : "-M ctrl -M alt -k Right -m alt -m ctrl");
        pump([&] { return timed.done.has_value(); });
        const auto f = sway.frame(*window);
        halves[side] = QString("[con_id=%1] resize set %2 %3, move absolute position %4 %5")
                           .arg(*window)
                           .arg(f->width)
                           .arg(f->height)
                           .arg(f->x)
                           .arg(f->y);
    }

    std::vector<double> ms[kWays];
    for (int i = 0; i < samples * kWays; ++i) {
        const Way way = static_cast<Way>(i % kWays);
        const int side = (i / kWays) % 2;
        const char* keys[kWays] = {"-M ctrl -M alt -M shift -k F9", "-M ctrl -M alt -k ",
                                   "-M ctrl -M alt -M shift -k F10"};
        QString press = keys[way];
        if (way == Tilora) {
            press += side == 0 ? "Left" : "Right";
        }
        press += way == Tilora ? " -m alt -m ctrl" : " -m shift -m alt -m ctrl";
        presses.target = halves[side];
        presses.pressed.reset();
        presses.done.reset();
        timed.done.reset();
        sway.press(press);
        std::optional<Clock::time_point>& done = way == Tilora ? timed.done : presses.done;
        if (!pump([&] { return presses.pressed && done; })) {
            std::fprintf(stderr, "bench_sway: press %d (%s) went unanswered\n", i, kNames[way]);
            return 1;
        }
        ms[way].push_back(std::chrono::duration<double, std::milli>(*done - *presses.pressed).count());
    }
    hotkeys.unregisterAll();

    double median[kWays];
    for (int w = 0; w < kWays; ++w) {
        median[w] = tlPercentile(ms[w], 0.5);
        std::printf("%-36s median %6.2f ms   p90 %6.2f ms   (%zu presses)\n", kNames[w], median[w],
                    tlPercentile(ms[w], 0.9), ms[w].size());
    }
    std::printf("Tilora / floor: %.2f   Tilora / swaymsg: %.2f\n", median[Tilora] / median[Floor],
                median[Tilora] / median[Swaymsg]);
    return 0;
}
