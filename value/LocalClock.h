#ifndef QUORVEX_LOCALCLOCK_H
#define QUORVEX_LOCALCLOCK_H

#include <QDateTime>
#include <functional>
#include <limits>

// The local time of a read or write, without asking the C library for the
// time zone each time: every such question makes it look at the zone file
// again, which cost more than the rest of a one-element read. The offset
// from UTC is asked once per UTC second and applied to the UTC clock.
// Zone changes fall on whole seconds, so a result is always the local time
// the zone gives for that instant; a zone the system is switched to is
// seen within a second.
namespace localclock
{

struct OffsetCache {
    qint64 second = std::numeric_limits<qint64>::min(); // UTC second the offset is for
    int offsetSecs = 0;
};

// The offset from UTC, in seconds, in force at a UTC second.
using OffsetAt = std::function<int(qint64 utcSecond)>;

// `utcMs` as local time with its offset, asking `offsetAt` only when
// `utcMs` lies outside the second the cache holds.
QDateTime localTime(qint64 utcMs, OffsetCache &cache, const OffsetAt &offsetAt);

// The current local time; each thread keeps its own cache.
QDateTime now();

} // namespace localclock

#endif
