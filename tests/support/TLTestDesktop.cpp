#include "TLTestDesktop.h"

#include <xcb/randr.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#ifndef TL_TEST_SUPPORT_DIR
#error "TL_TEST_SUPPORT_DIR must name the folder with the desktop configuration files"
#endif
#ifndef TL_TEST_CLIENT_PATH
#error "TL_TEST_CLIENT_PATH must name the test client program"
#endif

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

const std::vector<TLTestDesktop::Monitor>& TLTestDesktop::monitors() {
    static const std::vector<Monitor> list = {
        {"RIGHT", 1440, 0, 1920, 1080, true},
        {"LEFT", 0, 180, 1440, 900, false},
    };
    return list;
}

bool TLTestDesktop::fail(std::string* error, const std::string& message) {
    if (error) {
        *error = message + "\n" + logs();
    }
    stop();
    return false;
}

bool TLTestDesktop::start(const Options& options, std::string* error) {
    stop();
    std::string pattern = (std::filesystem::temp_directory_path() / "tl-desktop-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        return fail(error, std::string("mkdtemp: ") + std::strerror(errno));
    }
    tempDir_ = pattern;
    return startServer(error) && defineMonitors(error) &&
           (!options.windowManager || startWindowManager(error)) &&
           (!options.windowManager || !options.panel || startPanel(error));
}

void TLTestDesktop::stop() {
    // Clients of the server first, the server last; each is reaped before the next goes.
    panel_.reset();
    windowManager_.reset();
    atoms_.clear();
    connection_.reset();
    server_.reset();
    root_ = XCB_WINDOW_NONE;
    displayName_.clear();
    if (!tempDir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(tempDir_, ignored);
        tempDir_.clear();
    }
}

std::vector<std::string> TLTestDesktop::displayEnvironment() const {
    return {"DISPLAY=" + displayName_, "XDG_CACHE_HOME=" + tempDir_ + "/cache",
            "XDG_CONFIG_HOME=" + tempDir_ + "/config"};
}

bool TLTestDesktop::startServer(std::string* error) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return fail(error, std::string("pipe: ") + std::strerror(errno));
    }
    TLTestProcess::Options options;
    options.inheritAsFd3 = fds[1];
    options.logPath = tempDir_ + "/Xvfb.log";
    std::string why;
    server_ =
        TLTestProcess::start({"Xvfb", "-displayfd", "3", "-screen", "0",
                              std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24",
                              "-nolisten", "tcp", "-noreset"},
                             options, &why);
    close(fds[1]);
    if (!server_) {
        close(fds[0]);
        return fail(error, "cannot start Xvfb: " + why);
    }
    // Xvfb writes its display number and a newline once it accepts connections. poll() bounds
    // every read, so a server that never answers cannot stall the test.
    std::string number;
    const auto deadline = Clock::now() + kDefaultTimeout;
    for (char c = 0; c != '\n';) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd p{fds[0], POLLIN, 0};
        const int ready = left.count() > 0 ? poll(&p, 1, int(left.count())) : 0;
        if (ready == 0 || (ready < 0 && errno != EINTR) || (ready > 0 && read(fds[0], &c, 1) != 1)) {
            break;
        }
        if (ready > 0) {
            number.push_back(c);
        }
    }
    close(fds[0]);
    if (number.empty() || number.back() != '\n') {
        return fail(error, "Xvfb did not report a display");
    }
    number.pop_back();
    displayName_ = ":" + number;
    // ":N" names screen 0, the only one Xvfb was given.
    connection_.reset(xcb_connect(displayName_.c_str(), nullptr));
    if (xcb_connection_has_error(connection())) {
        return fail(error, "cannot connect to " + displayName_);
    }
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root;
    return true;
}

bool TLTestDesktop::defineMonitors(std::string* error) {
    // The first monitor is tied to Xvfb's single output so no third "screen" monitor stays.
    for (const Monitor& m : {monitors()[1], monitors()[0]}) {
        // Physical sizes give both monitors about 96 dpi.
        std::ostringstream geometry;
        geometry << m.width << "/" << m.width * 254 / 960 << "x" << m.height << "/" << m.height * 254 / 960
                 << "+" << m.x << "+" << m.y;
        std::string output;
        auto status = TLTestProcess::run({"xrandr", "--setmonitor", (m.primary ? "*" : "") + m.name,
                                          geometry.str(), m.primary ? "none" : "screen"},
                                         displayEnvironment(), &output, kDefaultTimeout);
        if (status != 0) {
            return fail(error, "xrandr --setmonitor " + m.name + " failed: " + output);
        }
    }
    bool ready = waitUntil([&] {
        TLXcbReply<xcb_randr_get_monitors_reply_t> reply(xcb_randr_get_monitors_reply(
            connection(), xcb_randr_get_monitors(connection(), root_, 1), nullptr));
        if (!reply) {
            return false;
        }
        std::vector<std::array<int, 5>> found, want;
        for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem;
             xcb_randr_monitor_info_next(&it)) {
            found.push_back({it.data->x, it.data->y, it.data->width, it.data->height, it.data->primary});
        }
        for (const Monitor& m : monitors()) {
            want.push_back({m.x, m.y, m.width, m.height, m.primary});
        }
        return std::is_permutation(found.begin(), found.end(), want.begin(), want.end());
    });
    return ready || fail(error, "the RandR monitors did not appear");
}

