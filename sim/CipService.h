#ifndef QUORVEX_SIM_CIPSERVICE_H
#define QUORVEX_SIM_CIPSERVICE_H

#include "EipProtocol.h"
#include "RoutePath.h"
#include "TagDatabase.h"

#include <QByteArray>

// The simulated controller's Message Router: answers one CIP request
// (service, path size in words, path, data) with one CIP reply.
namespace qsim
{

class ConnectionTable;

// Value bytes one unconnected reply carries at most; larger data comes in parts.
constexpr int MaxReplyValueBytes = 480;

// Who asks, and when: what connected messaging needs besides the request.
struct CipClient {
    ConnectionTable *connections = nullptr; // null: no Forward Open (0x08)
    quint64 owner = 0;                      // the client's connections are its own
    qint64 nowMs = 0;
    qint64 connectionTimeoutMs = -1; // > 0: replaces every connection's idle time-out
};

struct CipOptions {
    int forcedStatus = -1; // >= 0: every tag read or write answers this general status
    // Write Tag and Write Tag Fragmented store their data here, the database
    // served; without one they are refused.
    TagDatabase *store = nullptr;
    RoutePolicy route; // the routes an Unconnected Send or Forward Open may take
    int maxConnectionSize = cip::MaxLargeConnectionSize; // Forward Open: at most 511 of it
    bool forwardOpen = true;                             // false: 0x54 and 0x5B answer 0x08
    bool largeForwardOpen = true;                        // false: 0x5B answers 0x08
    bool readModifyWrite = true;                         // false: 0x4E to a tag answers 0x08
    // > 0: a reply, from its service byte on, is at most this long (a
    // connection's size); tag data then comes in parts that fit.
    int maxReplyBytes = 0;
    CipClient client;
};

// What answering a request did, for the simulator's counters.
struct CipEffects {
    bool tagRequest = false; // a tag read, write or Read-Modify-Write answered
    bool opened = false;     // a Forward Open succeeded
    bool closed = false;     // a Forward Close succeeded
};

// How the request reached the Message Router.
enum class CipVia {
    Unconnected, // in SendRRData: the Connection Manager's services are there
    Connected    // in SendUnitData, on an open connection: the target itself
};

// Unconnected Send to the Connection Manager is unwrapped (its route checked
// against `options.route`) and its embedded request answered; Forward Open,
// Large Forward Open and Forward Close open and close connections in
// `options.client.connections`; Read Tag and Read Tag Fragmented are served
// from `db`, the writes go to `options.store`; anything else is refused as a controller would
// refuse it. Never fails: malformed input gets an error reply.
QByteArray handleCip(const QByteArray &request, const TagDatabase &db,
                     const CipOptions &options = CipOptions(), CipEffects *effects = nullptr,
                     CipVia via = CipVia::Unconnected);

// What Read Tag and Write Tag share before they touch the data: the status
// a fault forces on every tag request, and the tag the path addresses.
// Each returns the reply that refuses the request, or an empty one.
QByteArray forcedTagReply(quint8 service, const CipOptions &options);
struct PathTarget;
QByteArray resolveTagPath(quint8 service, const QByteArray &path, const TagDatabase &db,
                          PathTarget *target);

// A reply without data: service | 0x80, reserved, status, additional status.
QByteArray cipError(quint8 service, quint8 status, quint16 extStatus = 0);

// A route the Connection Manager does not take: general status 0x01, the
// extended status, then the route's size in words (the remaining path).
QByteArray routeFailure(quint8 service, quint16 extStatus, quint8 routeWords);

} // namespace qsim

#endif
