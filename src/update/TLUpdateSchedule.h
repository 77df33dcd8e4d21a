#pragma once

#include <QDateTime>
#include <QVariant>

#include <optional>

// When the first automatic check after launch (or after the switch changes) is due.
class TLUpdateSchedule {
public:
    static constexpr qint64 kIntervalMs = 86400 * 1000LL; // one check every 24 hours
    static constexpr qint64 kMinimumDelayMs = 20 * 1000LL;

    // lastCheck is the stored value of TLLastUpdateCheck (absent or of any type). Within 24
    // hours after the last valid read the delay is the rest of those 24 hours, at least 20 s;
    // a read in the future (clock set back) lengthens it accordingly. Otherwise, and for
    // anything that is not a date, 20 s.
    static qint64 firstDelayMs(const std::optional<QVariant>& lastCheck, const QDateTime& now);
};
