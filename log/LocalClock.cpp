#include "LocalClock.h"

#include <limits>

namespace LocalClock {

QDateTime now()
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    thread_local qint64 checkedAt = std::numeric_limits<qint64>::min();
    thread_local int offsetSeconds = 0;
    if (ms < checkedAt || ms - checkedAt >= 1000) {
        offsetSeconds = QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime).offsetFromUtc();
        checkedAt = ms;
    }
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::OffsetFromUTC, offsetSeconds);
}

} // namespace LocalClock
