#pragma once

#include <QString>

#include <cstdint>

// The current keyboard layout as a source of key labels.
class TLKeyboardLayout {
public:
    virtual ~TLKeyboardLayout() = default;

    // The character(s) the current layout and group put on the key without any modifier,
    // as printed (not upper-cased); a dead key gives its own character. Empty when the
    // layout has no text for the key. The answer follows layout switches.
    virtual QString characterForKeyCode(std::int64_t virtualKeyCode) const = 0;
};
