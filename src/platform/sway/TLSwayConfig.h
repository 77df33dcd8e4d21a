#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>
#include <vector>

// What Tilora needs from sway's configuration text: the key bindings of the default mode (a
// combination bound there is not Tilora's to take: sway would silently replace it), the keyboard
// layout settings (to name keys as sway will) and the files it includes. Pure: variables (`set
// $name value`) are expanded, other modes are skipped; reading included files is the caller's.
class TLSwayConfig {
public:
    // Modifier bits as sway names them.
    static constexpr std::uint32_t Shift = 1;
    static constexpr std::uint32_t Lock = 2;
    static constexpr std::uint32_t Ctrl = 4;
    static constexpr std::uint32_t Mod1 = 8;
    static constexpr std::uint32_t Mod2 = 16;
    static constexpr std::uint32_t Mod3 = 32;
    static constexpr std::uint32_t Mod4 = 64;
    static constexpr std::uint32_t Mod5 = 128;

    struct Binding {
        std::uint32_t modifiers = 0;
        QString keysym;             // bindsym: the key's symbol name as written
        std::optional<int> keycode; // bindcode: the XKB key code
        bool operator==(const Binding&) const = default;
    };

    // The XKB names of `input` settings (xkb_rules, xkb_model, xkb_layout, xkb_variant,
    // xkb_options); empty where the configuration leaves them to the defaults.
    struct Keyboard {
        QString rules, model, layout, variant, options;
    };

    // Parses one file's text; variables set earlier (in an including file) carry on.
    void parse(const QString& text);

    const std::vector<Binding>& bindings() const { return bindings_; }
    const Keyboard& keyboard() const { return keyboard_; }
    // Paths of `include` lines, variables expanded, in order (not yet globbed or made absolute).
    const QStringList& includes() const { return includes_; }

    // "Ctrl+Mod1+Left" as a binding; nothing for a combination of several keys or none.
    static std::optional<Binding> parseCombination(const QString& combination, bool keycode);
    // The modifier names of a mask, in sway's spelling and a fixed order ("Ctrl+Mod1+").
    static QString modifierPrefix(std::uint32_t modifiers);

private:
    // The text with its variables replaced; nothing when it would grow beyond any real line
    // (values that hold variables can double at every line).
    std::optional<QString> expand(const QString& text);
    void statement(const QStringList& words, const QString& block);

    std::vector<std::pair<QString, QString>> variables_; // longest name first
    // Characters expansion may still produce: far beyond any real configuration.
    qsizetype expansionBudget_ = qsizetype(4) * 1024 * 1024;
    std::vector<Binding> bindings_;
    Keyboard keyboard_;
    QStringList includes_;
};
