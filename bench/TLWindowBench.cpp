// Latency of applying a layout on the headless test desktop, from the request to the
// ConfigureNotify that carries the final geometry, for three ways of moving a window:
//   (a) floor: one bare _NET_MOVERESIZE_WINDOW request;
//   (b) TLWindowMover::applyLayout with the X11 backends;
//   (c) the shell command a user would otherwise bind (xdotool), from process start.
// (a) and (b) run side by side with 10 and with 500 windows open; besides the latency, the
// X server's CPU time per application. Layouts alternate so that every application changes
// the geometry.
//
//   bench_window [samples]      (default 200 per method)

#include "TLLayout.h"
#include "TLPlacement.h"
#include "TLTestDesktop.h"
#include "TLWindowMover.h"
#include "TLX11Connection.h"
#include "TLX11WindowControl.h"
#include "TLXcb.h"

#include <QCoreApplication>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

struct Geometry {
    int x = 0, y = 0, width = 0, height = 0; // client window, root coordinates
    bool operator==(const Geometry&) const = default;
};

// Follows the ConfigureNotify events of the client window and of the window manager's frame
// around it: the frame's give its root position, the client's its size and its offset inside
// the frame. The window manager may send a synthetic one for the client as well; it carries
// nothing new.
class Watcher {
public:
    Watcher(TLTestDesktop& desktop, xcb_window_t window) : desktop_(desktop), window_(window) {
        xcb_connection_t* c = desktop.connection();
        TLXcbReply<xcb_query_tree_reply_t> tree(xcb_query_tree_reply(c, xcb_query_tree(c, window), nullptr));
        frame_ = tree ? tree->parent : xcb_window_t(XCB_WINDOW_NONE);
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
        xcb_change_window_attributes(c, frame_, XCB_CW_EVENT_MASK, &mask);
        TLXcbReply<xcb_get_geometry_reply_t> g(
            xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
        TLXcbReply<xcb_get_geometry_reply_t> f(
            xcb_get_geometry_reply(c, xcb_get_geometry(c, frame_), nullptr));
        if (g && f) {
            client_ = {g->x, g->y, g->width, g->height};
            frameX_ = f->x + f->border_width;
            frameY_ = f->y + f->border_width;
        }
    }

    Geometry current() const {
        return {frameX_ + client_.x, frameY_ + client_.y, client_.width, client_.height};
    }

    Geometry read() const {
        xcb_connection_t* c = desktop_.connection();
        TLXcbReply<xcb_get_geometry_reply_t> g(
            xcb_get_geometry_reply(c, xcb_get_geometry(c, window_), nullptr));
        TLXcbReply<xcb_translate_coordinates_reply_t> t(xcb_translate_coordinates_reply(
            c, xcb_translate_coordinates(c, window_, desktop_.root(), 0, 0), nullptr));
        Geometry r;
        if (g && t) {
            r = {t->dst_x, t->dst_y, g->width, g->height};
        }
        return r;
    }

    // Waits for the ConfigureNotify that brings the window to `want`. False on timeout.
    bool waitFor(const Geometry& want, std::chrono::milliseconds timeout = 2000ms) {
        xcb_connection_t* c = desktop_.connection();
        const auto deadline = Clock::now() + timeout;
        for (;;) {
            if (drain() && current() == want) {
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) {
                return false;
            }
            pollfd p{xcb_get_file_descriptor(c), POLLIN, 0};
            poll(&p, 1, int(left.count()));
        }
    }

    // Handles every queued event; true when one of them was a ConfigureNotify we follow.
    bool drain() {
        bool any = false;
        while (TLXcbReply<xcb_generic_event_t> e{xcb_poll_for_event(desktop_.connection())}) {
            if ((e->response_type & 0x7f) == XCB_CONFIGURE_NOTIFY) {
                auto* n = reinterpret_cast<xcb_configure_notify_event_t*>(e.get());
                const bool synthetic = (n->response_type & 0x80) != 0;
                if (n->window == frame_ && n->event == frame_) {
                    frameX_ = n->x + n->border_width;
                    frameY_ = n->y + n->border_width;
                    any = true;
                } else if (n->window == window_ && !synthetic) {
                    client_ = {n->x, n->y, n->width, n->height};
                    any = true;
                }
            }
        }
        return any;
    }

private:
    TLTestDesktop& desktop_;
    xcb_window_t window_;
    xcb_window_t frame_ = XCB_WINDOW_NONE;
    Geometry client_; // relative to the frame
    int frameX_ = 0, frameY_ = 0;
};

struct Stats {
    double median = 0, p95 = 0;
    double serverMs = 0; // X server CPU time per application
    int failures = 0;
};

// User and system CPU time of a process so far, in milliseconds.
double cpuMs(pid_t pid) {
    FILE* file = std::fopen(("/proc/" + std::to_string(pid) + "/stat").c_str(), "r");
    if (!file) {
        return 0;
    }
    char buffer[1024] = {};
    const std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, file);
    std::fclose(file);
    // Fields after the command name (which ends with the last ')'): utime and stime are 14 and 15.
    buffer[n] = '\0';
    const char* p = std::strrchr(buffer, ')');
    unsigned long utime = 0, stime = 0;
    if (!p ||
        std::sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %lu %lu", &utime, &stime) != 2) {
        return 0;
    }
    return 1000.0 * double(utime + stime) / double(sysconf(_SC_CLK_TCK));
}

