#include "TLSwayDesktop.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TLSwayDesktop::Rect rectOf(const QJsonObject& node, const char* key = "rect") {
    const QJsonObject r = node.value(QLatin1String(key)).toObject();
    return {r.value("x").toInteger(), r.value("y").toInteger(), r.value("width").toInteger(),
            r.value("height").toInteger()};
}

// Depth first through nodes and floating nodes.
std::optional<QJsonObject> findNode(const QJsonObject& node,
                                    const std::function<bool(const QJsonObject&)>& match) {
    if (match(node)) {
        return node;
    }
    for (const char* list : {"nodes", "floating_nodes"}) {
        for (const QJsonValue& child : node.value(QLatin1String(list)).toArray()) {
            if (auto found = findNode(child.toObject(), match)) {
                return found;
            }
        }
    }
    return std::nullopt;
}

} // namespace

const std::vector<TLSwayDesktop::Output>& TLSwayDesktop::outputs() {
    // No output at the layout's origin: the first one anchors Tilora's coordinates.
    static const std::vector<Output> list = {
        {"HEADLESS-1", 0, 200, 1920, 1080, "resolution 1920x1080 position 0 200"},
        {"HEADLESS-2", 1920, 0, 1280, 1024, "mode 2560x2048 scale 2 position 1920 0"},
    };
    return list;
}

bool TLSwayDesktop::fail(std::string* error, const std::string& message) {
    if (error) {
        *error = message + "\n" + logs();
    }
    stop();
    return false;
}

bool TLSwayDesktop::start(const Options& options, std::string* error) {
    char pattern[] = "/tmp/tl-sway-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return fail(error, "no temporary folder");
    }
    dir_ = pattern;
    chmod(dir_.c_str(), 0755);
    const std::string run = dir_ + "/run";
    mkdir(run.c_str(), 0700);
    // As root: sway and its bus run as the unprivileged user and die with the test.
    std::vector<std::string> as;
    if (geteuid() == 0) {
        if (getpwnam(kUser) == nullptr) {
            TLTestProcess::run({"useradd", "-M", "-r", "-s", "/usr/sbin/nologin", kUser}, {}, nullptr, 30s);
        }
        const passwd* user = getpwnam(kUser);
        if (user == nullptr || chown(run.c_str(), user->pw_uid, user->pw_gid) != 0) {
            return fail(error, std::string("no user ") + kUser);
        }
        as = {"setpriv",
              "--reuid=" + std::to_string(user->pw_uid),
              "--regid=" + std::to_string(user->pw_gid),
              "--init-groups",
              "--pdeathsig",
              "SIGTERM"};
    }
    as.insert(as.end(), {"env", "-i", "HOME=" + dir_, "XDG_RUNTIME_DIR=" + run, "PATH=/usr/bin:/bin"});

    std::ofstream(dir_ + "/dbus.conf")
        << "<busconfig><include>/usr/share/dbus-1/session.conf</include>"
           "<policy context=\"default\"><allow user=\"root\"/></policy></busconfig>\n";
    std::ostringstream config;
    for (const Output& o : outputs()) {
        config << "output " << o.name << " " << o.command << "\n";
    }
    config << "exec sh -c 'echo \"$DISPLAY\" > " << run << "/x-display'\n";
    if (options.bar) {
        config << "bar {\n  position top\n  output HEADLESS-1\n  tray_output HEADLESS-1\n}\n";
    }
    std::ofstream(dir_ + "/config") << config.str() << options.config << "\n";
    chmod((dir_ + "/config").c_str(), 0644);
    chmod((dir_ + "/dbus.conf").c_str(), 0644);

    std::vector<std::string> bus = as;
    bus.insert(bus.end(),
               {"dbus-daemon", "--nofork", "--print-address=1", "--config-file=" + dir_ + "/dbus.conf"});
    bus_process_ = TLTestProcess::start(bus, {{}, -1, dir_ + "/dbus.log"}, error);
    if (!bus_process_ || !waitUntil([&] { return readFile(dir_ + "/dbus.log").starts_with("unix:"); })) {
        return fail(error, "dbus-daemon did not start");
    }
    const std::string address = readFile(dir_ + "/dbus.log");
    bus_ = address.substr(0, address.find('\n'));

    std::vector<std::string> sway = as;
    sway.insert(sway.end(), {"WLR_BACKENDS=headless", "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman",
                             "DBUS_SESSION_BUS_ADDRESS=" + bus_, "sway", "-c", dir_ + "/config"});
    sway_ = TLTestProcess::start(sway, {{}, -1, dir_ + "/sway.log"}, error);
    if (!sway_ || !waitUntil([&] {
            for (const auto& name : QDir(QString::fromStdString(run)).entryList(QDir::System)) {
                if (name.startsWith("sway-ipc.")) {
                    socket_ = run + "/" + name.toStdString();
                } else if (name.startsWith("wayland-") && !name.endsWith(".lock")) {
                    display_ = name.toStdString();
                }
            }
            return !socket_.empty() && !display_.empty() && sway_->running();
        })) {
        return fail(error, "sway did not start");
    }
    command("create_output");
    const bool ready = waitUntil([&] {
        xDisplay_ = readFile(run + "/x-display");
        xDisplay_ = xDisplay_.substr(0, xDisplay_.find('\n'));
        for (const Output& o : outputs()) {
            const auto output =
                findNode(tree(), [&](const QJsonObject& n) { return n.value("name") == o.name; });
            if (!output || rectOf(*output) != Rect{o.x, o.y, o.width, o.height}) {
                return false;
            }
        }
        // The bar is up: the first output's workspace leaves room for it.
        const auto area = visibleArea(outputs()[0].name);
        return !xDisplay_.empty() && area && (area->y > outputs()[0].y) == options.bar;
    });
    if (!ready) {
        return fail(error, "the outputs or the bar did not come up");
    }
    // XWayland lets only its own user in; as root, the tests' X clients are let in too.
    std::vector<std::string> xhost = as;
    xhost.insert(xhost.end(), {"DISPLAY=" + xDisplay_, "xhost", "+si:localuser:root"});
    return geteuid() != 0 || TLTestProcess::run(xhost, {}, nullptr, 10s) == 0
               ? true
               : fail(error, "XWayland did not start");
}

