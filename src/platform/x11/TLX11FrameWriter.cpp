#include "TLX11FrameWriter.h"

#include "TLLog.h"
#include "TLX11DesktopState.h"

#include <algorithm>

namespace {

// _NET_MOVERESIZE_WINDOW and _NET_WM_STATE flags.
constexpr std::uint32_t kGravityNorthWest = 1;
constexpr std::uint32_t kMoveX = 1u << 8, kMoveY = 1u << 9, kMoveWidth = 1u << 10, kMoveHeight = 1u << 11;
constexpr std::uint32_t kSourcePager = 2;
constexpr std::uint32_t kStateRemove = 0;

std::uint32_t wire(std::int64_t value) {
    return static_cast<std::uint32_t>(
        static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX)));
}

// One axis of a frame whose size the client's limits changed: a larger frame ends at the
// requested far edge but never starts before the area's near edge; a smaller one is centred.
void fit(std::int64_t& at, std::int64_t length, std::int64_t size, std::int64_t areaStart) {
    if (size > length) {
        at = std::max(areaStart, at + length - size);
    } else {
        at += (length - size) / 2;
    }
}

} // namespace

TLX11FrameWriter::TLX11FrameWriter(TLX11Connection& connection, TLX11DesktopState& desktop, const TLLog* log)
    : connection_(connection), desktop_(desktop), log_(log) {
    for (QTimer* timer : {&deadline_, &grace_}) {
        timer->setSingleShot(true);
    }
    QObject::connect(&deadline_, &QTimer::timeout, &deadline_, [this] { finishRestore(); });
    // A state that showed again meanwhile (a maximize back after fullscreen) waits on.
    QObject::connect(&grace_, &QTimer::timeout, &grace_, [this] {
        if (restore_ && !restore_->stateCleared) {
            restore_->graceStarted = false;
        } else {
            finishRestore();
        }
    });
    deadline_.setInterval(kRestoreTimeout);
    grace_.setInterval(kExtentsGrace);
    connection_.addListener(*this);
}

TLX11FrameWriter::~TLX11FrameWriter() {
    connection_.removeListener(*this);
}

void TLX11FrameWriter::setFrame(xcb_window_t window, const TLX11WindowFrame& current, TLIntPoint position,
                                TLIntSize size) {
    if (restore_ && restore_->window == window) {
        restore_->position = position; // the restore goes on towards the newer frame
        restore_->size = size;
        return;
    }
    restore_.reset();
    deadline_.stop();
    grace_.stop();
    if (!current.restricted()) {
        write(window, current, position, size);
        return;
    }
    const TLX11WindowFrame& c = current;
    restore_ = Restore{window, current, position, size};
    restore_->clientSize = {c.outer.width - c.frame[0] - c.frame[1] + c.shadow[0] + c.shadow[1],
                            c.outer.height - c.frame[2] - c.frame[3] + c.shadow[2] + c.shadow[3]};
    restore_->extents = c.frame;
    // The confirmations arrive as property and structure events of the window.
    connection_.watchWindow(window);
    // Fullscreen first: some window managers ignore a maximize change while it holds, and some
    // show no maximize under it that comes back once it is gone.
    if (c.fullscreen) {
        sendRemoval(window, TLX11Atom::NetWmStateFullscreen);
    }
    if (c.fullscreen || c.maximized) {
        sendRemoval(window, TLX11Atom::NetWmStateMaximizedVert, TLX11Atom::NetWmStateMaximizedHorz);
    }
    if (c.shaded) {
        sendRemoval(window, TLX11Atom::NetWmStateShaded);
    }
    connection_.flush();
    deadline_.start();
}

void TLX11FrameWriter::sendRemoval(xcb_window_t window, TLX11Atom first, std::optional<TLX11Atom> second) {
    connection_.sendToWindowManager(window, TLX11Atom::NetWmState,
                                    {kStateRemove, connection_.atom(first),
                                     second ? connection_.atom(*second) : xcb_atom_t{XCB_ATOM_NONE},
                                     kSourcePager, 0});
}

std::optional<TLX11Rect> TLX11FrameWriter::pendingFrame(xcb_window_t window) const {
    if (restore_ && restore_->window == window) {
        const TLX11Rect primary = desktop_.primaryMonitor();
        return TLX11Rect{restore_->position.x + primary.x, restore_->position.y + primary.y,
                         restore_->size.width, restore_->size.height};
    }
    // A request whose configure never came is not waited for longer than a restore.
    if (flight_ && flight_->window == window &&
        std::chrono::steady_clock::now() - flight_->sent < kRestoreTimeout) {
        return flight_->requests.back().frame;
    }
    return std::nullopt;
}

