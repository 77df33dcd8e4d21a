#include "TLShortcut.h"

#include "TLEventFlags.h"
#include "TLKeyTable.h"
#include "TLKeyboardLayout.h"
#include "TLModifiers.h"

#include <array>
#include <utility>

namespace {

struct ModifierPair {
    std::uint64_t eventFlag;
    std::uint32_t carbonBit;
    const char* glyph;
};

// In the order the glyphs are shown.
constexpr std::array<ModifierPair, 4> kModifierPairs{{
    {TLEventFlags::Control, TLControlKey, "⌃"},
    {TLEventFlags::Option, TLOptionKey, "⌥"},
    {TLEventFlags::Shift, TLShiftKey, "⇧"},
    {TLEventFlags::Command, TLCmdKey, "⌘"},
}};

} // namespace

TLShortcut TLShortcut::shortcutWithKeyCode(std::int64_t keyCode, std::uint32_t modifiers) {
    return TLShortcut(keyCode, modifiers);
}

TLShortcut TLShortcut::unbound() {
    return TLShortcut(-1, 0);
}

bool TLShortcut::isEqualToShortcut(const TLShortcut* other) const {
    return other != nullptr && isBound() && other->isBound() && keyCode_ == other->keyCode_ &&
           modifiers_ == other->modifiers_;
}

std::uint32_t TLShortcut::carbonModifiersFromEventFlags(std::uint64_t flags) {
    std::uint32_t modifiers = 0;
    for (const ModifierPair& pair : kModifierPairs) {
        if ((flags & pair.eventFlag) != 0) {
            modifiers |= pair.carbonBit;
        }
    }
    return modifiers;
}

std::uint64_t TLShortcut::eventFlagsFromCarbonModifiers(std::uint32_t modifiers) {
    std::uint64_t flags = 0;
    for (const ModifierPair& pair : kModifierPairs) {
        if ((modifiers & pair.carbonBit) != 0) {
            flags |= pair.eventFlag;
        }
    }
    return flags;
}

QString TLShortcut::displayString(const TLKeyboardLayout& layout) const {
    if (!isBound()) {
        return QStringLiteral("–");
    }
    return modifierGlyphs(modifiers_) + labelForKeyCode(keyCode_, layout);
}

QString TLShortcut::modifierGlyphs(std::uint32_t modifiers) {
    QString glyphs;
    for (const ModifierPair& pair : kModifierPairs) {
        if ((modifiers & pair.carbonBit) != 0) {
            glyphs += QString::fromUtf8(pair.glyph);
        }
    }
    return glyphs;
}

QString TLShortcut::labelForKeyCode(std::int64_t keyCode, const TLKeyboardLayout& layout) {
    if (const TLKey* key = TLKeyTable::byVirtualKeyCode(keyCode); key && key->label) {
        return QString::fromUtf8(key->label);
    }
    // Only the low 16 bits name a key, as in a recorded key event.
    const QString character = layout.characterForKeyCode(keyCode & 0xFFFF);
    if (!character.isEmpty()) {
        // QString::toUpper is Unicode case mapping without a locale (ß gives SS).
        return character.toUpper();
    }
    return QStringLiteral("#%1").arg(keyCode);
}
