#pragma once

#include <QtGlobal>

// The current time and local offset, cheap enough to stamp every log entry of a flood.
// Asking the C library for the local zone costs a check of the zone file on every call
// when TZ is unset; the offset from UTC is looked up once a second instead, so a change
// of daylight-saving time shows within a second.
namespace LocalClock {

struct Stamp
{
    qint64 msecs = 0; // since the epoch
    qint32 offsetSeconds = 0;
};

Stamp now();

} // namespace LocalClock
