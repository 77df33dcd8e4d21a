#include "TLTestDesktop.h"
#include "TLTest.h"

#include <sys/prctl.h>

#include <csignal>
#include <cstring>
#include <sstream>

using namespace std::chrono_literals;

void TLTestDesktop::Stop::operator()(QProcess* p) const {
    if (p->state() != QProcess::NotRunning) {
        p->closeWriteChannel();
        p->terminate();
        if (!p->waitForFinished(3000)) {
            p->kill();
            p->waitForFinished();
        }
    }
    delete p;
}

TLTestDesktop::Process TLTestDesktop::launchWith(const QStringList& environment, const QStringList& argv,
                                                 const QString& logPath) {
    Process p(new QProcess);
    p->setEnvironment(QProcessEnvironment::systemEnvironment().toStringList() + environment);
    // Never outlive the test, even when it crashes.
    p->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    p->setStandardOutputFile(logPath.isEmpty() ? QProcess::nullDevice() : logPath);
    p->setProcessChannelMode(QProcess::MergedChannels);
    p->start(argv.first(), argv.mid(1));
    return p->waitForStarted() ? std::move(p) : nullptr;
}

int TLTestDesktop::runWith(const QStringList& environment, const QStringList& argv, std::string* output) {
    QProcess p;
    p.setEnvironment(QProcessEnvironment::systemEnvironment().toStringList() + environment);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(argv.first(), argv.mid(1));
    const bool finished = p.waitForFinished(10000);
    if (output) {
        *output += p.readAll().toStdString();
    }
    return finished && p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

TLTestDesktop::Process TLTestDesktop::serve(const QStringList& arguments, const QString& logPath,
                                            QString* line) {
    Process script(new QProcess);
    script->setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
    script->setStandardErrorFile(logPath);
    script->start("bash", arguments);
    waitUntil(
        [&] {
            script->waitForReadyRead(50);
            return script->canReadLine() || script->state() == QProcess::NotRunning;
        },
        30s);
    *line = script->canReadLine() ? QString::fromUtf8(script->readLine()).trimmed() : QString();
    return script;
}

TLTestDesktop::Process TLTestDesktop::launch(const QStringList& argv, const QStringList& environment,
                                             const QString& logPath) {
    return launchWith(QStringList{QString::fromStdString("DISPLAY=" + display_)} + environment, argv,
                      logPath);
}

TLTestDesktop::Process TLTestDesktop::launchTestClient(const std::string& title, const std::string& wmClass,
                                                       int width, int height, const QStringList& extra) {
    return launch(QStringList{TL_TEST_CLIENT_PATH, "--title", QString::fromStdString(title), "--class",
                              QString::fromStdString(wmClass), "--size",
                              QStringLiteral("%1x%2").arg(width).arg(height)} +
                  extra);
}

int TLTestDesktop::run(const QStringList& argv, std::string* output, const QStringList& environment) {
    return runWith(QStringList{QString::fromStdString("DISPLAY=" + display_)} + environment, argv, output);
}

TLTestDesktop& tlDesktop() {
    static TLTestDesktop desktop;
    std::string error;
    if (!desktop.connection()) {
        // The window manager the binary's tests run with.
        const std::string wm = qEnvironmentVariable("TL_TEST_WM", QStringLiteral("openbox")).toStdString();
        std::printf("[ desktop  ] window manager: %s\n", wm.c_str());
        if (!desktop.start(&error, wm)) {
            std::fprintf(stderr, "%s\n", error.c_str());
        }
    }
    qputenv("DISPLAY", desktop.displayName().c_str());
    return desktop;
}

bool TLTestDesktop::start(std::string* error, const std::string& windowManager) {
    stop();
    QTemporaryDir folder(QDir::tempPath() + "/tl-desktop-XXXXXX");
    folder.setAutoRemove(false);
    folder_ = folder.path().toStdString();
    // "DISPLAY XVFB_PID" once every part is ready; the desktop stays up while stdin is open.
    QString ready;
    script_ = serve({TL_DESKTOP_SCRIPT, "serve", folder.path(), QString::fromStdString(windowManager)},
                    folder.filePath("desktop.log"), &ready);
    std::istringstream line(ready.toStdString());
    line >> display_ >> serverPid_;
    connection_.reset(!display_.empty() ? xcb_connect(display_.c_str(), nullptr) : nullptr);
    if (!connection_ || xcb_connection_has_error(connection())) {
        if (error) {
            *error = "the test desktop did not come up\n" + logs();
        }
        stop();
        return false;
    }
    root_ = xcb_setup_roots_iterator(xcb_get_setup(connection())).data->root;
    windowManager_ = windowManager;
    return true;
}

void TLTestDesktop::stop() {
    connection_.reset();
    script_.reset(); // closes its input: the script ends the desktop, server last
    root_ = XCB_WINDOW_NONE;
    display_.clear();
    windowManager_.clear();
    serverPid_ = 0;
    if (!folder_.empty()) {
        QDir(QString::fromStdString(folder_)).removeRecursively();
        folder_.clear();
    }
}

bool TLTestDesktop::waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    for (const auto deadline = std::chrono::steady_clock::now() + timeout; !condition();
         std::this_thread::sleep_for(5ms)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
    }
    return true;
}

