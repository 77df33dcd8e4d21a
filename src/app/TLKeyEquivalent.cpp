#include "TLKeyEquivalent.h"

#include <QChar>

#include <array>
#include <utility>

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

constexpr std::array<std::pair<std::int64_t, char16_t>, 14> kFixedKeys{{
    {36, 0x000D},             // Return
    {48, 0x0009},             // Tab
    {49, 0x0020},             // Space
    {51, 0x0008},             // Delete (backspace)
    {53, 0x001B},             // Escape
    {115, kHomeFunction},     // Home
    {116, kPageUpFunction},   // Page Up
    {117, kDeleteFunction},   // Forward Delete
    {119, kEndFunction},      // End
    {121, kPageDownFunction}, // Page Down
    {123, kLeftArrow},        // Left arrow
    {124, kRightArrow},       // Right arrow
    {125, kDownArrow},        // Down arrow
    {126, kUpArrow},          // Up arrow
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
    for (const auto& [code, character] : kFixedKeys) {
        if (code == keyCode) {
            return character;
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
    switch (keyEquivalent) {
    case 0x000D:
        return Qt::Key_Return;
    case 0x0009:
        return Qt::Key_Tab;
    case 0x0020:
        return Qt::Key_Space;
    case 0x0008:
        return Qt::Key_Backspace;
    case 0x001B:
        return Qt::Key_Escape;
    case kHomeFunction:
        return Qt::Key_Home;
    case kPageUpFunction:
        return Qt::Key_PageUp;
    case kDeleteFunction:
        return Qt::Key_Delete;
    case kEndFunction:
        return Qt::Key_End;
    case kPageDownFunction:
        return Qt::Key_PageDown;
    case kLeftArrow:
        return Qt::Key_Left;
    case kRightArrow:
        return Qt::Key_Right;
    case kDownArrow:
        return Qt::Key_Down;
    case kUpArrow:
        return Qt::Key_Up;
    default:
        break;
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
