#include "TLSwayKeyboardLayout.h"

#include "TLKeyTable.h"
#include "TLSwayMessage.h"
#include "TLXkbLabels.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>

#include <wordexp.h>

namespace {

constexpr qint64 kMaxConfigFile = 1 << 20;
constexpr int kMaxIncludedFiles = 64;

// Paths of an include line as sway expands them (~, variables, globs), without running commands.
QStringList expandPaths(const QString& pattern, const QString& base) {
    QStringList paths;
    const QByteArray native = pattern.toLocal8Bit();
    wordexp_t words{};
    if (wordexp(native.constData(), &words, WRDE_NOCMD) == 0) {
        for (std::size_t i = 0; i < words.we_wordc; ++i) {
            const QString path = QString::fromLocal8Bit(words.we_wordv[i]);
            if (QDir::isAbsolutePath(path)) {
                paths.append(path);
            } else if (!base.isEmpty()) {
                paths.append(QDir(base).filePath(path));
            }
        }
    }
    wordfree(&words);
    return paths;
}

QString readSmallFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxConfigFile) {
        return {};
    }
    return QString::fromUtf8(file.read(kMaxConfigFile));
}

// Where sway looks for its configuration; the one whose text sway reports is the one it read,
// and relative includes are relative to its folder.
QString mainConfigFolder(const QString& text) {
    const QString home = QDir::homePath();
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME", home + QStringLiteral("/.config"));
    for (const QString& candidate :
         {home + QStringLiteral("/.sway/config"), config + QStringLiteral("/sway/config"),
          home + QStringLiteral("/.i3/config"), config + QStringLiteral("/i3/config"),
          QStringLiteral("/etc/sway/config"), QStringLiteral("/etc/i3/config")}) {
        if (QFile::exists(candidate) && readSmallFile(candidate) == text) {
            return QFileInfo(candidate).absolutePath();
        }
    }
    return {};
}

} // namespace

TLSwayKeyboardLayout::TLSwayKeyboardLayout(TLSwaySession& session)
    : session_(session), context_(xkb_context_new(XKB_CONTEXT_NO_FLAGS)) {
    load();
    readActiveLayout();
    session_.addListener(*this);
}

TLSwayKeyboardLayout::~TLSwayKeyboardLayout() {
    session_.removeListener(*this);
}

