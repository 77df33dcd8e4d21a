#include "TLSwayConfig.h"

#include <QRegularExpression>

#include <algorithm>
#include <array>

namespace {

constexpr qsizetype kMaxLine = 64 * 1024;

struct ModifierName {
    const char* name;
    std::uint32_t bit;
};

constexpr std::array<ModifierName, 12> kModifierNames{{
    {"Shift", TLSwayConfig::Shift},
    {"Lock", TLSwayConfig::Lock},
    {"Caps", TLSwayConfig::Lock},
    {"Ctrl", TLSwayConfig::Ctrl},
    {"Control", TLSwayConfig::Ctrl},
    {"Mod1", TLSwayConfig::Mod1},
    {"Alt", TLSwayConfig::Mod1},
    {"Mod2", TLSwayConfig::Mod2},
    {"Mod3", TLSwayConfig::Mod3},
    {"Mod4", TLSwayConfig::Mod4},
    {"Super", TLSwayConfig::Mod4},
    {"Mod5", TLSwayConfig::Mod5},
}};

// Flags of bindsym and bindcode ("--no-repeat", "--input-device=…").
bool isFlag(const QString& word) {
    return word.startsWith(QLatin1String("--"));
}

bool isBindCommand(const QString& word) {
    return word == QLatin1String("bindsym") || word == QLatin1String("bindcode");
}

QStringList words(const QString& line) {
    static const QRegularExpression kSpace(QStringLiteral("\\s+"));
    return line.split(kSpace, Qt::SkipEmptyParts);
}

} // namespace

std::optional<TLSwayConfig::Binding> TLSwayConfig::parseCombination(const QString& combination,
                                                                    bool keycode) {
    Binding binding;
    QStringList keys;
    for (const QString& part : combination.split(QLatin1Char('+'), Qt::SkipEmptyParts)) {
        const auto modifier = std::ranges::find_if(kModifierNames, [&](const ModifierName& m) {
            return part.compare(QLatin1String(m.name), Qt::CaseInsensitive) == 0;
        });
        if (modifier != kModifierNames.end()) {
            binding.modifiers |= modifier->bit;
        } else {
            keys.append(part);
        }
    }
    if (keys.size() != 1) {
        return std::nullopt;
    }
    if (keycode) {
        bool ok = false;
        const int code = keys.front().toInt(&ok);
        if (!ok) {
            return std::nullopt;
        }
        binding.keycode = code;
    } else {
        binding.keysym = keys.front();
    }
    return binding;
}

QString TLSwayConfig::modifierPrefix(std::uint32_t modifiers) {
    QString prefix;
    for (const char* name : {"Shift", "Lock", "Ctrl", "Mod1", "Mod2", "Mod3", "Mod4", "Mod5"}) {
        const auto m = std::ranges::find_if(
            kModifierNames, [&](const ModifierName& n) { return std::string_view(n.name) == name; });
        if ((modifiers & m->bit) != 0) {
            prefix += QLatin1String(name) + QLatin1Char('+');
        }
    }
    return prefix;
}

std::optional<QString> TLSwayConfig::expand(const QString& text) {
    // One pass, as sway does it: at each '$' the longest variable name that matches, and the
    // scan goes on after the value put in. Values built from variables can double at every line,
    // so a line and the whole text have a bound on what expansion may produce.
    const QStringView source(text);
    QString result;
    for (qsizetype at = 0; at < source.size();) {
        const qsizetype dollar = source.indexOf(QLatin1Char('$'), at);
        if (dollar < 0) {
            result += source.mid(at);
            break;
        }
        result += source.mid(at, dollar - at);
        const QStringView rest = source.mid(dollar);
        const auto variable =
            std::ranges::find_if(variables_, [&](const auto& v) { return rest.startsWith(v.first); });
        if (variable == variables_.end()) {
            result += QLatin1Char('$');
            at = dollar + 1;
        } else {
            if (result.size() + variable->second.size() > kMaxLine) {
                return std::nullopt;
            }
            result += variable->second;
            at = dollar + variable->first.size();
        }
    }
    if (result.size() > kMaxLine || result.size() > expansionBudget_) {
        return std::nullopt;
    }
    expansionBudget_ -= result.size();
    return result;
}

