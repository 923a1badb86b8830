#include "Messaging.h"

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "EncapFrame.h"

namespace messaging
{

namespace
{

// Class and instance segments of one byte each.
constexpr int LogicalPathSize = 4;
// Unconnected Send bytes around the embedded request: service, path size,
// path, tick, ticks, embedded size, route size, reserved.
constexpr int UcsFixedSize = 2 + LogicalPathSize + 2 + 2 + 2;
// Interface handle, time-out, item count, two item headers.
constexpr int CpfHeaderSize = eip::OffCipMessage - eip::HeaderSize;
// A reply's type code, and the handle that follows a structure's.
constexpr int TypeAndHandleSize = 4;

void putLogicalPath(le::Writer &w, quint8 cls, quint8 instance)
{
    w.put8(cip::SegClass8);
    w.put8(cls);
    w.put8(cip::SegInstance8);
    w.put8(instance);
}

QByteArray logicalPath(quint8 cls, quint8 instance)
{
    char p[LogicalPathSize];
    le::Writer w(p, sizeof p);
    putLogicalPath(w, cls, instance);
    return QByteArray(p, w.size());
}

// Everything of a SendRRData frame before its unconnected data item.
void putSendRRDataHead(le::Writer &w, const QByteArray &session, int cipSize)
{
    encap::putHeader(w, eip::SendRRData, static_cast<quint16>(CpfHeaderSize + cipSize), session);
    w.put32(0); // interface handle: CIP
    w.put16(eip::CpfTimeout);
    w.put16(eip::CpfItemCount);
    w.put16(eip::ItemNullAddress);
    w.put16(0);
    w.put16(eip::ItemUnconnectedData);
    w.put16(static_cast<quint16>(cipSize));
}

} // namespace

QByteArray mrRequest(quint8 service, const QByteArray &path, const QByteArray &data)
{
    QByteArray r;
    r.reserve(2 + path.size() + data.size());
    le::put8(r, service);
    le::put8(r, static_cast<quint8>(path.size() / 2));
    r.append(path);
    r.append(data);
    return r;
}

QByteArray connectionManagerPath()
{
    return logicalPath(cip::ConnectionManagerClass, cip::ConnectionManagerInstance);
}

QByteArray messageRouterPath()
{
    return logicalPath(cip::MessageRouterClass, cip::MessageRouterInstance);
}

QByteArray sendRRData(const QByteArray &session, const QByteArray &cipMessage)
{
    QByteArray f(eip::OffCipMessage + cipMessage.size(), Qt::Uninitialized);
    le::Writer w(f.data(), f.size());
    putSendRRDataHead(w, session, cipMessage.size());
    w.putBytes(cipMessage.constData(), cipMessage.size());
    return f;
}

QByteArray unconnectedFrame(const QByteArray &session, const route::Route &route,
                            const QByteArray &mrRequest)
{
    return unconnectedFrame(session, route.direct, route.direct ? QByteArray() : route.bytes(),
                            mrRequest);
}

QByteArray unconnectedFrame(const QByteArray &session, bool direct, const QByteArray &routeBytes,
                            const QByteArray &mrRequest)
{
    if (direct)
        return sendRRData(session, mrRequest);
    // Written straight into one buffer of the final size, no append: a
    // read sends one of these per request.
    const int pad = mrRequest.size() % 2;
    const int cipSize = UcsFixedSize + mrRequest.size() + pad + routeBytes.size();
    QByteArray f(eip::OffCipMessage + cipSize, Qt::Uninitialized);
    le::Writer w(f.data(), f.size());
    putSendRRDataHead(w, session, cipSize);
    w.put8(cip::UnconnectedSend);
    w.put8(static_cast<quint8>(LogicalPathSize / 2));
    putLogicalPath(w, cip::ConnectionManagerClass, cip::ConnectionManagerInstance);
    w.put8(eip::PriorityTick);
    w.put8(eip::TimeoutTicks);
    w.put16(static_cast<quint16>(mrRequest.size()));
    w.putBytes(mrRequest.constData(), mrRequest.size());
    if (pad)
        w.put8(0);
    w.put8(static_cast<quint8>(routeBytes.size() / 2));
    w.put8(0); // reserved
    w.putBytes(routeBytes.constData(), routeBytes.size());
    return f;
}

FrameHead readFrameHead(le::Reader &r, const QByteArray &frame, quint16 command)
{
    FrameHead h;
    h.command = r.u16();
    const quint16 length = r.u16();
    r.skip(eip::SessionHandleSize);
    h.encapStatus = r.u32();
    r.skip(eip::ContextSize + 4); // context, options
    if (!r.ok())
        return h;
    if (h.command != command || h.encapStatus != eip::StatusSuccess) {
        h.verdict = Verdict::Encapsulation;
        return h;
    }
    if (length != frame.size() - eip::HeaderSize)
        return h;
    r.skip(4 + 2); // interface handle, time-out
    h.items = r.u16();
    if (r.ok())
        h.verdict = Verdict::Ok;
    return h;
}

Unwrapped unwrapUnconnected(const QByteArray &frame)
{
    Unwrapped u;
    if (frame.isEmpty())
        return u;
    le::Reader r(frame);
    const FrameHead head = readFrameHead(r, frame, eip::SendRRData);
    u.command = head.command;
    u.encapStatus = head.encapStatus;
    if (head.verdict != Verdict::Ok) {
        u.verdict = head.verdict;
        return u;
    }
    u.verdict = Verdict::Length;
    const quint16 items = head.items;
    const quint16 addressType = r.u16();
    const quint16 addressLength = r.u16();
    const quint16 dataType = r.u16();
    const quint16 dataLength = r.u16();
    if (!r.ok())
        return u;
    if (items != eip::CpfItemCount || addressType != eip::ItemNullAddress ||
        addressLength != 0 || dataType != eip::ItemUnconnectedData) {
        u.verdict = Verdict::Encapsulation;
        return u;
    }
    if (dataLength != r.remaining())
        return u;
    u.mr = r.bytes(dataLength);
    u.verdict = Verdict::Ok;
    return u;
}

bool readMrHeader(le::Reader &r, MrReply *m)
{
    m->service = r.u8();
    r.skip(1); // reserved
    m->generalStatus = r.u8();
    const int words = r.u8();
    for (int i = 0; i < words && r.ok(); ++i)
        m->ext.append(r.u16());
    if (!r.ok()) {
        m->ext.clear();
        return false;
    }
    return true;
}

MrReply parseMrReply(const QByteArray &mr)
{
    MrReply m;
    le::Reader r(mr);
    if (!readMrHeader(r, &m))
        return m;
    m.data = r.bytes(r.remaining());
    m.verdict = Verdict::Ok;
    return m;
}

bool connectionGone(const MrReply &reply)
{
    if (reply.verdict != Verdict::Ok || reply.generalStatus != cip::ConnectionFailure ||
        reply.ext.isEmpty())
        return false;
    return reply.ext.first() == cip::ExtConnectionNotFound ||
           reply.ext.first() == cip::ExtConnectionTimedOut;
}

MessageLimits unconnectedLimits(const route::Route &route)
{
    return unconnectedLimits(route.direct, route.direct ? 0 : route.bytes().size());
}

MessageLimits unconnectedLimits(bool direct, int routeBytes)
{
    MessageLimits l;
    l.request = eip::MaxUnconnectedMessage;
    if (!direct)
        l.request -= UcsFixedSize + routeBytes;
    l.reply = eip::MaxUnconnectedMessage;
    l.value = l.reply - cip::ReplyHeaderSize - TypeAndHandleSize;
    return l;
}

MessageLimits connectedLimits(int connectionSize)
{
    MessageLimits l;
    l.request = qMax(0, connectionSize - eip::SequenceCountSize);
    l.reply = qMax(0, connectionSize);
    l.value = qMax(0, l.reply - cip::ReplyHeaderSize - TypeAndHandleSize);
    return l;
}

} // namespace messaging
