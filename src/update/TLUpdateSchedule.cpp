#include "TLUpdateSchedule.h"

#include <algorithm>

qint64 TLUpdateSchedule::firstDelayMs(const std::optional<QVariant>& lastCheck, const QDateTime& now) {
    if (!lastCheck || lastCheck->typeId() != QMetaType::QDateTime) {
        return kMinimumDelayMs;
    }
    const QDateTime last = lastCheck->toDateTime();
    if (!last.isValid()) {
        return kMinimumDelayMs;
    }
    const qint64 elapsedMs = last.msecsTo(now);
    if (elapsedMs < kIntervalMs) {
        return std::max(kIntervalMs - elapsedMs, kMinimumDelayMs);
    }
    return kMinimumDelayMs;
}
