#include "TLX11Accessibility.h"

#include "TLVisibleFrames.h"
#include "TLX11Session.h"
#include "TLX11Snapshot.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

namespace {

using Reply = TLXcbReply<xcb_get_property_reply_t>;

constexpr std::int32_t kBadWindow = XCB_WINDOW; // X error code 3

// _NET_MOVERESIZE_WINDOW and _NET_WM_STATE flags.
constexpr std::uint32_t kGravityNorthWest = 1;
constexpr std::uint32_t kMoveX = 1u << 8, kMoveY = 1u << 9, kMoveWidth = 1u << 10, kMoveHeight = 1u << 11;
constexpr std::uint32_t kSourcePager = 2;
constexpr std::uint32_t kStateRemove = 0;

class ApplicationElement final : public TLAXElement {
public:
    ApplicationElement(xcb_window_t w, std::uint32_t p) : window(w), pid(p) {}
    xcb_window_t window;
    std::uint32_t pid;
};

// The frame a window is to get, gathered from the writes made through its element.
struct PendingFrame {
    std::optional<std::pair<std::int64_t, std::int64_t>> position; // WM frame top-left, root coordinates
    std::optional<std::pair<std::int64_t, std::int64_t>> size;     // client size
    bool moveresize = true;
};

void sendFrame(TLX11Session& s, xcb_window_t window, const PendingFrame& pending);

// Writes are collected and sent as one request when the element is released: the window
// manager applies position and size together, so the window never shows an intermediate frame
// and the later position write (which only has to correct what a size change moved) is
// already part of it.
class WindowElement final : public TLAXElement {
public:
    WindowElement(xcb_window_t w, std::shared_ptr<TLX11Session> s) : window(w), session(std::move(s)) {}
    ~WindowElement() override {
        if (session && session->isConnected()) {
            if (pending.position || pending.size) {
                sendFrame(*session, window, pending);
            }
            xcb_flush(session->connection());
        }
    }
    xcb_window_t window;
    std::shared_ptr<TLX11Session> session;
    std::optional<TLX11WindowFrame> snapshot;
    std::int32_t readError = TLAccessibility::kSuccess;
    bool restoreDone = false;
    PendingFrame pending;
};

void sendFrame(TLX11Session& s, xcb_window_t window, const PendingFrame& pending) {
    xcb_connection_t* c = s.connection();
    const auto [x, y] = pending.position.value_or(std::pair<std::int64_t, std::int64_t>{0, 0});
    const auto [width, height] = pending.size.value_or(std::pair<std::int64_t, std::int64_t>{0, 0});
    if (pending.moveresize) {
        const std::uint32_t flags = kGravityNorthWest | (kSourcePager << 12) |
                                    (pending.position ? kMoveX | kMoveY : 0) |
                                    (pending.size ? kMoveWidth | kMoveHeight : 0);
        s.sendToWindowManager(window, TLX11Session::NetMoveresizeWindow,
                              {flags, static_cast<std::uint32_t>(static_cast<std::int32_t>(x)),
                               static_cast<std::uint32_t>(static_cast<std::int32_t>(y)),
                               static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)});
        return;
    }
    // ICCCM configure request; with NorthWest gravity x/y is the frame's top-left corner.
    std::uint16_t mask = 0;
    std::vector<std::uint32_t> values;
    if (pending.position) {
        mask |= XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y;
        values.push_back(static_cast<std::uint32_t>(static_cast<std::int32_t>(x)));
        values.push_back(static_cast<std::uint32_t>(static_cast<std::int32_t>(y)));
    }
    if (pending.size) {
        mask |= XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT;
        values.push_back(static_cast<std::uint32_t>(width));
        values.push_back(static_cast<std::uint32_t>(height));
    }
    xcb_configure_window(c, window, mask, values.data());
}

std::int32_t codeOf(const xcb_generic_error_t* error) {
    return error ? static_cast<std::int32_t>(error->error_code) : TLAccessibility::kSuccess;
}

std::optional<QString> nameOf(const std::string& raw, std::uint32_t pid) {
    // "instance\0class\0": prefer the class, which names the application.
    const std::size_t split = raw.find('\0');
    const std::string instance = raw.substr(0, split);
    std::string cls;
    if (split != std::string::npos) {
        cls = raw.substr(split + 1);
        cls = cls.substr(0, cls.find('\0'));
    }
    const std::string& best = cls.empty() ? instance : cls;
    if (!best.empty()) {
        return QString::fromLocal8Bit(best.data(), static_cast<qsizetype>(best.size()));
    }
    if (pid != 0) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        if (comm.open(QIODevice::ReadOnly)) {
            const QString name = QString::fromLocal8Bit(comm.readAll()).trimmed();
            if (!name.isEmpty()) {
                return name;
            }
        }
    }
    return std::nullopt;
}

} // namespace

