#pragma once

#include <QString>

#include <cstdint>

// The current keyboard layout as a source of key labels.
class TLKeyboardLayout {
public:
    virtual ~TLKeyboardLayout() = default;

    // The character(s) the current layout and group put on the key without any modifier,
    // as printed (not upper-cased); a dead key gives its own character. Empty when the
    // layout has no text for the key. Asked anew on every call: the answer follows layout
    // switches.
    virtual QString characterForKeyCode(std::int64_t virtualKeyCode) = 0;

    // The layout that key labels come from; installed once by the application (tests
    // install a fake). Without one, labels fall back to "#<code>".
    static void install(TLKeyboardLayout* layout);
    static TLKeyboardLayout* installed();
};
