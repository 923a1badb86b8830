#include "ForwardOpen.h"

#include "ByteOrder.h"
#include "EipProtocol.h"

namespace connmgr
{

namespace
{

constexpr int ReservedAfterMultiplier = 3;
// Connection serial, vendor, originator serial: what a reply echoes.
constexpr int TripletSize = 2 + 2 + 4;

void putNetworkParameters(QByteArray &out, bool large, int size)
{
    if (large)
        le::put32(out, cip::NetPointToPoint32 | cip::NetVariableSize32 |
                           (static_cast<quint32>(size) & cip::NetSizeMask32));
    else
        le::put16(out, static_cast<quint16>(cip::NetPointToPoint16 | cip::NetVariableSize16 |
                                            (static_cast<quint16>(size) & cip::NetSizeMask16)));
}

void putTriplet(QByteArray &out, quint16 serial)
{
    le::put16(out, serial);
    le::put16(out, OriginatorVendor);
    le::put32(out, OriginatorSerial);
}

void putPath(QByteArray &out, const route::Route &route)
{
    const QByteArray path = connectionPath(route);
    le::put8(out, static_cast<quint8>(path.size() / 2));
    out.append(path);
}

// Reply service, status words and data; Service when it answers another
// request.
messaging::MrReply header(const QByteArray &mr, quint8 service, messaging::Verdict *verdict)
{
    const messaging::MrReply m = messaging::parseMrReply(mr);
    *verdict = m.verdict;
    if (m.verdict == messaging::Verdict::Ok && m.service != (service | cip::ReplyBit))
        *verdict = messaging::Verdict::Service;
    return m;
}

} // namespace

QByteArray connectionPath(const route::Route &route)
{
    return route.bytes() + messaging::messageRouterPath();
}

QByteArray forwardOpenRequest(const OpenRequest &r)
{
    QByteArray d;
    le::put8(d, eip::PriorityTick);
    le::put8(d, eip::TimeoutTicks);
    le::put32(d, 0); // O->T id: the target picks it
    le::put32(d, r.toConnectionId);
    putTriplet(d, r.serial);
    le::put8(d, TimeoutMultiplier);
    d.append(ReservedAfterMultiplier, '\0');
    le::put32(d, RequestedRpiUs);
    putNetworkParameters(d, r.large, r.connectionSize);
    le::put32(d, RequestedRpiUs);
    putNetworkParameters(d, r.large, r.connectionSize);
    le::put8(d, cip::TransportClass3Server);
    putPath(d, r.route);
    return messaging::mrRequest(r.large ? cip::LargeForwardOpen : cip::ForwardOpen,
                                messaging::connectionManagerPath(), d);
}

OpenReply parseForwardOpenReply(const QByteArray &mr, bool large)
{
    OpenReply o;
    const messaging::MrReply m =
        header(mr, large ? cip::LargeForwardOpen : cip::ForwardOpen, &o.verdict);
    if (o.verdict != messaging::Verdict::Ok)
        return o;
    o.generalStatus = m.generalStatus;
    o.ext = m.ext;
    le::Reader r(m.data);
    if (m.generalStatus != cip::Success) {
        o.verdict = messaging::Verdict::Refused;
        // A retry goes in a request of the same kind, whose size field
        // holds no more than this: a larger figure would be cut to its low
        // bits and ask for something the target never named.
        if (m.generalStatus == cip::ConnectionFailure && m.ext.size() >= 2 &&
            m.ext.first() == cip::ExtInvalidConnectionSize)
            o.acceptedSize =
                qMin<int>(m.ext.at(1), large ? cip::NetSizeMask32 : cip::NetSizeMask16);
        // Not every target sends the echo after an error.
        if (r.remaining() >= TripletSize) {
            o.serial = r.u16();
            o.vendor = r.u16();
            o.originatorSerial = r.u32();
        }
        return o;
    }
    o.otConnectionId = r.u32();
    o.toConnectionId = r.u32();
    o.serial = r.u16();
    o.vendor = r.u16();
    o.originatorSerial = r.u32();
    o.otRpiUs = r.u32();
    o.toRpiUs = r.u32();
    const int appWords = r.u8();
    r.skip(1); // reserved
    r.skip(appWords * 2);
    if (!r.ok())
        o.verdict = messaging::Verdict::Length;
    return o;
}

QByteArray forwardCloseRequest(const CloseRequest &r)
{
    QByteArray d;
    le::put8(d, eip::PriorityTick);
    le::put8(d, eip::TimeoutTicks);
    putTriplet(d, r.serial);
    const QByteArray path = connectionPath(r.route);
    le::put8(d, static_cast<quint8>(path.size() / 2));
    le::put8(d, 0); // reserved
    d.append(path);
    return messaging::mrRequest(cip::ForwardClose, messaging::connectionManagerPath(), d);
}

CloseReply parseForwardCloseReply(const QByteArray &mr)
{
    CloseReply c;
    const messaging::MrReply m = header(mr, cip::ForwardClose, &c.verdict);
    if (c.verdict != messaging::Verdict::Ok)
        return c;
    c.generalStatus = m.generalStatus;
    c.ext = m.ext;
    le::Reader r(m.data);
    if (r.remaining() >= TripletSize || m.generalStatus == cip::Success) {
        c.serial = r.u16();
        c.vendor = r.u16();
        c.originatorSerial = r.u32();
    }
    if (m.generalStatus != cip::Success)
        c.verdict = messaging::Verdict::Refused;
    else if (!r.ok())
        c.verdict = messaging::Verdict::Length;
    return c;
}

} // namespace connmgr
