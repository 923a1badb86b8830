#ifndef QUORVEX_TESTS_SIMFRAMES_H
#define QUORVEX_TESTS_SIMFRAMES_H

#include "ByteOrder.h"
#include "EipProtocol.h"

#include <QByteArray>

// Request builders for the simulator tests, written from the protocol
// layout independently of the simulator's own code.
namespace simtest
{

inline QByteArray sym(const QByteArray &name)
{
    QByteArray s;
    le::put8(s, cip::SegSymbolic);
    le::put8(s, static_cast<quint8>(name.size()));
    s += name;
    if (name.size() % 2)
        s += '\0';
    return s;
}

inline QByteArray el8(quint8 i)
{
    return QByteArray::fromHex("28") + QByteArray(1, static_cast<char>(i));
}

inline QByteArray el16(quint16 i)
{
    QByteArray s = QByteArray::fromHex("2900");
    le::put16(s, i);
    return s;
}

inline QByteArray el32(quint32 i)
{
    QByteArray s = QByteArray::fromHex("2a00");
    le::put32(s, i);
    return s;
}

inline QByteArray cipRequest(quint8 service, const QByteArray &path, const QByteArray &data)
{
    QByteArray r;
    le::put8(r, service);
    le::put8(r, static_cast<quint8>(path.size() / 2));
    return r + path + data;
}

inline QByteArray readTag(const QByteArray &path, quint16 count)
{
    QByteArray d;
    le::put16(d, count);
    return cipRequest(cip::ReadTag, path, d);
}

inline QByteArray readFrag(const QByteArray &path, quint16 count, quint32 offset)
{
    QByteArray d;
    le::put16(d, count);
    le::put32(d, offset);
    return cipRequest(cip::ReadTagFragmented, path, d);
}

// Unconnected Send to the Connection Manager along `route` (port segments).
inline QByteArray routedVia(const QByteArray &embedded, const QByteArray &route)
{
    QByteArray d = QByteArray::fromHex("0af0");
    le::put16(d, static_cast<quint16>(embedded.size()));
    d += embedded;
    if (embedded.size() % 2)
        d += '\0';
    le::put8(d, static_cast<quint8>(route.size() / 2));
    le::put8(d, 0);
    d += route;
    return cipRequest(cip::UnconnectedSend, QByteArray::fromHex("20062401"), d);
}

// Unconnected Send to the Connection Manager, routed to backplane slot 0.
inline QByteArray routed(const QByteArray &embedded)
{
    return routedVia(embedded, QByteArray::fromHex("0100"));
}

inline QByteArray sendRR(quint32 session, const QByteArray &cipMessage)
{
    QByteArray f;
    le::put16(f, eip::SendRRData);
    le::put16(f, static_cast<quint16>(16 + cipMessage.size()));
    le::put32(f, session);
    f += QByteArray(16, '\0');
    f += QByteArray::fromHex("000000000a00020000000000b200");
    le::put16(f, static_cast<quint16>(cipMessage.size()));
    return f + cipMessage;
}

// Vendor and originator serial of every Forward Open / Close built here.
constexpr quint16 TestVendor = 0x1234;
constexpr quint32 TestOriginatorSerial = 0x89ABCDEF;

// Forward Open (16-bit network parameters) or Large Forward Open (32-bit) to
// the Connection Manager; RPI 2 s both ways, the sizes in the parameters.
inline QByteArray forwardOpen(bool large, quint16 serial, quint32 otParams, quint32 toParams,
                              const QByteArray &path, quint8 transport = 0xA3,
                              quint32 toId = 0x11223344, quint8 multiplier = 0)
{
    QByteArray d = QByteArray::fromHex("0af000000000");
    le::put32(d, toId);
    le::put16(d, serial);
    le::put16(d, TestVendor);
    le::put32(d, TestOriginatorSerial);
    le::put8(d, multiplier);
    d += QByteArray(3, '\0');
    le::put32(d, 2000000);
    large ? le::put32(d, otParams) : le::put16(d, static_cast<quint16>(otParams));
    le::put32(d, 2000000);
    large ? le::put32(d, toParams) : le::put16(d, static_cast<quint16>(toParams));
    le::put8(d, transport);
    le::put8(d, static_cast<quint8>(path.size() / 2));
    d += path;
    return cipRequest(large ? 0x5B : 0x54, QByteArray::fromHex("20062401"), d);
}

inline QByteArray forwardClose(quint16 serial, const QByteArray &path)
{
    QByteArray d = QByteArray::fromHex("0af0");
    le::put16(d, serial);
    le::put16(d, TestVendor);
    le::put32(d, TestOriginatorSerial);
    le::put8(d, static_cast<quint8>(path.size() / 2));
    le::put8(d, 0);
    d += path;
    return cipRequest(0x4E, QByteArray::fromHex("20062401"), d);
}

// SendUnitData: the O->T connection id, then sequence count and request.
inline QByteArray sendUnit(quint32 session, quint32 connectionId, quint16 sequence,
                           const QByteArray &cipMessage)
{
    QByteArray f;
    le::put16(f, eip::SendUnitData);
    le::put16(f, static_cast<quint16>(22 + cipMessage.size()));
    le::put32(f, session);
    f += QByteArray(16, '\0');
    f += QByteArray::fromHex("0000000000000200a1000400");
    le::put32(f, connectionId);
    f += QByteArray::fromHex("b100");
    le::put16(f, static_cast<quint16>(2 + cipMessage.size()));
    le::put16(f, sequence);
    return f + cipMessage;
}

// The CIP reply of a SendUnitData reply and its connection id and sequence
// count, or an empty array when the frame is not laid out as one.
inline QByteArray connectedCipOf(const QByteArray &reply, quint32 *connectionId = nullptr,
                                 quint16 *sequence = nullptr)
{
    le::Reader r(reply);
    const quint16 command = r.u16();
    const quint16 length = r.u16();
    r.skip(20);
    r.skip(6);
    const quint16 items = r.u16();
    const quint16 addressType = r.u16();
    const quint16 addressLength = r.u16();
    const quint32 id = r.u32();
    const quint16 dataType = r.u16();
    const quint16 dataLength = r.u16();
    const quint16 seq = r.u16();
    if (!r.ok() || command != eip::SendUnitData || length + eip::HeaderSize != reply.size() ||
        items != 2 || addressType != 0xA1 || addressLength != 4 || dataType != 0xB1 ||
        dataLength != r.remaining() + 2)
        return QByteArray();
    if (connectionId)
        *connectionId = id;
    if (sequence)
        *sequence = seq;
    return reply.mid(r.position());
}

// The O->T connection id of a successful Forward Open reply (0 otherwise).
inline quint32 openedId(const QByteArray &cipReply)
{
    if (cipReply.size() < 8 || cipReply.at(2) != 0)
        return 0;
    return static_cast<quint32>(le::getPadded(cipReply, 4, 4));
}

inline QByteArray registerSession(quint16 version = 1)
{
    QByteArray f = QByteArray::fromHex("650004000000000000000000010000000000000000000000");
    le::put16(f, version);
    le::put16(f, 0);
    return f;
}

inline quint32 sessionOf(const QByteArray &reply)
{
    return static_cast<quint32>(le::getPadded(reply, eip::OffSession, 4));
}

inline quint32 statusOf(const QByteArray &reply)
{
    return static_cast<quint32>(le::getPadded(reply, eip::OffStatus, 4));
}

// The CIP reply of a SendRRData reply, or an empty array when the frame is
// not laid out as one (header, two items, lengths that add up).
inline QByteArray cipOf(const QByteArray &reply)
{
    le::Reader r(reply);
    const quint16 command = r.u16();
    const quint16 length = r.u16();
    r.skip(20);
    const quint32 iface = r.u32();
    r.skip(2);
    const quint16 items = r.u16();
    const quint32 nullItem = r.u32();
    const quint16 dataType = r.u16();
    const quint16 dataLength = r.u16();
    if (!r.ok() || command != eip::SendRRData || length + eip::HeaderSize != reply.size() ||
        iface != 0 || items != 2 || nullItem != 0 || dataType != eip::ItemUnconnectedData ||
        dataLength != r.remaining())
        return QByteArray();
    return reply.mid(eip::OffCipMessage);
}

} // namespace simtest

#endif