TLX11Accessibility::TLX11Accessibility(std::shared_ptr<TLX11Session> session)
    : session_(std::move(session)) {}

bool TLX11Accessibility::isProcessTrusted() {
    if (!session_ || !session_->isConnected()) {
        return false;
    }
    // Asked anew every time. The same two round trips also read what the following steps of
    // a layout application need, so those steps cost no further round trip.
    return session_->fetchSnapshot().trusted;
}

void TLX11Accessibility::requestTrustPrompt() {
    // X11 has no permission to grant: nothing to prompt for.
}

std::optional<TLRunningApplication> TLX11Accessibility::frontmostApplication() {
    if (!session_ || !session_->isConnected()) {
        return std::nullopt;
    }
    const TLX11Snapshot* snapshot = session_->snapshot();
    if (!snapshot) {
        snapshot = &session_->fetchSnapshot();
    }
    if (snapshot->active == XCB_WINDOW_NONE || snapshot->activeError != kSuccess) {
        return std::nullopt; // none, or already gone
    }
    TLRunningApplication application;
    application.processIdentifier = snapshot->pid;
    application.localizedName = nameOf(snapshot->wmClass, snapshot->pid);
    application.nativeHandle = snapshot->active;
    return application;
}

TLAXElementPtr TLX11Accessibility::createApplicationElement(const TLRunningApplication& application) {
    return std::make_unique<ApplicationElement>(static_cast<xcb_window_t>(application.nativeHandle),
                                                static_cast<std::uint32_t>(application.processIdentifier));
}

std::int32_t TLX11Accessibility::copyWindow(TLAXElement& applicationElement, WindowAttribute attribute,
                                            TLAXElementPtr* window) {
    auto* application = dynamic_cast<ApplicationElement*>(&applicationElement);
    if (!application) {
        return kBadWindow;
    }
    if (!session_ || !session_->isConnected()) {
        return kConnectionLost;
    }
    TLX11Session& s = *session_;
    xcb_connection_t* c = s.connection();
    const xcb_atom_t desktop = s.atom(TLX11Session::NetWmWindowTypeDesktop);
    const xcb_atom_t dock = s.atom(TLX11Session::NetWmWindowTypeDock);
    auto isMovable = [&](const std::vector<std::uint32_t>& types) {
        return !TLX11Session::contains(types, desktop) && !TLX11Session::contains(types, dock);
    };

    if (attribute == WindowAttribute::FocusedWindow) {
        const TLX11Snapshot* snapshot = s.snapshot();
        if (snapshot && snapshot->active == application->window) {
            if (snapshot->activeError != kSuccess) {
                return snapshot->activeError;
            }
            if (isMovable(snapshot->windowTypes)) {
                auto element = std::make_unique<WindowElement>(application->window, session_);
                if (snapshot->frameError == kSuccess) {
                    element->snapshot = snapshot->frame;
                }
                element->readError = snapshot->frameError;
                *window = std::move(element);
            }
            return kSuccess;
        }
        xcb_generic_error_t* error = nullptr;
        Reply type(xcb_get_property_reply(
            c, s.requestProperty(application->window, s.atom(TLX11Session::NetWmWindowType), 32), &error));
        TLXcbError errorOwner(error);
        if (error || !type) {
            return error ? codeOf(error) : kConnectionLost;
        }
        if (isMovable(TLX11Session::values32(type.get()))) {
            *window = std::make_unique<WindowElement>(application->window, session_);
        }
        return kSuccess;
    }

    // The main window: the topmost movable client window of the same process.
    auto stackingCookie = s.requestProperty(s.root(), s.atom(TLX11Session::NetClientListStacking), 4096);
    auto listCookie = s.requestProperty(s.root(), s.atom(TLX11Session::NetClientList), 4096);
    Reply stackingReply(xcb_get_property_reply(c, stackingCookie, nullptr));
    Reply listReply(xcb_get_property_reply(c, listCookie, nullptr));
    if (!s.isConnected()) {
        return kConnectionLost;
    }
    std::vector<std::uint32_t> clients = TLX11Session::values32(stackingReply.get());
    if (clients.empty()) {
        clients = TLX11Session::values32(listReply.get());
    }
    if (application->pid == 0) {
        return kSuccess; // no process to match windows against
    }
    std::vector<std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>> cookies;
    for (std::uint32_t w : clients) {
        cookies.emplace_back(s.requestProperty(w, s.atom(TLX11Session::NetWmPid), 1),
                             s.requestProperty(w, s.atom(TLX11Session::NetWmWindowType), 32));
    }
    xcb_window_t found = XCB_WINDOW_NONE;
    for (std::size_t i = 0; i < clients.size(); ++i) { // bottom to top: the last match is topmost
        Reply pid(xcb_get_property_reply(c, cookies[i].first, nullptr));
        Reply type(xcb_get_property_reply(c, cookies[i].second, nullptr));
        const std::vector<std::uint32_t> pidValue = TLX11Session::values32(pid.get());
        if (pid && !pidValue.empty() && pidValue[0] == application->pid && type &&
            isMovable(TLX11Session::values32(type.get()))) {
            found = clients[i];
        }
    }
    if (found != XCB_WINDOW_NONE) {
        *window = std::make_unique<WindowElement>(found, session_);
    }
    return s.isConnected() ? kSuccess : kConnectionLost;
}

