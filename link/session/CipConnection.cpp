#include "CipConnection.h"

#include "EipProtocol.h"
#include "ForwardOpen.h"
#include "ReplyChannel.h"
#include "Waits.h"

#include <QRandomGenerator>

namespace
{

// A connection id of ours: never 0, different for every attempt.
quint32 newConnectionId()
{
    quint32 id = 0;
    while (id == 0)
        id = QRandomGenerator::global()->generate();
    return id;
}

// Whether a Forward Open reply names a connection of ours, and which: the
// serials it carries back. A refusal may come without them (zeros here: no
// vendor id of ours is 0), and is then taken as the answer it is keyed as.
bool fromUs(const connmgr::OpenReply &o)
{
    return o.vendor == connmgr::OriginatorVendor && o.originatorSerial == connmgr::OriginatorSerial;
}

bool answers(const connmgr::OpenReply &o, quint16 serial)
{
    const bool noEcho = o.verdict == messaging::Verdict::Refused && o.serial == 0 &&
                        o.vendor == 0 && o.originatorSerial == 0;
    return noEcho || (fromUs(o) && o.serial == serial);
}

} // namespace

CipConnection::CipConnection(ReplyChannel &c, const linklog::Where &w, const QByteArray &s,
                             const LinkOptions &o)
    : channel(c), where(w), session(s), options(o),
      // A controller keeps a connection it never saw closed and refuses a
      // duplicate: every link starts its serial numbers somewhere else.
      nextSerial(static_cast<quint16>(QRandomGenerator::global()->bounded(1, 0xFFFF)))
{
}

void CipConnection::newTransport()
{
    state = State();
    channel.setConnection(0, 0);
    largeRefused = smallRefused = refused = false;
}

// One exchange with the Connection Manager, with the traffic lines.
int CipConnection::exchange(const QByteArray &frame, QByteArray &reply, bool watchLate)
{
    if (where.trace)
        linklog::debug(
            linklog::at("lib[Quorvex]连接命令 %1:%2 msg : %3", where, linklog::hex(frame)));
    const int rc =
        channel.exchange(frame, reply,
                         options.replyTimeoutMs > 0 ? options.replyTimeoutMs
                                                    : waits::FirstReplyWaitMs + waits::ReplyWaitMs,
                         watchLate);
    if (where.trace)
        linklog::debug(
            linklog::at("lib[Quorvex]连接响应 %1:%2 msg : %3", where, linklog::hex(reply)));
    return rc;
}

CipConnection::Outcome CipConnection::tryForwardOpen(bool large)
{
    int size = large ? connmgr::LargeConnectionSize : connmgr::SmallConnectionSize;
    // A controller that answers a size error with its largest size is asked
    // once more, with that size.
    for (int attempt = 0; attempt < 2; ++attempt) {
        connmgr::OpenRequest request;
        request.large = large;
        request.toConnectionId = newConnectionId();
        request.serial = nextSerial++;
        request.connectionSize = size;
        request.route = options.route;
        QByteArray frame = messaging::sendRRData(session, connmgr::forwardOpenRequest(request));
        channel.stamp(frame);
        QByteArray reply;
        // A success that comes after the request was given up opened a
        // connection all the same: it is closed again (closeLateOpens).
        exchange(frame, reply, true);
        if (reply.isEmpty())
            return Outcome::NoReply;
        const messaging::Unwrapped u = messaging::unwrapUnconnected(reply);
        connmgr::OpenReply o;
        if (u.verdict == messaging::Verdict::Ok)
            o = connmgr::parseForwardOpenReply(u.mr, large);
        // A reply that names another connection is no answer to this one.
        const bool echoed = answers(o, request.serial);
        if (u.verdict == messaging::Verdict::Ok && o.verdict == messaging::Verdict::Ok && echoed) {
            state.open = true;
            state.otId = o.otConnectionId;
            state.toId = o.toConnectionId;
            state.serial = request.serial;
            state.size = size;
            channel.setConnection(state.otId, state.toId);
            return Outcome::Open;
        }
        const int maxSize = large ? int(cip::NetSizeMask32) : int(cip::NetSizeMask16);
        if (echoed && attempt == 0 && o.acceptedSize > 0 && o.acceptedSize < size &&
            o.acceptedSize <= maxSize) {
            size = o.acceptedSize;
            continue;
        }
        const bool refusal = u.verdict == messaging::Verdict::Ok &&
                             o.verdict == messaging::Verdict::Refused && echoed;
        const QString service =
            linklog::hexNumber(large ? cip::LargeForwardOpen : cip::ForwardOpen, 2);
        const QString status =
            u.verdict == messaging::Verdict::Ok && o.verdict != messaging::Verdict::Length && echoed
                ? linklog::hexNumber(o.generalStatus, 2)
                : QStringLiteral("none");
        linklog::warn(linklog::at(
            "lib[Quorvex]打开连接失败 %1:%2 service = %3 status = %4 ext = %5 msg : %6", where,
            service, status, linklog::extText(echoed ? o.ext : QVector<quint16>()),
            linklog::hex(reply)));
        return refusal ? Outcome::Refused : Outcome::Garbled;
    }
    return Outcome::Refused;
}