void TLX11FrameWriter::handleEvent(const xcb_generic_event_t& event) {
    const std::uint8_t type = event.response_type & 0x7f;
    if (type == XCB_CONFIGURE_NOTIFY) {
        landed(reinterpret_cast<const xcb_configure_notify_event_t&>(event));
    }
    if (type == XCB_DESTROY_NOTIFY || event.response_type == 0) {
        // An error: BadWindow about it when the window went before its restore began.
        const auto& error = reinterpret_cast<const xcb_generic_error_t&>(event);
        const xcb_window_t gone = event.response_type != 0
                                      ? reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window
                                  : error.error_code == XCB_WINDOW ? error.resource_id
                                                                   : xcb_window_t{XCB_WINDOW_NONE};
        if (flight_ && flight_->window == gone) {
            flight_.reset();
        }
        if (restore_ && restore_->window == gone) {
            restore_.reset();
            deadline_.stop();
            grace_.stop();
        }
        return;
    }
    if (!restore_) {
        return;
    }
    Restore& r = *restore_;
    if (type == XCB_CONFIGURE_NOTIFY) {
        const auto& c = reinterpret_cast<const xcb_configure_notify_event_t&>(event);
        r.configured = r.configured ||
                       (c.window == r.window && (c.width != r.clientSize[0] || c.height != r.clientSize[1]));
    } else if (type == XCB_PROPERTY_NOTIFY) {
        const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(event);
        if (p.window != r.window) {
            return;
        }
        if (p.atom == connection_.atom(TLX11Atom::NetWmState)) {
            const std::vector<std::uint32_t> states = TLX11Connection::values32(
                connection_.property(connection_.requestProperty(r.window, TLX11Atom::NetWmState, 32)).get());
            const bool fullscreen = connection_.contains(states, TLX11Atom::NetWmStateFullscreen);
            const bool maximized = connection_.contains(states, TLX11Atom::NetWmStateMaximizedVert) ||
                                   connection_.contains(states, TLX11Atom::NetWmStateMaximizedHorz);
            if (!fullscreen && maximized && r.before.fullscreen && !r.maximizeRemovedAgain) {
                // A maximize that showed again once fullscreen was gone: asked away once more.
                // The confirmations counted so far still count.
                r.maximizeRemovedAgain = true;
                sendRemoval(r.window, TLX11Atom::NetWmStateMaximizedVert, TLX11Atom::NetWmStateMaximizedHorz);
                connection_.flush();
            }
            r.stateCleared =
                !fullscreen && !maximized && !connection_.contains(states, TLX11Atom::NetWmStateShaded);
        } else if (p.atom == connection_.atom(TLX11Atom::NetFrameExtents)) {
            // Only a new value counts: a late notice of the old state's extents does not.
            const std::vector<std::uint32_t> extents = TLX11Connection::values32(
                connection_.property(connection_.requestProperty(r.window, TLX11Atom::NetFrameExtents, 4))
                    .get());
            r.extentsChanged =
                r.extentsChanged || (extents.size() == 4 && !std::ranges::equal(extents, r.extents));
        } else {
            return;
        }
    } else {
        return;
    }
    progress();
}

void TLX11FrameWriter::landed(const xcb_configure_notify_event_t& event) {
    if (!flight_ || event.window != flight_->window) {
        return;
    }
    // A window manager's own notice (sent, in root coordinates) tells the position too; the
    // server's tells the size only. Some send both for one request.
    const bool sent = (event.response_type & 0x80) != 0;
    std::vector<Request>& requests = flight_->requests;
    const auto match = std::ranges::find_if(requests, [&](const Request& r) {
        return event.width == r.client.width && event.height == r.client.height &&
               (!sent || (event.x == r.client.x && event.y == r.client.y));
    });
    // One that matches none is taken for the only request left, changed by the window manager
    // (size increments); not after a restore, whose own configures may still come in.
    if (match != requests.end()) {
        requests.erase(requests.begin(), match); // carried out, and the older ones with it
    } else if (flight_->recheck) {
        return;
    }
    if (requests.size() > 1) {
        return;
    }
    const Flight done = *flight_;
    flight_.reset();
    TLX11WindowFrame now;
    if (done.recheck && TLX11FrameRequest(connection_, done.window).collect(connection_, &now) == 0 &&
        !now.restricted() && now.frame != done.extents) {
        write(done.window, now, done.recheck->first, done.recheck->second);
    }
}

void TLX11FrameWriter::progress() {
    Restore& r = *restore_;
    // Leaving maximized or fullscreen resizes the window (and may change its decorations);
    // shading changes neither.
    const bool resized = r.before.maximized || r.before.fullscreen;
    if (!r.stateCleared) {
        return;
    }
    if (!resized || (r.configured && r.extentsChanged)) {
        finishRestore();
    } else if (!r.graceStarted) {
        // Some window managers keep the same extents, and a window whose restored frame is
        // the one it had brings no configure: a short moment only.
        r.graceStarted = true;
        grace_.start();
    }
}

