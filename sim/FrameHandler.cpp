#include "FrameHandler.h"

#include "ByteOrder.h"
#include "ConnectionTable.h"
#include "EipProtocol.h"
#include "IdentityService.h"

namespace qsim
{

SessionTable::SessionTable(quint32 *sharedCounter)
    : counter(sharedCounter ? sharedCounter : &ownCounter)
{
}

quint32 SessionTable::open()
{
    if (live.size() >= MaxSessions)
        return 0;
    // Handles look like a controller's: non-zero, never 1, 2, 3 ...
    quint32 h = 0;
    do {
        ++*counter;
        h = *counter * 0x9E3779B1u;
    } while (h == 0 || live.contains(h));
    live.insert(h);
    return h;
}

namespace
{

struct Header {
    quint16 command = 0;
    quint16 length = 0;
    quint32 session = 0;
    QByteArray context;
};

QByteArray encapsulation(const Header &req, quint32 session, quint32 status, const QByteArray &data)
{
    QByteArray out;
    le::put16(out, req.command);
    le::put16(out, static_cast<quint16>(data.size()));
    le::put32(out, session);
    le::put32(out, status);
    out += req.context;
    le::put32(out, 0);
    out += data;
    return out;
}

FrameResult reply(const Header &req, quint32 session, quint32 status,
                  const QByteArray &data = QByteArray())
{
    FrameResult r;
    r.reply = encapsulation(req, session, status, data);
    return r;
}

FrameResult registerSession(const Header &h, le::Reader &r, SessionTable &sessions,
                            const FrameOptions &options)
{
    if (h.length != eip::RegisterSessionDataSize)
        return reply(h, 0, eip::StatusInvalidLength);
    const quint16 version = r.u16();
    const quint16 flags = r.u16();
    QByteArray data;
    le::put16(data, eip::ProtocolVersion);
    le::put16(data, flags);
    if (options.rejectRegister || version != eip::ProtocolVersion)
        return reply(h, 0, eip::StatusUnsupportedProtocol, data);
    const quint32 handle = sessions.open();
    if (handle == 0)
        return reply(h, 0, eip::StatusInsufficientMemory, data);
    return reply(h, handle, eip::StatusSuccess, data);
}

// Interface handle, time-out, two items: a null address and the unconnected
// data that holds the CIP request.
FrameResult sendRRData(const Header &h, le::Reader &r, const TagDatabase &db,
                       const FrameOptions &options)
{
    r.skip(6);
    const quint16 items = r.u16();
    const quint16 addressType = r.u16();
    const quint16 addressLength = r.u16();
    const quint16 dataType = r.u16();
    const quint16 dataLength = r.u16();
    if (!r.ok() || items != 2 || addressType != eip::ItemNullAddress || addressLength != 0 ||
        dataType != eip::ItemUnconnectedData || dataLength != r.remaining())
        return reply(h, h.session, eip::StatusPoorlyFormed);
    FrameResult res;
    const QByteArray cipReply = handleCip(r.bytes(dataLength), db, options.cip, &res.effects);

    QByteArray data;
    le::put32(data, 0);
    le::put16(data, 0);
    le::put16(data, 2);
    le::put16(data, eip::ItemNullAddress);
    le::put16(data, 0);
    le::put16(data, eip::ItemUnconnectedData);
    le::put16(data, static_cast<quint16>(cipReply.size()));
    data += cipReply;
    res.reply = encapsulation(h, h.session, eip::StatusSuccess, data);
    res.tagRead = true;
    return res;
}

// Interface handle, time-out, two items: the connected address (the O->T
// connection id) and the connected data (sequence count, CIP request).
FrameResult sendUnitData(const Header &h, le::Reader &r, const TagDatabase &db,
                         const FrameOptions &options)
{
    r.skip(6);
    const quint16 items = r.u16();
    const quint16 addressType = r.u16();
    const quint16 addressLength = r.u16();
    const quint32 otId = r.u32();
    const quint16 dataType = r.u16();
    const quint16 dataLength = r.u16();
    if (!r.ok() || items != 2 || addressType != eip::ItemConnectedAddress ||
        addressLength != eip::ConnectedAddressSize || dataType != eip::ItemConnectedData ||
        dataLength != r.remaining() || dataLength < eip::SequenceCountSize)
        return reply(h, h.session, eip::StatusPoorlyFormed);
    const quint16 sequence = r.u16();
    const QByteArray request = r.bytes(dataLength - eip::SequenceCountSize);

    FrameResult res;
    const CipClient &client = options.cip.client;
    Connection *c = nullptr;
    if (client.connections) {
        client.connections->expire(client.nowMs, client.connectionTimeoutMs);
        c = client.connections->find(otId, client.owner);
    }
    QByteArray cipReply;
    quint32 addressId = otId;
    if (c) {
        c->lastMs = client.nowMs;
        addressId = c->toId;
        CipOptions connected = options.cip;
        connected.maxReplyBytes = qMax(1, c->toSize - eip::SequenceCountSize);
        cipReply = handleCip(request, db, connected, &res.effects, CipVia::Connected);
        res.connected = true;
    } else {
        const quint8 service = request.isEmpty() ? 0 : static_cast<quint8>(request.at(0));
        cipReply = cipError(service, cip::ConnectionFailure, cip::ExtConnectionNotFound);
    }

    QByteArray data;
    le::put32(data, 0);
    le::put16(data, 0);
    le::put16(data, 2);
    le::put16(data, eip::ItemConnectedAddress);
    le::put16(data, eip::ConnectedAddressSize);
    le::put32(data, addressId);
    le::put16(data, eip::ItemConnectedData);
    le::put16(data, static_cast<quint16>(eip::SequenceCountSize + cipReply.size()));
    le::put16(data, sequence);
    data += cipReply;
    res.reply = encapsulation(h, h.session, eip::StatusSuccess, data);
    return res;
}

} // namespace

FrameResult handleFrame(const QByteArray &frame, SessionTable &sessions, const TagDatabase &db,
                        const FrameOptions &options)
{
    le::Reader r(frame);
    Header h;
    h.command = r.u16();
    h.length = r.u16();
    h.session = r.u32();
    r.skip(4);
    h.context = r.bytes(eip::ContextSize);
    r.skip(4);
    if (!r.ok())
        return FrameResult(); // not even a header: nothing to answer to
    if (frame.size() != eip::HeaderSize + h.length)
        return reply(h, h.session, eip::StatusInvalidLength);

    switch (h.command) {
    case eip::RegisterSession:
        return registerSession(h, r, sessions, options);
    case eip::ListIdentity:
        // Asked before a session exists as well as within one.
        return reply(h, h.session, eip::StatusSuccess, listIdentityData(db.identity));
    case eip::UnRegisterSession: {
        // No reply; the controller ends the connection.
        sessions.close(h.session);
        FrameResult res;
        res.close = options.requireSession;
        return res;
    }
    case eip::SendRRData:
        if (options.requireSession && !sessions.contains(h.session))
            return reply(h, h.session, eip::StatusInvalidSession);
        return sendRRData(h, r, db, options);
    case eip::SendUnitData:
        if (options.requireSession && !sessions.contains(h.session))
            return reply(h, h.session, eip::StatusInvalidSession);
        return sendUnitData(h, r, db, options);
    default:
        return reply(h, h.session, eip::StatusInvalidCommand);
    }
}

} // namespace qsim
