#ifndef QUORVEX_SIM_ROUTEPATH_H
#define QUORVEX_SIM_ROUTEPATH_H

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

// Route paths (port segments) of Unconnected Send and of Forward Open
// connection paths, and the routes this simulated controller takes.
namespace qsim
{

struct PortSegment {
    quint16 port = 0;
    QByteArray link;       // one byte (slot), or the bytes of a longer address
    bool longLink = false; // the address came with its own length byte
};

// Reads the port segments at the start of `path`, up to the first segment of
// another type or the end. Returns the bytes they take, or -1 when a port
// segment runs past the end.
int parsePortSegments(const QByteArray &path, QVector<PortSegment> *out);

// The whole of `path` as port segments; false when anything else is there.
bool parseRoute(const QByteArray &path, QVector<PortSegment> *out);

// Which routes reach this controller's processor.
struct RoutePolicy {
    int slot = -1;       // >= 0: the processor's backplane slot; only port 1 link `slot`
    QByteArray bridge;   // non-empty: only through an Ethernet bridge to this address
    bool direct = false; // addressed directly: no route at all
    bool anyRoute() const { return slot < 0 && bridge.isEmpty() && !direct; }
};

// 0 when `route` reaches the processor under `policy`, else the extended
// status of the refusal: port not available (direct) or link address not
// valid. With a bridge the route is port 1 link K (the bridge module's slot,
// any), port 2 to the bridge address, port 1 link `slot` (0 when not set).
quint16 checkRoute(const QVector<PortSegment> &route, const RoutePolicy &policy);

} // namespace qsim

#endif
