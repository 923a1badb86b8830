#ifndef QUORVEX_SIM_CIPSERVICE_H
#define QUORVEX_SIM_CIPSERVICE_H

#include "RoutePath.h"
#include "TagDatabase.h"

#include <QByteArray>

// The simulated controller's Message Router: answers one CIP request
// (service, path size in words, path, data) with one CIP reply.
namespace qsim
{

// Value bytes one reply carries at most; larger data comes in parts.
constexpr int MaxReplyValueBytes = 480;

struct CipOptions {
    int forcedStatus = -1; // >= 0: every tag read answers this general status
    RoutePolicy route;     // the routes an Unconnected Send may take
};

// Unconnected Send to the Connection Manager is unwrapped (its route checked
// against `options.route`) and its embedded request answered; Read Tag and Read Tag
// Fragmented are served from `db`; anything else is refused as a controller
// would refuse it. Never fails: malformed input gets an error reply.
QByteArray handleCip(const QByteArray &request, const TagDatabase &db,
                     const CipOptions &options = CipOptions());

// A reply without data: service | 0x80, reserved, status, additional status.
QByteArray cipError(quint8 service, quint8 status, quint16 extStatus = 0);

// A route the Connection Manager does not take: general status 0x01, the
// extended status, then the route's size in words (the remaining path).
QByteArray routeFailure(quint8 service, quint16 extStatus, quint8 routeWords);

} // namespace qsim

#endif
