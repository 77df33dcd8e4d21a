#pragma once

#include <QString>

#include <cstdint>

class TLKeyboardLayout;

// A keyboard shortcut: a physical key (virtual key code, 0 = the US "A" position) and a
// Carbon modifier mask, or no shortcut at all (a negative key code). A plain value: nothing
// changes it after creation.
class TLShortcut {
public:
    static TLShortcut shortcutWithKeyCode(std::int64_t keyCode, std::uint32_t modifiers);
    static TLShortcut unbound();

    std::int64_t keyCode() const { return keyCode_; }
    std::uint32_t modifiers() const { return modifiers_; }

    bool isBound() const { return keyCode_ >= 0; }
    // Both bound, same key and all 32 modifier bits equal. An unbound shortcut equals
    // nothing, not even itself: the conflict rule depends on that.
    bool isEqualToShortcut(const TLShortcut* other) const;

    static std::uint32_t carbonModifiersFromEventFlags(std::uint64_t flags);
    static std::uint64_t eventFlagsFromCarbonModifiers(std::uint32_t modifiers);

    // Modifier glyphs in the order ⌃ ⌥ ⇧ ⌘, then the key's label; "–" when unbound.
    QString displayString(const TLKeyboardLayout& layout) const;
    // The glyphs of the four known modifier bits, always in the order ⌃ ⌥ ⇧ ⌘.
    static QString modifierGlyphs(std::uint32_t modifiers);
    // The key's label alone: the fixed label of TLKeyTable, else the keyboard layout's
    // character upper-cased, else "#<code>".
    static QString labelForKeyCode(std::int64_t keyCode, const TLKeyboardLayout& layout);

private:
    TLShortcut(std::int64_t keyCode, std::uint32_t modifiers) : keyCode_(keyCode), modifiers_(modifiers) {}

    std::int64_t keyCode_;
    std::uint32_t modifiers_;
};