Stats stats(std::vector<double> ms, int failures) {
    Stats s;
    s.failures = failures;
    if (ms.empty()) {
        return s;
    }
    std::sort(ms.begin(), ms.end());
    s.median = ms[ms.size() / 2];
    s.p95 = ms[std::min(ms.size() - 1, std::size_t(double(ms.size()) * 0.95))];
    return s;
}

void moveresize(TLTestDesktop& desktop, xcb_window_t window, const Geometry& outerWithoutFrame, int x,
                int y) {
    // NorthWest gravity, x, y, width and height, from a pager.
    desktop.sendClientMessage(window, "_NET_MOVERESIZE_WINDOW",
                              {1 | (0xf << 8) | (2 << 12), uint32_t(x), uint32_t(y),
                               uint32_t(outerWithoutFrame.width), uint32_t(outerWithoutFrame.height)});
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int samples = argc > 1 ? std::max(10, std::atoi(argv[1])) : 200;
    TLTestDesktop desktop;
    std::string error;
    if (!desktop.start(&error)) {
        std::fprintf(stderr, "bench_window: %s\n", error.c_str());
        return 1;
    }
    auto connection = TLX11Connection::open(desktop.displayName().c_str());
    if (!connection) {
        std::fprintf(stderr, "bench_window: no connection to %s\n", desktop.displayName().c_str());
        return 1;
    }
    TLX11WindowControl control(*connection);
    TLWindowMover mover(control);

    auto client = desktop.launchTestClient("Bench probe", "tlbench", 500, 400);
    xcb_window_t window = desktop.waitForWindow("Bench probe");
    if (window == XCB_WINDOW_NONE || !desktop.activate(window)) {
        std::fprintf(stderr, "bench_window: the probe window did not appear\n");
        return 1;
    }
    Watcher watcher(desktop, window);
    std::vector<uint32_t> extents = desktop.cardinals(window, "_NET_FRAME_EXTENTS");
    extents.resize(4, 0);

    // Two layouts on the primary monitor that differ in position and size.
    const TLLayout* layouts[2] = {TLLayout::layoutWithIdentifier("half.left"),
                                  TLLayout::layoutWithIdentifier("quarter.br")};
    // Where each layout puts the window: the placement on the displays the backend reports,
    // less the frame. The floor and the shell command are given the very same frame.
    Geometry target[2];
    TLTestDesktop::Frame frame[2];
    {
        const TLTestDesktop::Frame now = *desktop.outerFrame(window);
        const auto& primary = TLTestDesktop::kMonitors.front();
        TLDisplayConfiguration config;
        config.displays = control.readFrontmostWindow().displays;
        for (int i = 0; i < 2; ++i) {
            TLPlacementResult r = TLPlacement::place(
                config, {double(now.x - primary.x), double(now.y - primary.y)},
                {double(now.width), double(now.height)}, layouts[i]->kind(), layouts[i]->frac());
            frame[i] = {int(r.position.x + primary.x), int(r.position.y + primary.y), int(r.size.width),
                        int(r.size.height)};
            target[i] = {frame[i].x + int(extents[0]), frame[i].y + int(extents[2]),
                         frame[i].width - int(extents[0] + extents[1]),
                         frame[i].height - int(extents[2] + extents[3])};
        }
    }
    auto xdotoolCommand = [&](int i) {
        return QStringList{"xdotool",
                           "getactivewindow",
                           "windowsize",
                           QString::number(target[i].width),
                           QString::number(target[i].height),
                           "windowmove",
                           QString::number(frame[i].x),
                           QString::number(frame[i].y)};
    };
    // The shell command's result, checked once: it may place the window elsewhere.
    Geometry shellTarget[2];
    for (int i = 0; i < 2; ++i) {
        if (desktop.run(xdotoolCommand(i)) != 0) {
            std::fprintf(stderr, "bench_window: xdotool failed\n");
            return 1;
        }
        shellTarget[i] = target[i];
        if (!TLTestDesktop::waitUntil([&] { return watcher.read() == target[i]; }, 2s)) {
            shellTarget[i] = watcher.read();
            std::printf("note: xdotool puts the window at %dx%d+%d+%d instead of %dx%d+%d+%d\n",
                        shellTarget[i].width, shellTarget[i].height, shellTarget[i].x, shellTarget[i].y,
                        target[i].width, target[i].height, target[i].x, target[i].y);
        }
    }

    struct Method {
        const char* name;
        std::function<void(int)> apply;
        const Geometry* targets;
        std::vector<double> ms{};
        double serverMs = 0;
        int failures = 0;
    };
    // The methods take turns, two applications each (one per layout), so that a drift of the
    // desktop's load meets them alike.
    auto run = [&](std::vector<Method> methods) {
        mover.applyLayout(*layouts[1]);
        TLTestDesktop::waitUntil([&] { return watcher.read() == target[1]; }, 2s);
        for (int n = 0; n < samples * int(methods.size()); ++n) {
            const int i = n % 2;
            Method& method = methods[std::size_t(n / 2) % methods.size()];
            watcher.drain();
            const double serverBefore = cpuMs(desktop.serverPid());
            const auto start = Clock::now();
            method.apply(i);
            if (watcher.waitFor(method.targets[i])) {
                method.ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            } else {
                ++method.failures;
            }
            method.serverMs += cpuMs(desktop.serverPid()) - serverBefore;
        }
        std::vector<Stats> result;
        for (Method& method : methods) {
            Stats s = stats(method.ms, method.failures);
            s.serverMs = method.serverMs / samples;
            std::printf("%-38s median %7.3f ms   p95 %7.3f ms   X server %6.3f ms   (%zu samples, %d lost)\n",
                        method.name, s.median, s.p95, s.serverMs, method.ms.size(), method.failures);
            result.push_back(s);
        }
        return result;
    };
    auto bare = [&](int i) {
        moveresize(desktop, window, {0, 0, target[i].width, target[i].height}, frame[i].x, frame[i].y);
    };
    auto apply = [&](int i) { mover.applyLayout(*layouts[i]); };
    // Waits until the X server has had nothing to do for a while.
    auto settle = [&] {
        for (int round = 0; round < 150; ++round) {
            const double before = cpuMs(desktop.serverPid());
            std::this_thread::sleep_for(200ms);
            if (cpuMs(desktop.serverPid()) - before < 15) {
                return;
            }
        }
    };

    std::printf("bench_window on %s, %d applications per method\n", desktop.displayName().c_str(), samples);
    int failures = 0;
    std::vector<std::pair<int, double>> ratios;
    for (const int open : {10, 500}) {
        // The panel and the probe are windows too. The others are put on the left monitor, out
        // of the probe's way, so that its moves expose none of them.
        const int copies = open - 3;
        auto filler =
            desktop.launchTestClient("Filler", "tlfill", 120, 90, {"--copies", QString::number(copies)});
        if (!filler ||
            !TLTestDesktop::waitUntil([&] { return int(desktop.clientList().size()) >= open; }, 60s)) {
            std::fprintf(stderr, "bench_window: %d windows did not appear\n", open);
            return 1;
        }
        for (xcb_window_t w : desktop.clientList()) {
            if (w != window && desktop.wmClass(w) == std::vector<std::string>{"tlfill", "tlfill"}) {
                moveresize(desktop, w, {0, 0, 120, 90}, 40, 220);
            }
        }
        settle();
        if (!desktop.activate(window)) {
            std::fprintf(stderr, "bench_window: the probe could not be activated\n");
            return 1;
        }
        std::printf("-- %zu windows open\n", desktop.clientList().size());
        const std::vector<Stats> ab = run({{"(a) _NET_MOVERESIZE_WINDOW (floor)", bare, target},
                                           {"(b) TLWindowMover::applyLayout", apply, target}});
        const Stats &a = ab[0], &b = ab[1];
        failures += a.failures + b.failures;
        ratios.emplace_back(open, a.median > 0 ? b.median / a.median : 0.0);
        std::printf("(b)/(a) median %.2fx, X server time %.2fx\n", ratios.back().second,
                    a.serverMs > 0 ? b.serverMs / a.serverMs : 0.0);
        if (open == 10) {
            std::vector<TLTestDesktop::Process> running;
            const Stats c = run({{"(c) xdotool windowsize + windowmove",
                                  [&](int i) {
                                      // Reaped later; its exit is not part of the latency.
                                      running.push_back(desktop.launch(xdotoolCommand(i)));
                                      if (running.size() > 8) {
                                          running.erase(running.begin());
                                      }
                                  },
                                  shellTarget}})
                                .front();
            failures += c.failures;
            std::printf("(c)/(b) median %.1fx (target >= 3x)\n", b.median > 0 ? c.median / b.median : 0.0);
        }
        filler.reset();
        TLTestDesktop::waitUntil([&] { return int(desktop.clientList().size()) <= 2; }, 60s);
    }
    std::printf("(b)/(a) median with 10 windows %.2fx, with 500 windows %.2fx (target <= 1.2x)\n",
                ratios[0].second, ratios[1].second);
    return failures == 0 ? 0 : 2;
}
