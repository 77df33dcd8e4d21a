#include "TLShortcut.h"

#include "TLEventFlags.h"
#include "TLKeyboardLayout.h"
#include "TLModifiers.h"

#include <array>
#include <utility>

namespace {

struct FixedLabel {
    std::int64_t keyCode;
    const char* label;
};

// Keys whose label does not come from the keyboard layout.
constexpr std::array<FixedLabel, 27> kFixedLabels{{
    {36, "↩"},    {48, "⇥"},   {49, "Leertaste"}, {51, "⌫"},   {53, "⎋"},   {76, "⌤"},    {96, "F5"},
    {97, "F6"},   {98, "F7"},  {99, "F3"},        {100, "F8"}, {101, "F9"}, {103, "F11"}, {109, "F10"},
    {111, "F12"}, {115, "↖"},  {116, "⇞"},        {117, "⌦"},  {118, "F4"}, {119, "↘"},   {120, "F2"},
    {121, "⇟"},   {122, "F1"}, {123, "←"},        {124, "→"},  {125, "↓"},  {126, "↑"},
}};

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

QString TLShortcut::displayString() const {
    if (!isBound()) {
        return QStringLiteral("–");
    }
    return modifierGlyphs(modifiers_) + labelForKeyCode(keyCode_);
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

QString TLShortcut::labelForKeyCode(std::int64_t keyCode) {
    for (const FixedLabel& fixed : kFixedLabels) {
        if (fixed.keyCode == keyCode) {
            return QString::fromUtf8(fixed.label);
        }
    }
    if (TLKeyboardLayout* layout = TLKeyboardLayout::installed()) {
        // Only the low 16 bits name a key, as in a recorded key event.
        const QString character = layout->characterForKeyCode(keyCode & 0xFFFF);
        if (!character.isEmpty()) {
            // QString::toUpper is Unicode case mapping without a locale (ß gives SS).
            return character.toUpper();
        }
    }
    return QStringLiteral("#%1").arg(keyCode);
}
