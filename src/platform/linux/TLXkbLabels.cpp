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

QString TLXkbLabels::levelZeroText(xkb_keymap* keymap, xkb_keycode_t key, xkb_layout_index_t layout) {
    const xkb_keysym_t* syms = nullptr;
    // Level 0: the key without any modifier.
    const int count = xkb_keymap_key_get_syms_by_level(keymap, key, layout, 0, &syms);
    if (count < 1 || syms == nullptr) {
        return {};
    }
    return textOfKeysym(syms[0]);
}
