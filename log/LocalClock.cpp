#include "LocalClock.h"

#include <QDateTime>

namespace LocalClock {

Stamp now()
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    thread_local bool known = false;
    thread_local qint64 checkedAt = 0;
    thread_local qint32 offsetSeconds = 0;
    if (!known || ms < checkedAt || ms - checkedAt >= 1000) {
        known = true;
        offsetSeconds = QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime).offsetFromUtc();
        checkedAt = ms;
    }
    return {ms, offsetSeconds};
}

} // namespace LocalClock
