#pragma once

#include <QString>

#include <xkbcommon/xkbcommon.h>

// Key labels from an XKB keymap, as every Linux backend draws them.
class TLXkbLabels {
public:
    // What the key shows in the given layout (group): the text of its first level that has some
    // (the keypad's digits), a dead key's accent; empty for keys without text (arrows, Enter).
    static QString keyText(xkb_keymap* keymap, xkb_keycode_t key, xkb_layout_index_t layout);
    static QString textOfKeysym(xkb_keysym_t keysym);
};