std::int32_t TLX11Accessibility::readFrame(TLAXElement& element) {
    auto* w = dynamic_cast<WindowElement*>(&element);
    if (!w) {
        return kBadWindow;
    }
    if (!session_ || !session_->isConnected()) {
        return kConnectionLost;
    }
    TLX11WindowFrame frame;
    const std::int32_t error = TLX11Snapshot::readFrame(*session_, w->window, &frame);
    if (error == kSuccess) {
        w->snapshot = frame;
    }
    return error;
}

std::int32_t TLX11Accessibility::copyPosition(TLAXElement& element, std::optional<TLPoint>* position) {
    auto* w = dynamic_cast<WindowElement*>(&element);
    if (!w) {
        return kBadWindow;
    }
    // The frame came with the window from a snapshot that is still current, or is read now.
    const TLX11Snapshot* current = session_ ? session_->snapshot() : nullptr;
    const bool fresh = current && current->active == w->window && (w->snapshot || w->readError != kSuccess);
    if (!fresh) {
        w->snapshot.reset();
        w->readError = readFrame(element);
    }
    if (w->readError != kSuccess || !w->snapshot) {
        return w->readError != kSuccess ? w->readError : kConnectionLost;
    }
    *position =
        TLVisibleFrames::toAccessibility(w->snapshot->outer.x, w->snapshot->outer.y, w->snapshot->primary);
    return kSuccess;
}

std::int32_t TLX11Accessibility::copySize(TLAXElement& element, std::optional<TLSize>* size) {
    auto* w = dynamic_cast<WindowElement*>(&element);
    if (!w) {
        return kBadWindow;
    }
    // The position read fetched the whole frame in one batch; read only if it did not.
    if (!w->snapshot) {
        w->readError = readFrame(element);
        if (w->readError != kSuccess) {
            return w->readError;
        }
    }
    *size =
        TLSize{static_cast<double>(w->snapshot->outer.width), static_cast<double>(w->snapshot->outer.height)};
    return kSuccess;
}

