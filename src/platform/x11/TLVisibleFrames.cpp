#include "TLVisibleFrames.h"

#include <algorithm>

namespace {

enum Edge { Left, Right, Top, Bottom };

struct Reservation {
    Edge edge;
    TLX11Rect box; // against the root window's edge
};

// Each non-zero edge of a strut becomes a box against the root window's edge. A plain strut
// reserves the edge along its whole length.
std::vector<Reservation> reservations(const std::vector<std::uint32_t>& s, const TLX11Rect& root) {
    std::vector<Reservation> out;
    if (s.size() < 4) {
        return out;
    }
    const bool partial = s.size() >= 12;
    const std::int64_t w = root.width;
    const std::int64_t h = root.height;
    auto span = [&](std::size_t startIndex, std::int64_t length) -> std::pair<std::int64_t, std::int64_t> {
        if (!partial) {
            return {0, length};
        }
        const std::int64_t start = s[startIndex];
        const std::int64_t end = static_cast<std::int64_t>(s[startIndex + 1]) + 1; // inclusive end
        return {start, end};
    };
    if (s[0] > 0) {
        auto [a, b] = span(4, h);
        out.push_back({Left, TLX11Rect{0, a, s[0], b - a}.intersected(root)});
    }
    if (s[1] > 0) {
        auto [a, b] = span(6, h);
        out.push_back({Right, TLX11Rect{w - s[1], a, s[1], b - a}.intersected(root)});
    }
    if (s[2] > 0) {
        auto [a, b] = span(8, w);
        out.push_back({Top, TLX11Rect{a, 0, b - a, s[2]}.intersected(root)});
    }
    if (s[3] > 0) {
        auto [a, b] = span(10, w);
        out.push_back({Bottom, TLX11Rect{a, h - s[3], b - a, s[3]}.intersected(root)});
    }
    return out;
}

} // namespace

TLX11Rect TLVisibleFrames::cutByStruts(const TLX11Rect& monitor, const TLX11Rect& root,
                                       const std::vector<std::vector<std::uint32_t>>& struts) {
    std::int64_t left = monitor.x, top = monitor.y, right = monitor.maxX(), bottom = monitor.maxY();
    for (const auto& strut : struts) {
        for (const Reservation& r : reservations(strut, root)) {
            if (r.box.isEmpty() || monitor.intersected(r.box).isEmpty()) {
                continue;
            }
            // A box that spans the monitor across the cut belongs to a monitor further in (a panel
            // on an inner edge): it does not cut this one.
            switch (r.edge) {
            case Left:
                if (r.box.maxX() < monitor.maxX()) {
                    left = std::max(left, r.box.maxX());
                }
                break;
            case Right:
                if (r.box.x > monitor.x) {
                    right = std::min(right, r.box.x);
                }
                break;
            case Top:
                if (r.box.maxY() < monitor.maxY()) {
                    top = std::max(top, r.box.maxY());
                }
                break;
            case Bottom:
                if (r.box.y > monitor.y) {
                    bottom = std::min(bottom, r.box.y);
                }
                break;
            }
        }
    }
    return {left, top, std::max<std::int64_t>(0, right - left), std::max<std::int64_t>(0, bottom - top)};
}

std::vector<TLX11Rect> TLVisibleFrames::compute(const Input& input) {
    std::vector<TLX11Rect> visible;
    visible.reserve(input.monitors.size());
    for (const TLX11Rect& monitor : input.monitors) {
        if (input.gtkWorkareas && !input.gtkWorkareas->empty()) {
            // The published rectangle that lies on this monitor (largest overlap).
            TLX11Rect best;
            for (const TLX11Rect& area : *input.gtkWorkareas) {
                TLX11Rect part = monitor.intersected(area);
                if (part.width * part.height > best.width * best.height) {
                    best = part;
                }
            }
            visible.push_back(best.isEmpty() ? monitor : best);
        } else if (input.struts) {
            visible.push_back(cutByStruts(monitor, input.root, *input.struts));
        } else if (input.workarea) {
            TLX11Rect part = monitor.intersected(*input.workarea);
            visible.push_back(part.isEmpty() ? monitor : part);
        } else {
            visible.push_back(monitor);
        }
    }
    return visible;
}

std::vector<TLDisplay> TLVisibleFrames::toDisplays(const std::vector<TLX11Rect>& monitors,
                                                   const std::vector<TLX11Rect>& visible,
                                                   std::size_t primary) {
    std::vector<TLDisplay> displays;
    if (monitors.empty() || visible.size() != monitors.size()) {
        return displays;
    }
    primary = std::min(primary, monitors.size() - 1);
    const TLX11Rect& p = monitors[primary];
    auto global = [&](const TLX11Rect& r) {
        return TLRect{static_cast<double>(r.x - p.x), static_cast<double>(p.maxY() - r.maxY()),
                      static_cast<double>(r.width), static_cast<double>(r.height)};
    };
    displays.push_back({global(monitors[primary]), global(visible[primary])});
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        if (i != primary) {
            displays.push_back({global(monitors[i]), global(visible[i])});
        }
    }
    return displays;
}

TLPoint TLVisibleFrames::toAccessibility(std::int64_t rootX, std::int64_t rootY, const TLX11Rect& primary) {
    return {static_cast<double>(rootX - primary.x), static_cast<double>(rootY - primary.y)};
}
