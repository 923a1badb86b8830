#include "ConnectionManager.h"

#include "ByteOrder.h"
#include "ConnectionTable.h"

#include <initializer_list>

namespace qsim
{

namespace
{

constexpr qint64 UsPerMs = 1000;
constexpr int ReservedAfterMultiplier = 3;
constexpr int TimeTickBytes = 2; // priority/time tick, time-out ticks

// The Message Router, where a connection path must end.
QByteArray messageRouterPath()
{
    QByteArray p;
    le::put8(p, cip::SegClass8);
    le::put8(p, cip::MessageRouterClass);
    le::put8(p, cip::SegInstance8);
    le::put8(p, cip::MessageRouterInstance);
    return p;
}

void putTriad(QByteArray &out, const Connection &c)
{
    le::put16(out, c.serial);
    le::put16(out, c.vendor);
    le::put32(out, c.originatorSerial);
}

QByteArray replyHeader(quint8 service, quint8 status, std::initializer_list<quint16> ext)
{
    QByteArray reply;
    le::put8(reply, service | cip::ReplyBit);
    le::put8(reply, 0);
    le::put8(reply, status);
    le::put8(reply, static_cast<quint8>(ext.size()));
    for (const quint16 w : ext)
        le::put16(reply, w);
    return reply;
}

// General status 0x01, the extended status words, then the triad, the
// remaining path size and a reserved byte.
QByteArray failure(quint8 service, std::initializer_list<quint16> ext, const Connection &c,
                   quint8 remainingWords = 0)
{
    QByteArray reply = replyHeader(service, cip::ConnectionFailure, ext);
    putTriad(reply, c);
    le::put8(reply, remainingWords);
    le::put8(reply, 0);
    return reply;
}

// 0 when the connection path is a route this controller takes followed by
// the Message Router, else the extended status of the refusal.
quint16 checkConnectionPath(const QByteArray &path, const RoutePolicy &policy)
{
    QVector<PortSegment> route;
    const int routeBytes = parsePortSegments(path, &route);
    if (routeBytes < 0)
        return cip::ExtInvalidSegment;
    if (const quint16 refused = checkRoute(route, policy))
        return refused;
    if (path.mid(routeBytes) != messageRouterPath())
        return cip::ExtInvalidSegment;
    return 0;
}

} // namespace

qint64 connectionTimeoutMs(quint32 otRpiUs, quint8 multiplier)
{
    const qint64 factor = qint64(4) << qMin<int>(multiplier, cip::MaxTimeoutMultiplier);
    return qMax<qint64>(1, qint64(otRpiUs) * factor / UsPerMs);
}

QByteArray forwardOpen(quint8 service, const QByteArray &data, const CipOptions &options,
                       CipEffects *effects)
{
    const bool large = service == cip::LargeForwardOpen;
    ConnectionTable *table = options.client.connections;
    if (!table || !options.forwardOpen || (large && !options.largeForwardOpen))
        return cipError(service, cip::ServiceNotSupported);

    le::Reader r(data);
    r.skip(TimeTickBytes);
    r.u32(); // O->T id: the target picks it
    Connection c;
    c.toId = r.u32();
    c.serial = r.u16();
    c.vendor = r.u16();
    c.originatorSerial = r.u32();
    const quint8 multiplier = r.u8();
    r.skip(ReservedAfterMultiplier);
    const quint32 otRpi = r.u32();
    const quint32 otParams = large ? r.u32() : r.u16();
    const quint32 toRpi = r.u32();
    const quint32 toParams = large ? r.u32() : r.u16();
    const quint8 transport = r.u8();
    const quint8 pathWords = r.u8();
    const QByteArray path = r.bytes(2 * pathWords);
    if (!r.ok())
        return cipError(service, cip::NotEnoughData);

    if (transport != cip::TransportClass3Server)
        return failure(service, {cip::ExtTransportNotSupported}, c);
    if (const quint16 refused = checkConnectionPath(path, options.route))
        return failure(service, {refused}, c, pathWords);
    const quint32 mask = large ? cip::NetSizeMask32 : cip::NetSizeMask16;
    const int largest = large ? options.maxConnectionSize
                              : qMin(options.maxConnectionSize, cip::MaxForwardOpenSize);
    const int otSize = static_cast<int>(otParams & mask);
    const int toSize = static_cast<int>(toParams & mask);
    if (otSize > largest || toSize > largest)
        return failure(service, {cip::ExtInvalidConnectionSize, static_cast<quint16>(largest)}, c);

    table->expire(options.client.nowMs, options.client.connectionTimeoutMs);
    if (table->hasTriad(c))
        return failure(service, {cip::ExtConnectionInUse}, c);
    if (table->full())
        return failure(service, {cip::ExtOutOfConnections}, c);

    c.toSize = toSize;
    c.timeoutMs = connectionTimeoutMs(otRpi, multiplier);
    c.lastMs = options.client.nowMs;
    c.owner = options.client.owner;
    c.otId = table->add(c);
    if (effects)
        effects->opened = true;

    QByteArray reply = replyHeader(service, cip::Success, {});
    le::put32(reply, c.otId);
    le::put32(reply, c.toId);
    putTriad(reply, c);
    le::put32(reply, otRpi);
    le::put32(reply, toRpi);
    le::put8(reply, 0); // application reply size (words)
    le::put8(reply, 0);
    return reply;
}

QByteArray forwardClose(const QByteArray &data, const CipOptions &options, CipEffects *effects)
{
    le::Reader r(data);
    r.skip(TimeTickBytes);
    Connection c;
    c.serial = r.u16();
    c.vendor = r.u16();
    c.originatorSerial = r.u32();
    const quint8 pathWords = r.u8();
    r.skip(1);
    r.skip(2 * pathWords);
    if (!r.ok())
        return cipError(cip::ForwardClose, cip::NotEnoughData);
    ConnectionTable *table = options.client.connections;
    if (table)
        table->expire(options.client.nowMs, options.client.connectionTimeoutMs);
    if (!table || !table->close(c, options.client.owner))
        return failure(cip::ForwardClose, {cip::ExtConnectionNotFound}, c);
    if (effects)
        effects->closed = true;

    QByteArray reply = replyHeader(cip::ForwardClose, cip::Success, {});
    putTriad(reply, c);
    le::put8(reply, 0); // application reply size (words)
    le::put8(reply, 0);
    return reply;
}

} // namespace qsim