bool TLTestDesktop::startPart(std::unique_ptr<TLTestProcess>& part, const std::vector<std::string>& argv,
                              std::string* error) {
    TLTestProcess::Options options;
    options.environment = displayEnvironment();
    options.logPath = tempDir_ + "/" + argv[0] + ".log";
    std::string why;
    part = TLTestProcess::start(argv, options, &why);
    return part || fail(error, "cannot start " + argv[0] + ": " + why);
}

bool TLTestDesktop::startWindowManager(std::string* error) {
    if (!startPart(windowManager_,
                   {"openbox", "--sm-disable", "--config-file",
                    std::string(TL_TEST_SUPPORT_DIR) + "/openbox-rc.xml"},
                   error)) {
        return false;
    }
    // Ready when the supporting-WM check window exists and points at itself.
    bool ready = waitUntil([&] {
        const std::vector<uint32_t> check = cardinals(root_, "_NET_SUPPORTING_WM_CHECK");
        return windowManager_->running() && check.size() == 1 &&
               cardinals(check[0], "_NET_SUPPORTING_WM_CHECK") == check;
    });
    if (!ready) {
        return fail(error, "openbox did not become ready");
    }
    // The check window appears while openbox is still starting up, and a window mapped then can
    // be lost for good (its map request is dropped, the window never appears). Only a window it
    // has really framed proves that it manages new clients: map probes until one is framed.
    bool managing = false;
    const auto deadline = Clock::now() + 10s;
    while (!managing && Clock::now() < deadline) {
        const xcb_window_t probe = xcb_generate_id(connection());
        xcb_create_window(connection(), XCB_COPY_FROM_PARENT, probe, root_, 0, 0, 16, 16, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_map_window(connection(), probe);
        xcb_flush(connection());
        managing = waitUntil(
            [&] {
                TLXcbReply<xcb_query_tree_reply_t> tree(
                    xcb_query_tree_reply(connection(), xcb_query_tree(connection(), probe), nullptr));
                return tree && tree->parent != root_;
            },
            250ms);
        xcb_destroy_window(connection(), probe);
        xcb_flush(connection());
    }
    return managing || fail(error, "openbox does not manage new windows");
}

bool TLTestDesktop::startPanel(std::string* error) {
    if (!startPart(panel_, {"tint2", "-c", std::string(TL_TEST_SUPPORT_DIR) + "/tint2rc"}, error)) {
        return false;
    }
    const xcb_atom_t tray = atom("_NET_SYSTEM_TRAY_S0");
    bool ready = waitUntil([&] {
        TLXcbReply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
            connection(), xcb_get_selection_owner(connection(), tray), nullptr));
        const std::vector<uint32_t> workarea = cardinals(root_, "_NET_WORKAREA");
        return panel_->running() && owner && owner->owner != XCB_WINDOW_NONE && workarea.size() >= 4 &&
               workarea[3] == uint32_t(kScreenHeight - kPanelHeight);
    });
    return ready || fail(error, "tint2 did not become ready");
}

void TLTestDesktop::setDisplayEnvironment() const {
    setenv("DISPLAY", displayName_.c_str(), 1);
}

std::unique_ptr<TLTestProcess> TLTestDesktop::launch(const std::vector<std::string>& argv,
                                                     std::string* error) {
    TLTestProcess::Options options;
    options.environment = displayEnvironment();
    return TLTestProcess::start(argv, options, error);
}

std::string TLTestDesktop::testClientPath() {
    return TL_TEST_CLIENT_PATH;
}

std::unique_ptr<TLTestProcess> TLTestDesktop::launchTestClient(const std::string& title,
                                                               const std::string& wmClass, int width,
                                                               int height,
                                                               const std::vector<std::string>& extraArgs) {
    std::vector<std::string> argv = {testClientPath(),
                                     "--title",
                                     title,
                                     "--class",
                                     wmClass,
                                     "--size",
                                     std::to_string(width) + "x" + std::to_string(height)};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    return launch(argv);
}

bool TLTestDesktop::waitUntil(const std::function<bool()>& cond, std::chrono::milliseconds timeout) {
    for (const auto deadline = Clock::now() + timeout; !cond(); std::this_thread::sleep_for(5ms)) {
        if (Clock::now() >= deadline) {
            return false;
        }
    }
    return true;
}

xcb_atom_t TLTestDesktop::atom(const std::string& name) const {
    if (auto it = atoms_.find(name); it != atoms_.end()) {
        return it->second;
    }
    TLXcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection(), xcb_intern_atom(connection(), 0, uint16_t(name.size()), name.c_str()), nullptr));
    return atoms_[name] = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

