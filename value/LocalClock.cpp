#include "LocalClock.h"

namespace localclock
{

namespace
{

constexpr qint64 MsPerSecond = 1000;

// Whole seconds before `ms`, also before 1970.
qint64 floorSecond(qint64 ms)
{
    return ms >= 0 ? ms / MsPerSecond : -((-ms + MsPerSecond - 1) / MsPerSecond);
}

int systemOffset(qint64 utcSecond)
{
    return QDateTime::fromSecsSinceEpoch(utcSecond, Qt::LocalTime).offsetFromUtc();
}

} // namespace

QDateTime localTime(qint64 utcMs, OffsetCache &cache, const OffsetAt &offsetAt)
{
    const qint64 second = floorSecond(utcMs);
    if (second != cache.second) {
        cache.offsetSecs = offsetAt(second);
        cache.second = second;
    }
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::OffsetFromUTC, cache.offsetSecs);
}

QDateTime now()
{
    thread_local OffsetCache cache;
    static const OffsetAt system = systemOffset;
    return localTime(QDateTime::currentMSecsSinceEpoch(), cache, system);
}

} // namespace localclock
