#include "TLKeyEquivalent.h"

#include "TLEventFlags.h"
#include "TLKeyTable.h"

#include <QChar>

#include <algorithm>

namespace {

constexpr char16_t kRightArrow = 0xF703;
constexpr char16_t kF1 = 0xF704;
constexpr char16_t kF20 = 0xF717;

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
    if (const TLKey* key = TLKeyTable::byVirtualKeyCode(keyCode); key && key->menuCharacter != 0) {
        return key->menuCharacter;
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
    const auto keys = TLKeyTable::keys();
    const auto fixed = std::ranges::find(keys, keyEquivalent, &TLKey::menuCharacter);
    if (keyEquivalent != 0 && fixed != keys.end()) {
        return fixed->qtKey;
    }
    if (keyEquivalent >= kF1 && keyEquivalent <= kF20) {
        return Qt::Key_F1 + (keyEquivalent - kF1);
    }
    // Qt names character keys by their upper-case form.
    return QChar(keyEquivalent).toUpper().unicode();
}

QKeySequence TLKeyEquivalent::keySequence(char16_t keyEquivalent, std::uint64_t eventFlags) {
    Qt::KeyboardModifiers modifiers;
    if (eventFlags & TLEventFlags::Control) {
        modifiers |= Qt::ControlModifier;
    }
    if (eventFlags & TLEventFlags::Option) {
        modifiers |= Qt::AltModifier;
    }
    if (eventFlags & TLEventFlags::Shift) {
        modifiers |= Qt::ShiftModifier;
    }
    if (eventFlags & TLEventFlags::Command) {
        modifiers |= Qt::MetaModifier;
    }
    return QKeySequence(QKeyCombination(modifiers, static_cast<Qt::Key>(qtKey(keyEquivalent))));
}
