#include "TLXkbLabels.h"

#include <array>

namespace {

// Dead keys have no text of their own in xkbcommon; show the accent they put on the next key.
struct DeadKey {
    xkb_keysym_t keysym;
    const char* text;
};

constexpr std::array<DeadKey, 13> kDeadKeys{{
    {XKB_KEY_dead_grave, "`"},
    {XKB_KEY_dead_acute, "´"},
    {XKB_KEY_dead_circumflex, "^"},
    {XKB_KEY_dead_tilde, "~"},
    {XKB_KEY_dead_macron, "¯"},
    {XKB_KEY_dead_breve, "˘"},
    {XKB_KEY_dead_abovedot, "˙"},
    {XKB_KEY_dead_diaeresis, "¨"},
    {XKB_KEY_dead_abovering, "˚"},
    {XKB_KEY_dead_doubleacute, "˝"},
    {XKB_KEY_dead_caron, "ˇ"},
    {XKB_KEY_dead_cedilla, "¸"},
    {XKB_KEY_dead_ogonek, "˛"},
}};

} // namespace

QString TLXkbLabels::textOfKeysym(xkb_keysym_t keysym) {
    for (const DeadKey& dead : kDeadKeys) {
        if (dead.keysym == keysym) {
            return QString::fromUtf8(dead.text);
        }
    }
    std::array<char, 16> buffer{};
    if (xkb_keysym_to_utf8(keysym, buffer.data(), buffer.size()) <= 1) {
        return {};
    }
    QString text = QString::fromUtf8(buffer.data());
    // Control characters (keypad Enter, Delete and the like) are no label.
    for (QChar ch : text) {
        if (ch.category() == QChar::Other_Control) {
            return {};
        }
    }
    return text;
}

QString TLXkbLabels::keyText(xkb_keymap* keymap, xkb_keycode_t key, xkb_layout_index_t layout) {
    // Level 0 is the key without any modifier. Where it has no text, the first level that has
    // some is what the key shows: the keypad's digits sit on the Num Lock level.
    const xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, key, layout);
    for (xkb_level_index_t level = 0; level < levels; ++level) {
        const xkb_keysym_t* syms = nullptr;
        if (xkb_keymap_key_get_syms_by_level(keymap, key, layout, level, &syms) >= 1 && syms != nullptr) {
            if (QString text = textOfKeysym(syms[0]); !text.isEmpty()) {
                return text;
            }
        }
    }
    return {};
}