void TLSwayKeyboardLayout::load() {
    config_ = TLSwayConfig();
    const std::optional<QJsonDocument> reply = session_.request(TLSwayMessage::kGetConfig);
    const QString text = reply ? reply->object().value(QLatin1String("config")).toString() : QString();
    config_.parse(text);
    // Included files, breadth first, each at most once.
    const QString base = mainConfigFolder(text);
    QStringList done;
    for (qsizetype next = 0; next < config_.includes().size() && done.size() < kMaxIncludedFiles; ++next) {
        for (const QString& path : expandPaths(config_.includes().at(next), base)) {
            const QString canonical = QFileInfo(path).canonicalFilePath();
            if (!canonical.isEmpty() && !done.contains(canonical) && done.size() < kMaxIncludedFiles) {
                done.append(canonical);
                config_.parse(readSmallFile(canonical));
            }
        }
    }
    if (!context_) {
        return;
    }
    const TLSwayConfig::Keyboard& k = config_.keyboard();
    const QByteArray rules = k.rules.toUtf8(), model = k.model.toUtf8(), layout = k.layout.toUtf8(),
                     variant = k.variant.toUtf8(), options = k.options.toUtf8();
    // Empty names fall back to XKB_DEFAULT_* and the built-in defaults, as in sway.
    const xkb_rule_names names{
        rules.isEmpty() ? nullptr : rules.constData(), model.isEmpty() ? nullptr : model.constData(),
        layout.isEmpty() ? nullptr : layout.constData(), variant.isEmpty() ? nullptr : variant.constData(),
        options.isEmpty() ? nullptr : options.constData()};
    std::unique_ptr<xkb_keymap, KeymapFree> keymap(
        xkb_keymap_new_from_names(context_.get(), &names, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (keymap) {
        keymap_ = std::move(keymap);
    }
}

void TLSwayKeyboardLayout::readActiveLayout() {
    const std::optional<QJsonDocument> reply = session_.request(TLSwayMessage::kGetInputs);
    if (!reply) {
        return;
    }
    for (const QJsonValue input : reply->array()) {
        const QJsonObject object = input.toObject();
        if (object.value(QLatin1String("type")).toString() == QLatin1String("keyboard")) {
            layout_ = static_cast<xkb_layout_index_t>(
                std::max(0, object.value(QLatin1String("xkb_active_layout_index")).toInt()));
            return;
        }
    }
}

void TLSwayKeyboardLayout::handleEvent(std::uint32_t type, const QJsonObject& event) {
    const QString change = event.value(QLatin1String("change")).toString();
    if (type == TLSwayMessage::kEventWorkspace && change == QLatin1String("reload")) {
        load();
        readActiveLayout();
        if (changed_) {
            changed_(true);
        }
    } else if (type == TLSwayMessage::kEventInput && change == QLatin1String("xkb_layout")) {
        const QJsonObject input = event.value(QLatin1String("input")).toObject();
        const auto layout = static_cast<xkb_layout_index_t>(
            std::max(0, input.value(QLatin1String("xkb_active_layout_index")).toInt()));
        if (layout != layout_) {
            layout_ = layout;
            if (changed_) {
                changed_(false);
            }
        }
    }
}

std::optional<xkb_keysym_t> TLSwayKeyboardLayout::keysym(std::int64_t virtualKeyCode) const {
    const std::optional<int> code = TLKeyTable::xKeycodeFromVirtualKeyCode(virtualKeyCode);
    if (!keymap_ || !code) {
        return std::nullopt;
    }
    const auto key = static_cast<xkb_keycode_t>(*code);
    const xkb_layout_index_t count = xkb_keymap_num_layouts_for_key(keymap_.get(), key);
    if (count == 0) {
        return std::nullopt;
    }
    const xkb_keysym_t* syms = nullptr;
    const xkb_layout_index_t layout = layout_ < count ? layout_ : 0;
    if (xkb_keymap_key_get_syms_by_level(keymap_.get(), key, layout, 0, &syms) < 1 || syms == nullptr ||
        syms[0] == XKB_KEY_NoSymbol) {
        return std::nullopt;
    }
    return syms[0];
}

QString TLSwayKeyboardLayout::characterForKeyCode(std::int64_t virtualKeyCode) const {
    const std::optional<int> code = TLKeyTable::xKeycodeFromVirtualKeyCode(virtualKeyCode);
    if (!keymap_ || !code) {
        return {};
    }
    const auto key = static_cast<xkb_keycode_t>(*code);
    const xkb_layout_index_t count = xkb_keymap_num_layouts_for_key(keymap_.get(), key);
    return count == 0 ? QString() : TLXkbLabels::keyText(keymap_.get(), key, layout_ < count ? layout_ : 0);
}

std::optional<QString> TLSwayKeyboardLayout::keysymName(std::int64_t virtualKeyCode) const {
    const std::optional<xkb_keysym_t> sym = keysym(virtualKeyCode);
    if (!sym) {
        return std::nullopt;
    }
    char name[64] = {};
    if (xkb_keysym_get_name(*sym, name, sizeof name) <= 0) {
        return std::nullopt;
    }
    return QString::fromLatin1(name);
}

bool TLSwayKeyboardLayout::configBinds(std::uint32_t swayModifiers, std::int64_t virtualKeyCode) const {
    const std::optional<int> code = TLKeyTable::xKeycodeFromVirtualKeyCode(virtualKeyCode);
    const std::optional<xkb_keysym_t> sym = keysym(virtualKeyCode);
    for (const TLSwayConfig::Binding& binding : config_.bindings()) {
        if (binding.modifiers != swayModifiers) {
            continue;
        }
        if (binding.keycode ? binding.keycode == code
                            : sym && xkb_keysym_to_lower(xkb_keysym_from_name(
                                         binding.keysym.toUtf8().constData(), XKB_KEYSYM_CASE_INSENSITIVE)) ==
                                         xkb_keysym_to_lower(*sym)) {
            return true;
        }
    }
    return false;
}