void TLX11FrameWriter::finishRestore() {
    if (!restore_) {
        return;
    }
    const Restore r = *restore_;
    restore_.reset();
    deadline_.stop();
    grace_.stop();
    // Fresh extents for the write; a window gone meanwhile is left alone.
    TLX11WindowFrame fresh;
    if (TLX11FrameRequest(connection_, r.window).collect(connection_, &fresh) == 0) {
        if (fresh.restricted() && log_ != nullptr) {
            log_->write(std::string_view(kStillRestrictedLine));
        }
        write(r.window, fresh, r.position, r.size, true);
    }
}

void TLX11FrameWriter::write(xcb_window_t window, const TLX11WindowFrame& f, TLIntPoint position,
                             TLIntSize size, bool recheck) {
    const TLX11Rect primary = desktop_.primaryMonitor();
    TLX11Rect frame{position.x + primary.x, position.y + primary.y, size.width, size.height};
    // The client's size is the visible frame's less the decorations, plus a client-side shadow.
    const std::int64_t decorWidth = std::int64_t{f.frame[0]} + f.frame[1] - f.shadow[0] - f.shadow[1];
    const std::int64_t decorHeight = std::int64_t{f.frame[2]} + f.frame[3] - f.shadow[2] - f.shadow[3];
    auto limited = [](std::int64_t client, std::uint32_t min, std::uint32_t max) {
        client = std::max<std::int64_t>(client, min);
        return max > 0 ? std::min<std::int64_t>(client, max) : client;
    };
    const std::int64_t width = limited(frame.width - decorWidth, f.minSize[0], f.maxSize[0]) + decorWidth;
    const std::int64_t height = limited(frame.height - decorHeight, f.minSize[1], f.maxSize[1]) + decorHeight;
    if (width != frame.width || height != frame.height) {
        // Within the visible area of the monitor the frame lies on (the most of it).
        TLX11Rect area = frame;
        std::int64_t best = 0;
        for (const TLX11Rect& visible : desktop_.layout().visible) {
            const TLX11Rect common = visible.intersected(frame);
            if (!common.isEmpty() && common.width * common.height > best) {
                best = common.width * common.height;
                area = visible;
            }
        }
        fit(frame.x, frame.width, width, area.x);
        fit(frame.y, frame.height, height, area.y);
        frame.width = width;
        frame.height = height;
    }
    // A client-side shadow starts the window earlier than its visible frame.
    const TLX11Rect client{frame.x + f.frame[0] - f.shadow[0], frame.y + f.frame[2] - f.shadow[2],
                           std::clamp<std::int64_t>(frame.width - decorWidth, 1, 32767),
                           std::clamp<std::int64_t>(frame.height - decorHeight, 1, 32767)};
    const std::int64_t x = frame.x - f.shadow[0], y = frame.y - f.shadow[2];
    if (desktop_.supports(TLX11Atom::NetMoveresizeWindow)) {
        connection_.sendToWindowManager(
            window, TLX11Atom::NetMoveresizeWindow,
            {kGravityNorthWest | kMoveX | kMoveY | kMoveWidth | kMoveHeight | (kSourcePager << 12), wire(x),
             wire(y), wire(client.width), wire(client.height)});
    } else {
        // ICCCM configure request; with NorthWest gravity x/y is the frame's top-left corner.
        const std::array<std::uint32_t, 4> values{wire(x), wire(y), wire(client.width), wire(client.height)};
        xcb_configure_window(connection_.get(), window,
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                 XCB_CONFIG_WINDOW_HEIGHT,
                             values.data());
    }
    // Until the window manager carries it out, a read of the window starts from this frame. A
    // request for the frame the window has brings no configure: nothing to wait for.
    const auto now = std::chrono::steady_clock::now();
    if (!flight_ || flight_->window != window || now - flight_->sent >= kRestoreTimeout) {
        flight_.reset();
        if (f.outer == frame && !recheck) {
            connection_.flush();
            return;
        }
        connection_.watchWindow(window);
        flight_ = Flight();
        flight_->window = window;
    }
    if (flight_->requests.size() >= kMaxRequestsInFlight) {
        flight_->requests.erase(flight_->requests.begin());
    }
    flight_->requests.push_back({frame, client});
    flight_->sent = now;
    flight_->recheck.reset();
    if (recheck) {
        flight_->recheck = {position, size};
        flight_->extents = f.frame;
    }
    connection_.flush();
}
