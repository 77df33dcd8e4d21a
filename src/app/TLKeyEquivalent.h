#pragma once

#include <QKeySequence>
#include <QString>

#include <cstdint>
#include <optional>

// The key equivalent a status-menu item shows for a bound shortcut: one UTF-16 character in the
// menu convention (letters in lower case, the private-use characters U+F700… for arrows, the
// navigation block and F1–F20), or none when the key has no such character.
class TLKeyEquivalent {
public:
    // keyCode is the shortcut's virtual key code; bareDisplay the display text of that key
    // without modifiers, which decides for every key outside the fixed table.
    static std::optional<char16_t> forKeyCode(std::int64_t keyCode, const QString& bareDisplay);

    // The Qt key a key equivalent stands for (Qt::Key_Left for U+F702, Qt::Key_F5 for U+F708,
    // Qt::Key_A for "a"); other characters stand for themselves.
    static int qtKey(char16_t keyEquivalent);

    // The menu's key sequence: the key equivalent with the modifiers of event modifier flags
    // (Control, Option = Alt, Shift, Command = Meta).
    static QKeySequence keySequence(char16_t keyEquivalent, std::uint64_t eventFlags);
};
