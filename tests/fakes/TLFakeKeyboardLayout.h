#pragma once

#include "TLKeyboardLayout.h"

#include <QString>

#include <cstdint>
#include <map>

// Keyboard layout for tests: a table from virtual key code to the key's unmodified text,
// switchable between a US and a German arrangement like a user switching layouts.
class TLFakeKeyboardLayout final : public TLKeyboardLayout {
public:
    enum class Arrangement { US, German };

    explicit TLFakeKeyboardLayout(Arrangement arrangement = Arrangement::US);

    QString characterForKeyCode(std::int64_t virtualKeyCode) const override;

    void switchTo(Arrangement arrangement);
    // Overrides or adds one key; an empty text makes the key unlabelled.
    void setCharacter(std::int64_t virtualKeyCode, const QString& text) { keys_[virtualKeyCode] = text; }

    mutable int callCount = 0;
    mutable std::int64_t lastKeyCode = -1;

private:
    std::map<std::int64_t, QString> keys_;
};
