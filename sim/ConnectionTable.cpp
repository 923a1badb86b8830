#include "ConnectionTable.h"

#include <algorithm>

namespace qsim
{

namespace
{

// Spreads consecutive counts over the id space; odd, so no two counts share
// an id.
constexpr quint32 IdSpread = 0x2545F491u;

} // namespace

int ConnectionTable::expire(qint64 nowMs, qint64 overrideMs)
{
    const int before = live.size();
    live.erase(std::remove_if(live.begin(), live.end(),
                              [=](const Connection &c) {
                                  const qint64 limit = overrideMs > 0 ? overrideMs : c.timeoutMs;
                                  return nowMs - c.lastMs > limit;
                              }),
               live.end());
    return before - live.size();
}

bool ConnectionTable::hasTriad(const Connection &c) const
{
    return std::any_of(live.begin(), live.end(),
                       [&](const Connection &o) { return o.sameTriad(c); });
}

quint32 ConnectionTable::add(Connection c)
{
    do {
        ++counter;
        c.otId = counter * IdSpread;
    } while (c.otId == 0);
    live.append(c);
    return c.otId;
}

Connection *ConnectionTable::find(quint32 otId, quint64 owner)
{
    for (Connection &c : live) {
        if (c.otId == otId && c.owner == owner)
            return &c;
    }
    return nullptr;
}

bool ConnectionTable::close(const Connection &c, quint64 owner)
{
    for (int i = 0; i < live.size(); ++i) {
        if (live.at(i).owner == owner && live.at(i).sameTriad(c)) {
            live.remove(i);
            return true;
        }
    }
    return false;
}

int ConnectionTable::dropOwner(quint64 owner)
{
    const int before = live.size();
    live.erase(std::remove_if(live.begin(), live.end(),
                              [=](const Connection &c) { return c.owner == owner; }),
               live.end());
    return before - live.size();
}

} // namespace qsim