TLXcbReply<xcb_get_property_reply_t> TLTestDesktop::property(xcb_window_t window,
                                                             const std::string& name) const {
    return TLXcbReply<xcb_get_property_reply_t>(xcb_get_property_reply(
        connection(),
        xcb_get_property(connection(), 0, window, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 4096), nullptr));
}

std::vector<uint32_t> TLTestDesktop::cardinals(xcb_window_t window, const std::string& name) const {
    auto reply = property(window, name);
    if (!reply || reply->format != 32) {
        return {};
    }
    auto* data = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    return std::vector<uint32_t>(data, data + xcb_get_property_value_length(reply.get()) / 4);
}

std::string TLTestDesktop::text(xcb_window_t window, const std::string& name) const {
    auto reply = property(window, name);
    if (!reply || reply->format != 8) {
        return {};
    }
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                       static_cast<size_t>(xcb_get_property_value_length(reply.get())));
}

std::vector<std::string> TLTestDesktop::wmClass(xcb_window_t window) const {
    // "instance\0class\0"
    std::vector<std::string> parts;
    std::istringstream in(text(window, "WM_CLASS"));
    for (std::string part; std::getline(in, part, '\0');) {
        parts.push_back(part);
    }
    return parts;
}

std::vector<xcb_window_t> TLTestDesktop::clientList() const {
    return cardinals(root_, "_NET_CLIENT_LIST"); // xcb_window_t is uint32_t
}

xcb_window_t TLTestDesktop::activeWindow() const {
    std::vector<uint32_t> active = cardinals(root_, "_NET_ACTIVE_WINDOW");
    return active.empty() ? xcb_window_t(XCB_WINDOW_NONE) : active[0];
}

xcb_window_t TLTestDesktop::waitForWindow(const WindowMatch& match, std::chrono::milliseconds timeout) {
    auto matches = [&](xcb_window_t w) {
        const std::string title = text(w, "_NET_WM_NAME");
        const std::vector<std::string> classes = wmClass(w);
        const std::vector<uint32_t> pid = cardinals(w, "_NET_WM_PID");
        return (match.title.empty() || match.title == (title.empty() ? text(w, "WM_NAME") : title)) &&
               (match.wmClass.empty() ||
                std::find(classes.begin(), classes.end(), match.wmClass) != classes.end()) &&
               (!match.pid || (!pid.empty() && static_cast<pid_t>(pid[0]) == *match.pid)) &&
               // Managed and framed: the window manager has published its frame extents.
               cardinals(w, "_NET_FRAME_EXTENTS").size() == 4;
    };
    xcb_window_t found = XCB_WINDOW_NONE;
    waitUntil(
        [&] {
            const std::vector<xcb_window_t> clients = clientList();
            const auto it = std::find_if(clients.begin(), clients.end(), matches);
            found = it == clients.end() ? xcb_window_t(XCB_WINDOW_NONE) : *it;
            return found != XCB_WINDOW_NONE;
        },
        timeout);
    return found;
}

void TLTestDesktop::sendClientMessage(xcb_window_t window, const std::string& type,
                                      std::array<uint32_t, 5> data) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom(type);
    std::copy(data.begin(), data.end(), event.data.data32);
    xcb_send_event(connection(), 0, root_,
                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection());
}

bool TLTestDesktop::activate(xcb_window_t window, std::chrono::milliseconds timeout) {
    // From a pager: honoured without focus-stealing checks.
    sendClientMessage(window, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0, 0, 0});
    return waitUntil([&] { return activeWindow() == window; }, timeout);
}

std::optional<TLTestDesktop::Frame> TLTestDesktop::outerFrame(xcb_window_t window) const {
    auto geometryCookie = xcb_get_geometry(connection(), window);
    auto translateCookie = xcb_translate_coordinates(connection(), window, root_, 0, 0);
    TLXcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection(), geometryCookie, nullptr));
    TLXcbReply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(connection(), translateCookie, nullptr));
    if (!geometry || !origin) {
        return std::nullopt;
    }
    // Window-manager frame outside, client-side shadow inside: left, right, top, bottom.
    auto four = [&](const char* name) {
        std::vector<uint32_t> v = cardinals(window, name);
        v.resize(4, 0);
        return std::array<int, 4>{int(v[0]), int(v[1]), int(v[2]), int(v[3])};
    };
    const auto [el, er, et, eb] = four("_NET_FRAME_EXTENTS");
    const auto [sl, sr, st, sb] = four("_GTK_FRAME_EXTENTS");
    return Frame{origin->dst_x - el + sl, origin->dst_y - et + st, geometry->width + el + er - sl - sr,
                 geometry->height + et + eb - st - sb};
}

std::string TLTestDesktop::logs() const {
    std::string all;
    for (const char* name : {"Xvfb.log", "openbox.log", "tint2.log"}) {
        std::ifstream in(tempDir_ + "/" + name);
        const std::string s{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        if (!tempDir_.empty() && !s.empty()) {
            all += std::string("--- ") + name + "\n" + s.substr(s.size() > 2000 ? s.size() - 2000 : 0) + "\n";
        }
    }
    return all;
}