int CipConnection::open()
{
    closeLateOpens();
    state = State();
    channel.setConnection(0, 0);
    const auto result = [](Outcome o) {
        switch (o) {
        case Outcome::Open:
            return 0;
        case Outcome::NoReply:
            return -2;
        case Outcome::Garbled:
            return -1;
        case Outcome::Refused:
            break;
        }
        return -3;
    };
    switch (options.connected) {
    case ConnectedMode::Off:
        return 0;
    case ConnectedMode::Large:
    case ConnectedMode::Small: {
        const Outcome o = tryForwardOpen(options.connected == ConnectedMode::Large);
        refused = o == Outcome::Refused;
        return result(o);
    }
    case ConnectedMode::Auto:
        // Whatever keeps a kind from opening, the next kind is tried, and
        // in the end the requests go unconnected, as a controller without
        // connections wants.
        if (!largeRefused) {
            if (tryForwardOpen(true) == Outcome::Open)
                return 0;
            largeRefused = true;
        }
        if (!smallRefused) {
            if (tryForwardOpen(false) == Outcome::Open)
                return 0;
            smallRefused = true;
        }
        return 0;
    }
    return 0;
}

int CipConnection::ensure()
{
    if (options.connected == ConnectedMode::Off)
        return 0;
    // A Forward Open given up may have been answered meanwhile.
    channel.sweep();
    closeLateOpens();
    if (state.open)
        return 0;
    if (refused)
        return -3;
    if (options.connected == ConnectedMode::Auto && largeRefused && smallRefused)
        return 0;
    return open();
}

int CipConnection::reopen()
{
    // The parts of a window still out were sent on the old connection:
    // their replies, should they come, answer nothing now.
    channel.giveUpAll();
    state = State();
    channel.setConnection(0, 0);
    return open();
}

void CipConnection::sendClose(quint16 serial)
{
    connmgr::CloseRequest request;
    request.serial = serial;
    request.route = options.route;
    QByteArray frame = messaging::sendRRData(session, connmgr::forwardCloseRequest(request));
    channel.stamp(frame);
    QByteArray reply;
    exchange(frame, reply, false);
}

void CipConnection::close()
{
    if (!state.open)
        return;
    const quint16 serial = state.serial;
    state = State();
    channel.setConnection(0, 0);
    sendClose(serial);
}

void CipConnection::forget()
{
    state = State();
    channel.setConnection(0, 0);
    channel.takeLate(); // the controller closes those with the transport
}

// Forward Open replies that came after their request was given up: a
// success opened a connection nobody uses, which would stay open on the
// controller until it times out.
void CipConnection::closeLateOpens()
{
    if (!channel.hasLate())
        return;
    for (const QByteArray &frame : channel.takeLate()) {
        const messaging::Unwrapped u = messaging::unwrapUnconnected(frame);
        if (u.verdict != messaging::Verdict::Ok || u.mr.isEmpty())
            continue;
        const bool large = quint8(u.mr.at(0)) == (cip::LargeForwardOpen | cip::ReplyBit);
        const connmgr::OpenReply o = connmgr::parseForwardOpenReply(u.mr, large);
        if (o.verdict == messaging::Verdict::Ok && fromUs(o))
            sendClose(o.serial);
    }
}

QByteArray CipConnection::frame(const QByteArray &mrRequest)
{
    return unitdata::frame(session, state.otId, ++lastSequence, mrRequest);
}

unitdata::Expect CipConnection::expect(quint16 sequence) const
{
    unitdata::Expect e;
    e.otConnectionId = state.otId;
    e.toConnectionId = state.toId;
    e.sequence = sequence;
    return e;
}

messaging::MessageLimits CipConnection::limits(int routeBytes) const
{
    return state.open ? messaging::connectedLimits(state.size)
                      : messaging::unconnectedLimits(options.route.direct, routeBytes);
}
