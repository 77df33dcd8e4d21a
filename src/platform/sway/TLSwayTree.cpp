#include "TLSwayTree.h"

#include <QJsonArray>

#include <algorithm>
#include <utility>

namespace {

// Far beyond any desktop; keeps every sum and difference below defined.
constexpr std::int64_t kLimit = std::int64_t(1) << 40;

std::int64_t integer(const QJsonObject& object, QLatin1String key) {
    return std::clamp<std::int64_t>(object.value(key).toInteger(), -kLimit, kLimit);
}

TLSwayRect rectOf(const QJsonObject& node, QLatin1String key) {
    const QJsonObject r = node.value(key).toObject();
    return {integer(r, QLatin1String("x")), integer(r, QLatin1String("y")),
            integer(r, QLatin1String("width")), integer(r, QLatin1String("height"))};
}

QJsonArray children(const QJsonObject& node) {
    QJsonArray all = node.value(QLatin1String("nodes")).toArray();
    for (const QJsonValue floating : node.value(QLatin1String("floating_nodes")).toArray()) {
        all.append(floating);
    }
    return all;
}

std::optional<QString> nonEmpty(const QJsonValue& value) {
    const QString text = value.toString();
    return text.isEmpty() ? std::nullopt : std::optional<QString>(text);
}

TLSwayTree::Container containerOf(const QJsonObject& node) {
    TLSwayTree::Container c;
    c.id = node.value(QLatin1String("id")).toInteger();
    // Only views (windows) have a shell: xdg_shell or xwayland.
    c.isView = node.contains(QLatin1String("shell"));
    const QJsonObject x11 = node.value(QLatin1String("window_properties")).toObject();
    c.applicationName = nonEmpty(node.value(QLatin1String("app_id")));
    if (!c.applicationName) {
        c.applicationName = nonEmpty(x11.value(QLatin1String("class")));
    }
    if (!c.applicationName) {
        c.applicationName = nonEmpty(x11.value(QLatin1String("instance")));
    }
    c.pid = node.value(QLatin1String("pid")).toInteger();
    // `rect` leaves the title bar out; `deco_rect` is the title bar (relative, only its height counts).
    const TLSwayRect rect = rectOf(node, QLatin1String("rect"));
    const std::int64_t title =
        std::clamp<std::int64_t>(rectOf(node, QLatin1String("deco_rect")).height, 0, kLimit);
    c.frame = {rect.x, rect.y - title, rect.width, rect.height + title};
    c.floating = node.value(QLatin1String("type")).toString() == QLatin1String("floating_con");
    c.fullscreen = node.value(QLatin1String("fullscreen_mode")).toInt() != 0;
    return c;
}

} // namespace

TLSwayTree TLSwayTree::parse(const QJsonObject& root) {
    TLSwayTree tree;
    // Depth-first over every node, without recursion; each node remembers its output.
    std::vector<std::pair<QJsonObject, std::optional<std::size_t>>> stack;
    for (const QJsonValue value : root.value(QLatin1String("nodes")).toArray()) {
        const QJsonObject node = value.toObject();
        const bool active = node.value(QLatin1String("active")).toBool();
        if (node.value(QLatin1String("type")).toString() != QLatin1String("output") || !active ||
            node.value(QLatin1String("name")).toString().startsWith(QLatin1String("__"))) {
            stack.emplace_back(node, std::nullopt); // the scratchpad and disabled outputs
            continue;
        }
        Output output{node.value(QLatin1String("name")).toString(), rectOf(node, QLatin1String("rect")), {}};
        output.visible = output.rect;
        const QString current = node.value(QLatin1String("current_workspace")).toString();
        for (const QJsonValue workspace : node.value(QLatin1String("nodes")).toArray()) {
            if (workspace.toObject().value(QLatin1String("name")).toString() == current) {
                output.visible = rectOf(workspace.toObject(), QLatin1String("rect"));
            }
        }
        tree.outputs.push_back(output);
        stack.emplace_back(node, tree.outputs.size() - 1);
    }
    if (root.value(QLatin1String("focused")).toBool()) {
        stack.clear(); // the root itself: nothing is focused
    }
    while (!stack.empty()) {
        auto [node, output] = std::move(stack.back());
        stack.pop_back();
        if (node.value(QLatin1String("focused")).toBool()) {
            tree.focusedOutput = output;
            const QString type = node.value(QLatin1String("type")).toString();
            if (type == QLatin1String("con") || type == QLatin1String("floating_con")) {
                tree.focused = containerOf(node);
            }
            break;
        }
        for (const QJsonValue child : children(node)) {
            stack.emplace_back(child.toObject(), output);
        }
    }

    // The anchor first: the output at the layout's origin, else the first one.
    const auto origin = std::ranges::find_if(tree.outputs, [](const Output& o) {
        return o.rect.x <= 0 && 0 < o.rect.x + o.rect.width && o.rect.y <= 0 && 0 < o.rect.y + o.rect.height;
    });
    if (origin != tree.outputs.end() && origin != tree.outputs.begin()) {
        const auto index = static_cast<std::size_t>(origin - tree.outputs.begin());
        std::rotate(tree.outputs.begin(), origin, origin + 1);
        if (tree.focusedOutput) {
            const std::size_t f = *tree.focusedOutput;
            tree.focusedOutput = f == index ? 0 : (f < index ? f + 1 : f);
        }
    }
    return tree;
}

std::vector<TLDisplay> TLSwayTree::displays() const {
    const TLSwayRect a = anchor();
    const auto global = [&](const TLSwayRect& r) {
        return TLRect{static_cast<double>(r.x - a.x),
                      static_cast<double>((a.y + a.height) - (r.y + r.height)), static_cast<double>(r.width),
                      static_cast<double>(r.height)};
    };
    std::vector<TLDisplay> result;
    result.reserve(outputs.size());
    for (const Output& o : outputs) {
        result.push_back({global(o.rect), global(o.visible)});
    }
    return result;
}

TLRect TLSwayTree::toWindowCoordinates(const TLSwayRect& layout) const {
    const TLSwayRect a = anchor();
    return {static_cast<double>(layout.x - a.x), static_cast<double>(layout.y - a.y),
            static_cast<double>(layout.width), static_cast<double>(layout.height)};
}

TLIntPoint TLSwayTree::toLayout(TLIntPoint window) const {
    const TLSwayRect a = anchor();
    return {window.x + a.x, window.y + a.y};
}
