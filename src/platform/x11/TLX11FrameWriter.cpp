#include "TLX11FrameWriter.h"

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

} // namespace

TLX11FrameWriter::TLX11FrameWriter(TLX11Connection& connection, TLX11DesktopState& desktop)
    : connection_(connection), desktop_(desktop) {
    for (QTimer* timer : {&deadline_, &grace_}) {
        timer->setSingleShot(true);
        QObject::connect(timer, &QTimer::timeout, timer, [this] { finishRestore(); });
    }
    deadline_.setInterval(kRestoreTimeout);
    grace_.setInterval(kExtentsGrace);
    connection_.addListener(*this);
}

TLX11FrameWriter::~TLX11FrameWriter() {
    connection_.removeListener(*this);
}

void TLX11FrameWriter::setFrame(xcb_window_t window, const TLX11WindowFrame& current, TLIntPoint position,
                                TLIntSize size) {
    restore_.reset();
    deadline_.stop();
    grace_.stop();
    if (!current.restricted()) {
        write(window, current, position, size);
        return;
    }
    restore_ = Restore{window, current, position, size};
    // The confirmations arrive as property and structure events of the window.
    connection_.watchWindow(window);
    auto remove = [&](TLX11Atom first, std::optional<TLX11Atom> second = std::nullopt) {
        connection_.sendToWindowManager(window, TLX11Atom::NetWmState,
                                        {kStateRemove, connection_.atom(first),
                                         second ? connection_.atom(*second) : xcb_atom_t{XCB_ATOM_NONE},
                                         kSourcePager, 0});
    };
    // Fullscreen first: some window managers ignore a maximize change while it holds.
    if (current.fullscreen) {
        remove(TLX11Atom::NetWmStateFullscreen);
    }
    if (current.maximized) {
        remove(TLX11Atom::NetWmStateMaximizedVert, TLX11Atom::NetWmStateMaximizedHorz);
    }
    if (current.shaded) {
        remove(TLX11Atom::NetWmStateShaded);
    }
    connection_.flush();
    deadline_.start();
}

void TLX11FrameWriter::handleEvent(const xcb_generic_event_t& event) {
    if (!restore_) {
        return;
    }
    Restore& r = *restore_;
    switch (event.response_type & 0x7f) {
    case XCB_PROPERTY_NOTIFY: {
        const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(event);
        if (p.window != r.window) {
            return;
        }
        if (p.atom == connection_.atom(TLX11Atom::NetWmState)) {
            const std::vector<std::uint32_t> states = TLX11Connection::values32(
                connection_.property(connection_.requestProperty(r.window, TLX11Atom::NetWmState, 32)).get());
            r.stateCleared = !connection_.contains(states, TLX11Atom::NetWmStateMaximizedVert) &&
                             !connection_.contains(states, TLX11Atom::NetWmStateMaximizedHorz) &&
                             !connection_.contains(states, TLX11Atom::NetWmStateFullscreen) &&
                             !connection_.contains(states, TLX11Atom::NetWmStateShaded);
        } else if (p.atom == connection_.atom(TLX11Atom::NetFrameExtents)) {
            // Only a new value counts: a late notice of the old state's extents does not.
            const std::vector<std::uint32_t> extents = TLX11Connection::values32(
                connection_.property(connection_.requestProperty(r.window, TLX11Atom::NetFrameExtents, 4))
                    .get());
            r.extentsChanged = extents.size() == 4 && !std::ranges::equal(extents, r.before.frame);
        }
        break;
    }
    case XCB_CONFIGURE_NOTIFY:
        r.configured =
            r.configured || reinterpret_cast<const xcb_configure_notify_event_t&>(event).window == r.window;
        break;
    case XCB_DESTROY_NOTIFY:
    case 0: { // an error: BadWindow about it when the window went before its restore began
        const auto& error = reinterpret_cast<const xcb_generic_error_t&>(event);
        const bool gone = event.response_type == 0
                              ? error.error_code == XCB_WINDOW && error.resource_id == r.window
                              : reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window == r.window;
        if (gone) {
            restore_.reset();
            deadline_.stop();
            grace_.stop();
        }
        return;
    }
    default:
        return;
    }
    progress();
}

void TLX11FrameWriter::progress() {
    Restore& r = *restore_;
    // Leaving maximized or fullscreen resizes the window (and may change its decorations);
    // shading changes neither.
    const bool resized = r.before.maximized || r.before.fullscreen;
    if (!r.stateCleared || (resized && !r.configured)) {
        return;
    }
    if (!resized || r.extentsChanged) {
        finishRestore();
    } else if (!r.graceStarted) {
        // Some window managers keep the same extents; give them a short moment only.
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
        write(r.window, fresh, r.position, r.size);
    }
}

void TLX11FrameWriter::write(xcb_window_t window, const TLX11WindowFrame& f, TLIntPoint position,
                             TLIntSize size) {
    const TLX11Rect primary = desktop_.primaryMonitor();
    // Positions place the visible frame: a client-side shadow starts the window earlier.
    const std::int64_t x = position.x + primary.x - f.shadow[0];
    const std::int64_t y = position.y + primary.y - f.shadow[2];
    // Sizes are the client's: the visible frame less the decorations plus the shadow.
    const std::int64_t width =
        std::clamp<std::int64_t>(size.width - f.frame[0] - f.frame[1] + f.shadow[0] + f.shadow[1], 1, 32767);
    const std::int64_t height =
        std::clamp<std::int64_t>(size.height - f.frame[2] - f.frame[3] + f.shadow[2] + f.shadow[3], 1, 32767);
    if (desktop_.supports(TLX11Atom::NetMoveresizeWindow)) {
        connection_.sendToWindowManager(
            window, TLX11Atom::NetMoveresizeWindow,
            {kGravityNorthWest | kMoveX | kMoveY | kMoveWidth | kMoveHeight | (kSourcePager << 12), wire(x),
             wire(y), wire(width), wire(height)});
    } else {
        // ICCCM configure request; with NorthWest gravity x/y is the frame's top-left corner.
        const std::array<std::uint32_t, 4> values{wire(x), wire(y), wire(width), wire(height)};
        xcb_configure_window(connection_.get(), window,
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                 XCB_CONFIG_WINDOW_HEIGHT,
                             values.data());
    }
    connection_.flush();
}