void TLSwayDesktop::stop() {
    sway_.reset(); // terminates and reaps: the bar and XWayland go with sway
    bus_process_.reset();
    if (!dir_.empty()) {
        std::filesystem::remove_all(dir_);
        dir_.clear();
    }
    socket_.clear();
    display_.clear();
}

std::vector<std::string> TLSwayDesktop::environment() const {
    return {"WAYLAND_DISPLAY=" + display_, "XDG_RUNTIME_DIR=" + dir_ + "/run", "SWAYSOCK=" + socket_,
            "DBUS_SESSION_BUS_ADDRESS=" + bus_, "DISPLAY=" + xDisplay_};
}

void TLSwayDesktop::setEnvironment() const {
    for (const std::string& entry : environment()) {
        const auto equals = entry.find('=');
        setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
    }
}

std::string TLSwayDesktop::runSwaymsg(const std::vector<std::string>& arguments) const {
    std::vector<std::string> argv = {"swaymsg", "-r", "-s", socket_};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string output;
    TLTestProcess::run(argv, {}, &output, 10s);
    return output;
}

QJsonObject TLSwayDesktop::tree() const {
    return QJsonDocument::fromJson(QByteArray::fromStdString(runSwaymsg({"-t", "get_tree"}))).object();
}

std::vector<bool> TLSwayDesktop::command(const std::string& command) const {
    std::vector<bool> results;
    for (const QJsonValue& r :
         QJsonDocument::fromJson(QByteArray::fromStdString(runSwaymsg({command}))).array()) {
        results.push_back(r.toObject().value("success").toBool());
    }
    return results;
}

std::optional<TLSwayDesktop::Rect> TLSwayDesktop::visibleArea(const std::string& output) const {
    const QJsonDocument workspaces =
        QJsonDocument::fromJson(QByteArray::fromStdString(runSwaymsg({"-t", "get_workspaces"})));
    for (const QJsonValue& w : workspaces.array()) {
        if (w.toObject().value("output") == QString::fromStdString(output) &&
            w.toObject().value("visible").toBool()) {
            return rectOf(w.toObject());
        }
    }
    return std::nullopt;
}

std::unique_ptr<TLTestProcess> TLSwayDesktop::launch(const std::vector<std::string>& argv) const {
    return TLTestProcess::start(argv, {environment(), -1, {}});
}

std::unique_ptr<TLTestProcess> TLSwayDesktop::launchFoot(const std::string& title) const {
    return launch({"foot", "--title", title, "--app-id", "foot-test", "sleep", "1000"});
}

std::unique_ptr<TLTestProcess> TLSwayDesktop::launchX11Client(const std::string& title) const {
    return launch({TL_TEST_CLIENT_PATH, "--title", title, "--class", "X11Probe", "--size", "640x400"});
}

std::optional<QJsonObject> TLSwayDesktop::container(long long id) const {
    return findNode(tree(), [&](const QJsonObject& n) { return n.value("id").toInteger() == id; });
}

std::optional<long long> TLSwayDesktop::waitForWindow(const std::string& title) const {
    std::optional<long long> id;
    waitUntil([&] {
        const auto node = findNode(tree(), [&](const QJsonObject& n) {
            return n.value("name") == QString::fromStdString(title) && n.contains("shell");
        });
        id = node && node->value("focused").toBool() ? std::optional(node->value("id").toInteger())
                                                     : std::nullopt;
        return id.has_value();
    });
    return id;
}

std::optional<TLSwayDesktop::Rect> TLSwayDesktop::frame(long long id) const {
    const std::optional<QJsonObject> node = container(id);
    if (!node) {
        return std::nullopt;
    }
    const Rect r = rectOf(*node);
    const long long title = rectOf(*node, "deco_rect").height;
    return Rect{r.x, r.y - title, r.width, r.height + title};
}

bool TLSwayDesktop::press(const std::string& wtypeArguments) const {
    std::vector<std::string> argv = {"wtype"};
    std::istringstream words(wtypeArguments);
    for (std::string word; words >> word;) {
        argv.push_back(word);
    }
    return TLTestProcess::run(argv, environment(), nullptr, 10s) == 0;
}

bool TLSwayDesktop::waitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

std::string TLSwayDesktop::logs() const {
    const std::string log = readFile(dir_ + "/sway.log");
    return "--- sway.log (end)\n" + log.substr(log.size() > 3000 ? log.size() - 3000 : 0);
}
