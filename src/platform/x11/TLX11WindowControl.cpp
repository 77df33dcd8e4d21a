#include "TLX11WindowControl.h"

#include "TLX11Connection.h"

#include <QFile>

#include <string>

namespace {

std::uint32_t first(const std::vector<std::uint32_t>& values) {
    return values.empty() ? 0 : values.front();
}

std::optional<QString> nameOf(const xcb_get_property_reply_t* wmClass, std::uint32_t pid) {
    // "instance\0class\0": prefer the class, which names the application.
    std::string raw;
    if (wmClass != nullptr && wmClass->format == 8) {
        raw.assign(
            static_cast<const char*>(xcb_get_property_value(const_cast<xcb_get_property_reply_t*>(wmClass))),
            static_cast<std::size_t>(std::max(0, xcb_get_property_value_length(wmClass))));
    }
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

TLX11WindowControl::TLX11WindowControl(TLX11Connection& connection, const TLLog* log)
    : connection_(connection), desktop_(connection), writer_(connection, desktop_, log) {}

bool TLX11WindowControl::isTrusted() {
    if (!connection_.isConnected()) {
        return false;
    }
    desktop_.update();
    return desktop_.hasWindowManager() && desktop_.supports(TLX11Atom::NetActiveWindow);
}

void TLX11WindowControl::requestTrust() {
    // X11 has no permission to grant: nothing to prompt for.
}

TLFrontmostWindow TLX11WindowControl::readFrontmostWindow() {
    TLFrontmostWindow front;
    lastRead_.reset();
    if (!connection_.isConnected()) {
        return front;
    }
    desktop_.update();
    const TLX11DesktopState::Layout& layout = desktop_.layout();
    if (!layout.monitors.empty()) {
        front.displays = TLVisibleFrames::toDisplays(layout.monitors, layout.visible, layout.primary);
        front.mainDisplay = 0; // X11 has no key-window display of its own; the primary stands in
    }
    const auto isMovable = [this](const std::vector<std::uint32_t>& types) {
        return !connection_.contains(types, TLX11Atom::NetWmWindowTypeDesktop) &&
               !connection_.contains(types, TLX11Atom::NetWmWindowTypeDock);
    };
    xcb_window_t active = desktop_.activeWindow();
    if (active == XCB_WINDOW_NONE) {
        // Nothing to read along with the check: ask directly.
        active = first(TLX11Connection::values32(
            connection_
                .property(connection_.requestProperty(connection_.root(), TLX11Atom::NetActiveWindow, 1))
                .get()));
        desktop_.setActiveWindow(active);
    }
    // The events may lag behind: the same round trip checks that the window is still active,
    // and a second one reads the window that is.
    for (int attempt = 0; attempt < 2 && active != XCB_WINDOW_NONE; ++attempt) {
        const auto activeCookie =
            connection_.requestProperty(connection_.root(), TLX11Atom::NetActiveWindow, 1);
        const auto classCookie = connection_.requestProperty(active, XCB_ATOM_WM_CLASS, 256);
        const auto pidCookie = connection_.requestProperty(active, TLX11Atom::NetWmPid, 1);
        const auto typeCookie = connection_.requestProperty(active, TLX11Atom::NetWmWindowType, 32);
        const TLX11FrameRequest frameRequest(connection_, active);

        const xcb_window_t nowActive =
            first(TLX11Connection::values32(connection_.property(activeCookie).get()));
        std::int32_t error = 0;
        const auto wmClass = connection_.property(classCookie, &error);
        const auto pid = connection_.property(pidCookie, &error);
        const auto type = connection_.property(typeCookie, &error);
        TLX11WindowFrame frame;
        const std::int32_t frameError = frameRequest.collect(connection_, &frame);
        if (nowActive != active) {
            desktop_.setActiveWindow(nowActive);
            active = nowActive;
            continue;
        }
        if (error != 0) {
            break; // the window is gone: no frontmost application
        }
        const std::uint32_t processId = first(TLX11Connection::values32(pid.get()));
        front.hasApplication = true;
        front.applicationName = nameOf(wmClass.get(), processId);
        if (isMovable(TLX11Connection::values32(type.get()))) {
            takeFrame(active, frameError, frame, &front);
        } else {
            front.windowError = readMainWindow(active, processId, &front);
        }
        break;
    }
    return front;
}

void TLX11WindowControl::takeFrame(xcb_window_t window, std::int32_t error, const TLX11WindowFrame& frame,
                                   TLFrontmostWindow* front) {
    front->window = window;
    if (error != 0) {
        return;
    }
    const TLX11Rect outer = writer_.pendingFrame(window).value_or(frame.outer);
    const TLPoint origin = TLVisibleFrames::toAccessibility(outer.x, outer.y, desktop_.primaryMonitor());
    front->frame =
        TLRect{origin.x, origin.y, static_cast<double>(outer.width), static_cast<double>(outer.height)};
    lastRead_.emplace(window, frame);
}

std::int32_t TLX11WindowControl::readMainWindow(xcb_window_t active, std::uint32_t pid,
                                                TLFrontmostWindow* front) {
    // The topmost movable client window of the same process.
    const auto stackingCookie =
        connection_.requestProperty(connection_.root(), TLX11Atom::NetClientListStacking, 1u << 16);
    const auto listCookie =
        connection_.requestProperty(connection_.root(), TLX11Atom::NetClientList, 1u << 16);
    std::vector<std::uint32_t> clients =
        TLX11Connection::values32(connection_.property(stackingCookie).get());
    const std::vector<std::uint32_t> list = TLX11Connection::values32(connection_.property(listCookie).get());
    if (!connection_.isConnected()) {
        return kConnectionLost;
    }
    if (clients.empty()) {
        clients = list;
    }
    if (pid == 0) {
        return 0; // no process to match windows against
    }
    std::vector<std::pair<xcb_get_property_cookie_t, xcb_get_property_cookie_t>> cookies;
    cookies.reserve(clients.size());
    for (std::uint32_t w : clients) {
        cookies.emplace_back(connection_.requestProperty(w, TLX11Atom::NetWmPid, 1),
                             connection_.requestProperty(w, TLX11Atom::NetWmWindowType, 32));
    }
    xcb_window_t found = XCB_WINDOW_NONE;
    for (std::size_t i = 0; i < clients.size(); ++i) { // bottom to top: the last match is topmost
        const auto windowPid = connection_.property(cookies[i].first);
        const auto type = connection_.property(cookies[i].second);
        const std::vector<std::uint32_t> types = TLX11Connection::values32(type.get());
        if (clients[i] != active && windowPid && first(TLX11Connection::values32(windowPid.get())) == pid &&
            type && !connection_.contains(types, TLX11Atom::NetWmWindowTypeDesktop) &&
            !connection_.contains(types, TLX11Atom::NetWmWindowTypeDock)) {
            found = clients[i];
        }
    }
    if (found != XCB_WINDOW_NONE) {
        TLX11WindowFrame frame;
        const std::int32_t error = TLX11FrameRequest(connection_, found).collect(connection_, &frame);
        takeFrame(found, error, frame, front);
    }
    return connection_.isConnected() ? 0 : kConnectionLost;
}

std::optional<TLPoint> TLX11WindowControl::mouseLocation() {
    if (!connection_.isConnected()) {
        return std::nullopt;
    }
    xcb_connection_t* c = connection_.get();
    TLXcbReply<xcb_query_pointer_reply_t> pointer(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, connection_.root()), nullptr));
    desktop_.update();
    const TLX11Rect primary = desktop_.primaryMonitor();
    if (!pointer || primary.isEmpty()) {
        return std::nullopt;
    }
    // A point, not a box: y counts up from the primary monitor's bottom edge.
    return TLPoint{static_cast<double>(pointer->root_x - primary.x),
                   static_cast<double>(primary.maxY() - pointer->root_y)};
}

bool TLX11WindowControl::setFrame(std::uint64_t handle, TLIntPoint position, TLIntSize size,
                                  QString* /*failure*/) {
    if (!connection_.isConnected()) {
        return true;
    }
    desktop_.update(); // the primary monitor anchors the position
    const auto window = static_cast<xcb_window_t>(handle);
    TLX11WindowFrame frame;
    if (lastRead_ && lastRead_->first == window) {
        frame = lastRead_->second;
    } else if (TLX11FrameRequest(connection_, window).collect(connection_, &frame) != 0) {
        return true; // gone
    }
    lastRead_.reset();
    writer_.setFrame(window, frame, position, size);
    return true;
}