xcb_atom_t TLTestDesktop::atom(const std::string& name) const {
    return tlInternAtoms(connection(), {name}).front();
}

std::string TLTestDesktop::property(xcb_window_t window, const std::string& name, int format) const {
    TLXcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        connection(),
        xcb_get_property(connection(), 0, window, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 4096), nullptr));
    return reply && reply->format == format
               ? std::string(static_cast<const char*>(xcb_get_property_value(reply.get())),
                             std::size_t(xcb_get_property_value_length(reply.get())))
               : std::string();
}

std::vector<uint32_t> TLTestDesktop::cardinals(xcb_window_t window, const std::string& name) const {
    const std::string bytes = property(window, name, 32);
    std::vector<uint32_t> values(bytes.size() / 4);
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::memcpy(&values[i], bytes.data() + 4 * i, 4); // never with the null data of an empty vector
    }
    return values;
}

std::vector<std::string> TLTestDesktop::wmClass(xcb_window_t window) const {
    std::vector<std::string> parts; // "instance\0class\0"
    std::istringstream in(text(window, "WM_CLASS"));
    for (std::string part; std::getline(in, part, '\0');) {
        parts.push_back(part);
    }
    return parts;
}

xcb_window_t TLTestDesktop::activeWindow() const {
    const std::vector<uint32_t> active = cardinals(root_, "_NET_ACTIVE_WINDOW");
    return active.empty() ? xcb_window_t(XCB_WINDOW_NONE) : active[0];
}

xcb_window_t TLTestDesktop::waitForWindow(const std::string& title, std::chrono::milliseconds timeout) {
    xcb_window_t found = XCB_WINDOW_NONE;
    waitUntil(
        [&] {
            for (xcb_window_t w : clientList()) {
                // Framed: the window manager has published its frame extents.
                const std::string name = text(w, "_NET_WM_NAME");
                if ((name.empty() ? text(w, "WM_NAME") : name) == title &&
                    cardinals(w, "_NET_FRAME_EXTENTS").size() == 4) {
                    return (found = w) != XCB_WINDOW_NONE;
                }
            }
            return false;
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

bool TLTestDesktop::waitForRest(xcb_window_t window, std::chrono::milliseconds still) {
    Frame last;
    auto since = std::chrono::steady_clock::now();
    return waitUntil([&] {
        if (const Frame now = outerFrame(window).value_or(last); now != last) {
            last = now;
            since = std::chrono::steady_clock::now();
        }
        return std::chrono::steady_clock::now() - since >= still;
    });
}

bool TLTestDesktop::activate(xcb_window_t window) {
    sendClientMessage(window, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0, 0, 0});
    return waitUntil([&] { return activeWindow() == window; });
}

std::optional<TLTestDesktop::Frame> TLTestDesktop::outerFrame(xcb_window_t window) const {
    auto geometryCookie = xcb_get_geometry(connection(), window);
    auto originCookie = xcb_translate_coordinates(connection(), window, root_, 0, 0);
    TLXcbReply<xcb_get_geometry_reply_t> g(xcb_get_geometry_reply(connection(), geometryCookie, nullptr));
    TLXcbReply<xcb_translate_coordinates_reply_t> o(
        xcb_translate_coordinates_reply(connection(), originCookie, nullptr));
    if (!g || !o) {
        return std::nullopt;
    }
    std::vector<uint32_t> e = cardinals(window, "_NET_FRAME_EXTENTS"),
                          s = cardinals(window, "_GTK_FRAME_EXTENTS");
    e.resize(4, 0);
    s.resize(4, 0); // left, right, top, bottom
    return Frame{o->dst_x - int(e[0]) + int(s[0]), o->dst_y - int(e[2]) + int(s[2]),
                 g->width + int(e[0] + e[1]) - int(s[0] + s[1]),
                 g->height + int(e[2] + e[3]) - int(s[2] + s[3])};
}

std::string TLTestDesktop::logsIn(const QString& folder) {
    std::string all;
    for (const QFileInfo& log : QDir(folder).entryInfoList({"*.log"})) {
        all +=
            "--- " + log.fileName().toStdString() + "\n" + tlRead(log.filePath()).right(2000).toStdString();
    }
    return all;
}