void TLSwayConfig::parse(const QString& text) {
    // Open blocks, by the first word of their opening line ("mode", "input", "bindsym", "bar").
    QStringList blocks;
    QString pending;
    for (const QString& raw : text.split(QLatin1Char('\n'))) {
        QString line = pending + raw.trimmed();
        pending.clear();
        if (line.endsWith(QLatin1Char('\\'))) {
            line.chop(1);
            pending = line + QLatin1Char(' ');
            continue;
        }
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (line == QLatin1String("}")) {
            if (!blocks.isEmpty()) {
                blocks.removeLast();
            }
            continue;
        }
        const bool opens = line.endsWith(QLatin1Char('{'));
        if (opens) {
            line.chop(1);
        }
        QStringList w = words(line);
        if (w.size() >= 3 && w[0] == QLatin1String("set") && w[1].startsWith(QLatin1Char('$'))) {
            const QString name = w[1];
            const std::optional<QString> value = expand(line.section(name, 1).trimmed());
            std::erase_if(variables_, [&](const auto& v) { return v.first == name; });
            if (value) {
                // Longest name first; a name set again goes last among those of its length.
                const auto at = std::ranges::find_if(
                    variables_, [&](const auto& v) { return v.first.size() < name.size(); });
                variables_.emplace(at, name, *value);
            }
            continue;
        }
        const std::optional<QString> expanded = expand(line);
        w = expanded ? words(*expanded) : QStringList();
        if (opens) {
            // A block whose opening line cannot be read is skipped as a whole.
            blocks.push_back(w.isEmpty() ? QStringLiteral("{") : w.front());
            continue;
        }
        if (!w.isEmpty() && !blocks.contains(QLatin1String("mode"))) {
            statement(w, blocks.empty() ? QString() : blocks.back());
        }
    }
}

void TLSwayConfig::statement(const QStringList& w, const QString& block) {
    // A binding: "bindsym [--flags] combination command" at the top, or "combination command"
    // inside a bindsym block.
    QString bindType = isBindCommand(block) ? block : QString();
    qsizetype at = 0;
    if (block.isEmpty() && isBindCommand(w[0])) {
        bindType = w[0];
        at = 1;
    }
    if (!bindType.isEmpty()) {
        while (at < w.size() && isFlag(w[at])) {
            ++at;
        }
        if (at < w.size()) {
            if (auto binding = parseCombination(w[at], bindType == QLatin1String("bindcode"))) {
                bindings_.push_back(*binding);
            }
        }
        return;
    }
    // Keyboard layout: "input <identifier> xkb_layout de", or "xkb_layout de" inside an input block.
    qsizetype setting = block == QLatin1String("input") ? 0 : -1;
    if (block.isEmpty() && w.size() >= 4 && w[0] == QLatin1String("input")) {
        setting = 2;
    }
    if (setting >= 0 && w.size() > setting + 1) {
        const QString& name = w[setting];
        const QString value = w.mid(setting + 1).join(QLatin1Char(' '));
        for (auto [key, field] :
             {std::pair{"xkb_rules", &Keyboard::rules}, std::pair{"xkb_model", &Keyboard::model},
              std::pair{"xkb_layout", &Keyboard::layout}, std::pair{"xkb_variant", &Keyboard::variant},
              std::pair{"xkb_options", &Keyboard::options}}) {
            if (name == QLatin1String(key)) {
                keyboard_.*field = value;
            }
        }
        return;
    }
    if (block.isEmpty() && w.size() >= 2 && w[0] == QLatin1String("include")) {
        includes_.append(w.mid(1).join(QLatin1Char(' ')));
    }
}
