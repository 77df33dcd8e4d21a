#include "TLKeyEquivalent.h"

#include <QChar>

#include <array>

namespace {

// Event modifier flags, as TLShortcut converts Carbon masks into them.
constexpr std::uint64_t kFlagShift = 0x20000;
constexpr std::uint64_t kFlagControl = 0x40000;
constexpr std::uint64_t kFlagOption = 0x80000;
constexpr std::uint64_t kFlagCommand = 0x100000;

constexpr char16_t kUpArrow = 0xF700;
constexpr char16_t kDownArrow = 0xF701;
constexpr char16_t kLeftArrow = 0xF702;
constexpr char16_t kRightArrow = 0xF703;
constexpr char16_t kF1 = 0xF704;
constexpr char16_t kF20 = 0xF717;
constexpr char16_t kDeleteFunction = 0xF728;
constexpr char16_t kHomeFunction = 0xF729;
constexpr char16_t kEndFunction = 0xF72B;
constexpr char16_t kPageUpFunction = 0xF72C;
constexpr char16_t kPageDownFunction = 0xF72D;

// The keys whose key equivalent is fixed, with the Qt key each stands for in a menu.
struct FixedKey {
    std::int64_t keyCode;
    char16_t character;
    Qt::Key qtKey;
};
constexpr std::array<FixedKey, 14> kFixedKeys{{
    {36, 0x000D, Qt::Key_Return},               // Return
    {48, 0x0009, Qt::Key_Tab},                  // Tab
    {49, 0x0020, Qt::Key_Space},                // Space
    {51, 0x0008, Qt::Key_Backspace},            // Delete (backspace)
    {53, 0x001B, Qt::Key_Escape},               // Escape
    {115, kHomeFunction, Qt::Key_Home},         // Home
    {116, kPageUpFunction, Qt::Key_PageUp},     // Page Up
    {117, kDeleteFunction, Qt::Key_Delete},     // Forward Delete
    {119, kEndFunction, Qt::Key_End},           // End
    {121, kPageDownFunction, Qt::Key_PageDown}, // Page Down
    {123, kLeftArrow, Qt::Key_Left},            // Left arrow
    {124, kRightArrow, Qt::Key_Right},          // Right arrow
    {125, kDownArrow, Qt::Key_Down},            // Down arrow
    {126, kUpArrow, Qt::Key_Up},                // Up arrow
}};

// The integer value of a text as the menu rule reads it: leading blanks, an optional sign and
// the digits that follow; 0 when there are none.
long long leadingInteger(QStringView text) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace()) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i].unicode() - u'0');
        if (value > 1'000'000) {
            break; // far outside 1…20 already
        }
    }
    return negative ? -value : value;
}

} // namespace

std::optional<char16_t> TLKeyEquivalent::forKeyCode(std::int64_t keyCode, const QString& bareDisplay) {
    for (const FixedKey& fixed : kFixedKeys) {
        if (fixed.keyCode == keyCode) {
            return fixed.character;
        }
    }
    if (bareDisplay.size() == 1) {
        return bareDisplay.toLower().at(0).unicode();
    }
    if (bareDisplay.startsWith(u'F') && bareDisplay.size() <= 3) {
        const long long n = leadingInteger(QStringView(bareDisplay).mid(1));
        if (n >= 1 && n <= 20) {
            return static_cast<char16_t>(kRightArrow + n);
        }
    }
    return std::nullopt;
}

int TLKeyEquivalent::qtKey(char16_t keyEquivalent) {
    for (const FixedKey& fixed : kFixedKeys) {
        if (fixed.character == keyEquivalent) {
            return fixed.qtKey;
        }
    }
    if (keyEquivalent >= kF1 && keyEquivalent <= kF20) {
        return Qt::Key_F1 + (keyEquivalent - kF1);
    }
    // Qt names character keys by their upper-case form.
    return QChar(keyEquivalent).toUpper().unicode();
}

QKeySequence TLKeyEquivalent::keySequence(char16_t keyEquivalent, std::uint64_t eventFlags) {
    Qt::KeyboardModifiers modifiers;
    if (eventFlags & kFlagControl) {
        modifiers |= Qt::ControlModifier;
    }
    if (eventFlags & kFlagOption) {
        modifiers |= Qt::AltModifier;
    }
    if (eventFlags & kFlagShift) {
        modifiers |= Qt::ShiftModifier;
    }
    if (eventFlags & kFlagCommand) {
        modifiers |= Qt::MetaModifier;
    }
    return QKeySequence(QKeyCombination(modifiers, static_cast<Qt::Key>(qtKey(keyEquivalent))));
}
