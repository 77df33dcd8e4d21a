#include "TLSwayDesktop.h"

#include <QJsonArray>

namespace {

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

bool TLSwayDesktop::start(std::string* error, bool bar, const QString& config) {
    // The session's variables on one line once sway is ready; it stays up while stdin is open.
    QString ready;
    script_ = TLTestDesktop::serve({TL_SWAY_SCRIPT, "serve", folder_.path(), bar ? "" : "nobar", config},
                                   folder_.filePath("desktop.log"), &ready);
    session_ = ready.split(' ', Qt::SkipEmptyParts);
    if (session_.size() != 5) {
        if (error) {
            *error = "the headless sway did not come up\n" + logs();
        }
        stop();
        return false;
    }
    return true;
}

void TLSwayDesktop::setEnvironment() const {
    for (const QString& entry : session_) {
        qputenv(entry.section('=', 0, 0).toUtf8().constData(), entry.section('=', 1).toUtf8());
    }
}

QJsonDocument TLSwayDesktop::message(const QStringList& arguments) const {
    std::string reply;
    run(QStringList{"swaymsg", "-r"} + arguments, &reply);
    return QJsonDocument::fromJson(QByteArray::fromStdString(reply));
}

std::vector<bool> TLSwayDesktop::command(const QString& command) const {
    std::vector<bool> results;
    for (const QJsonValue& r : message({command}).array()) {
        results.push_back(r.toObject().value("success").toBool());
    }
    return results;
}

std::optional<TLSwayDesktop::Rect> TLSwayDesktop::output(const char* name) const {
    for (const QJsonValue& o : message({"-t", "get_outputs"}).array()) {
        if (o.toObject().value("name") == QLatin1String(name)) {
            return rectOf(o.toObject());
        }
    }
    return std::nullopt;
}

std::optional<TLSwayDesktop::Rect> TLSwayDesktop::visibleArea(const char* output) const {
    for (const QJsonValue& w : message({"-t", "get_workspaces"}).array()) {
        if (w.toObject().value("output") == QLatin1String(output) && w.toObject().value("visible").toBool()) {
            return rectOf(w.toObject());
        }
    }
    return std::nullopt;
}

std::optional<QJsonObject> TLSwayDesktop::container(long long id) const {
    return findNode(message({"-t", "get_tree"}).object(),
                    [&](const QJsonObject& n) { return n.value("id").toInteger() == id; });
}

std::optional<long long> TLSwayDesktop::waitForWindow(const QString& title) const {
    std::optional<QJsonObject> node;
    TLTestDesktop::waitUntil([&] {
        return (node = findNode(message({"-t", "get_tree"}).object(),
                                [&](const QJsonObject& n) {
                                    return n.value("name") == title && n.contains("shell") &&
                                           n.value("focused").toBool();
                                }))
            .has_value();
    });
    return node ? std::optional(node->value("id").toInteger()) : std::nullopt;
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

bool TLSwayDesktop::trayHasItem() const {
    std::string reply;
    run({"dbus-send", "--session", "--print-reply", "--dest=org.kde.StatusNotifierWatcher",
         "/StatusNotifierWatcher", "org.freedesktop.DBus.Properties.Get",
         "string:org.kde.StatusNotifierWatcher", "string:RegisteredStatusNotifierItems"},
        &reply);
    return reply.find("/StatusNotifierItem") != std::string::npos;
}
