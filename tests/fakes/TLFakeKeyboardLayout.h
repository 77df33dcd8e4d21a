#pragma once

#include "TLKeyboardLayout.h"
#include "TLTest.h"

// Keyboard layout for tests: the unmodified text of each key by virtual key code, US or German
// (Y and Z swapped, ß and ü), switched like a user switches layouts; every question is counted.
class TLFakeKeyboardLayout final : public TLKeyboardLayout {
public:
    explicit TLFakeKeyboardLayout(bool german = false) { switchTo(german); }

    QString characterForKeyCode(std::int64_t virtualKeyCode) const override {
        ++callCount;
        const auto it = keys.find(virtualKeyCode);
        return it != keys.end() ? it->second : QString();
    }
    void switchTo(bool german) {
        keys.clear();
        const QString us = QStringLiteral("asdfhgzxcv_bqweryt123465=97-80]ou[ip_lj'k;\\,/nm.__`");
        for (int code = 0; code < us.size(); ++code) {
            if (us[code] != u'_') {
                keys[code] = us.mid(code, 1);
            }
        }
        if (german) {
            keys[6] = QStringLiteral("y");
            keys[16] = QStringLiteral("z");
            keys[27] = QStringLiteral("ß");
            keys[33] = QStringLiteral("ü");
        }
    }

    std::map<std::int64_t, QString> keys; // a test may change or add single keys
    mutable int callCount = 0;
};