void TLX11Accessibility::restoreIfNeeded(TLAXElement& element) {
    auto* w = static_cast<WindowElement*>(&element);
    if (w->restoreDone || !w->snapshot) {
        return;
    }
    w->restoreDone = true;
    const TLX11WindowFrame before = *w->snapshot;
    if (!before.maximized && !before.fullscreen && !before.shaded) {
        return;
    }
    TLX11Session& s = *session_;
    xcb_connection_t* c = s.connection();
    s.watchWindow(w->window); // the confirmations arrive as property and structure events

    auto sendState = [&](xcb_atom_t first, xcb_atom_t second) {
        s.sendToWindowManager(w->window, TLX11Session::NetWmState,
                              {kStateRemove, first, second, kSourcePager, 0});
    };
    if (before.maximized) {
        sendState(s.atom(TLX11Session::NetWmStateMaximizedVert),
                  s.atom(TLX11Session::NetWmStateMaximizedHorz));
    }
    if (before.fullscreen) {
        sendState(s.atom(TLX11Session::NetWmStateFullscreen), XCB_ATOM_NONE);
    }
    if (before.shaded) {
        sendState(s.atom(TLX11Session::NetWmStateShaded), XCB_ATOM_NONE);
    }

    // Confirmed when the state no longer holds any of them and, where the state changed the
    // decorations (maximized, fullscreen), the frame extents were republished; a window that goes
    // away ends the wait. Shading keeps the extents, so waiting for new ones would only stall.
    const bool newExtentsDue = before.maximized || before.fullscreen;
    bool stateCleared = false;
    bool extentsChanged = false;
    bool gone = false;
    auto stillRestricted = [&] {
        Reply state(xcb_get_property_reply(
            c, s.requestProperty(w->window, s.atom(TLX11Session::NetWmState), 32), nullptr));
        const std::vector<std::uint32_t> states = TLX11Session::values32(state.get());
        return TLX11Session::contains(states, s.atom(TLX11Session::NetWmStateMaximizedVert)) ||
               TLX11Session::contains(states, s.atom(TLX11Session::NetWmStateMaximizedHorz)) ||
               TLX11Session::contains(states, s.atom(TLX11Session::NetWmStateFullscreen)) ||
               TLX11Session::contains(states, s.atom(TLX11Session::NetWmStateShaded));
    };
    auto accept = [&](const xcb_generic_event_t& event) {
        switch (event.response_type & 0x7f) {
        case XCB_PROPERTY_NOTIFY: {
            const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(event);
            if (p.window == w->window && p.atom == s.atom(TLX11Session::NetWmState)) {
                stateCleared = !stillRestricted();
            } else if (p.window == w->window && p.atom == s.atom(TLX11Session::NetFrameExtents)) {
                // Only a new value counts: a late notice of the old state's extents does not.
                Reply extents(xcb_get_property_reply(
                    c, s.requestProperty(w->window, s.atom(TLX11Session::NetFrameExtents), 4), nullptr));
                const std::vector<std::uint32_t> v = TLX11Session::values32(extents.get());
                extentsChanged = v.size() == 4 && !std::equal(v.begin(), v.end(), before.frame.begin());
            }
            break;
        }
        case XCB_DESTROY_NOTIFY:
            gone = gone || reinterpret_cast<const xcb_destroy_notify_event_t&>(event).window == w->window;
            break;
        case 0: // an error: the window is gone
            gone = gone || reinterpret_cast<const xcb_generic_error_t&>(event).error_code == XCB_WINDOW;
            break;
        default:
            break;
        }
        return gone || (stateCleared && (extentsChanged || !newExtentsDue));
    };
    s.waitForEvent(accept, kRestoreTimeout);
    if (newExtentsDue && stateCleared && !extentsChanged && !gone) {
        // Some window managers keep the same extents; give them a short moment only.
        s.waitForEvent(accept, std::chrono::milliseconds(100));
    }
    if (!gone) {
        readFrame(element); // fresh extents for the writes
    }
}

void TLX11Accessibility::moveResize(TLAXElement& element, std::optional<TLPoint> position,
                                    std::optional<TLSize> size) {
    auto* w = dynamic_cast<WindowElement*>(&element);
    if (!w || !session_ || !session_->isConnected()) {
        return;
    }
    if (!w->snapshot && readFrame(element) != kSuccess) {
        return;
    }
    restoreIfNeeded(element);
    session_->invalidateSnapshot(); // the geometry changes now
    const TLX11WindowFrame& f = *w->snapshot;

    auto whole = [](double v) {
        return std::isfinite(v) ? static_cast<std::int64_t>(std::llround(std::clamp(v, -1e9, 1e9))) : 0;
    };
    // Positions place the visible frame: the window manager's frame starts the shadow earlier.
    std::int64_t x = 0, y = 0, width = 0, height = 0;
    if (position) {
        x = whole(position->x) + f.primary.x - f.shadow[0];
        y = whole(position->y) + f.primary.y - f.shadow[2];
    }
    // Sizes are the client's: the visible frame less the decorations plus the shadow.
    if (size) {
        width = std::clamp<std::int64_t>(
            whole(size->width) - f.frame[0] - f.frame[1] + f.shadow[0] + f.shadow[1], 1, 32767);
        height = std::clamp<std::int64_t>(
            whole(size->height) - f.frame[2] - f.frame[3] + f.shadow[2] + f.shadow[3], 1, 32767);
    }

    if (position) {
        w->pending.position = std::pair{x, y};
    }
    if (size) {
        w->pending.size = std::pair{width, height};
    }
    w->pending.moveresize = f.moveresize;
}

void TLX11Accessibility::setPosition(TLAXElement& window, TLPoint position) {
    moveResize(window, position, std::nullopt);
}

void TLX11Accessibility::setSize(TLAXElement& window, TLSize size) {
    moveResize(window, std::nullopt, size);
}
