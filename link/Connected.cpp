#include "CmdQuorvex.h"

#include "ForwardOpen.h"
#include "LinkLog.h"
#include "Messaging.h"
#include "UnitData.h"
#include "Waits.h"

#include <QDebug>
#include <QRandomGenerator>
#include <QStringList>

// Connected explicit messaging: the class 3 connection's life (Forward
// Open, Forward Close) and the envelope of the requests that use it.

namespace
{

using linklog::extText;
using linklog::hex;
using linklog::hexNumber;

// A connection id of ours: never 0, different for every attempt.
quint32 newConnectionId()
{
    quint32 id = 0;
    while (id == 0)
        id = QRandomGenerator::global()->generate();
    return id;
}

} // namespace

void CmdQuorvex::setOptions(const LinkOptions &o)
{
    options = o;
    replyTimeoutMs = o.replyTimeoutMs;
    recovery = Recovery(); // a new ConnectDrive ends an explicit disconnect and any outage
    // A controller keeps a connection it never saw closed and refuses a
    // duplicate: every link starts its serial numbers somewhere else.
    if (nextConnectionSerial == 0)
        nextConnectionSerial = static_cast<quint16>(QRandomGenerator::global()->bounded(1, 0xFFFF));
}

messaging::MessageLimits CmdQuorvex::messageLimits() const
{
    return cipConnection.open
               ? messaging::connectedLimits(cipConnection.size)
               : messaging::unconnectedLimits(options.route.direct, routeBytes().size());
}

const QByteArray &CmdQuorvex::routeBytes() const
{
    // Equal routes share their hop list, so the comparison is usually one
    // pointer.
    if (!routeEncoded || encodedRoute != options.route) {
        encodedRoute = options.route;
        encodedRouteBytes = options.route.bytes();
        routeEncoded = true;
    }
    return encodedRouteBytes;
}

// One exchange with the Connection Manager, with the traffic lines.
int CmdQuorvex::connectionExchange(const QByteArray &frame, QByteArray &reply)
{
    if (traceEnabled)
        linklog::debug(linklog::at("lib[Quorvex]连接命令 %1:%2 msg : %3", where, hex(frame)));
    const int rc = SendData(frame, reply, waits::ReplyWaitMs);
    if (traceEnabled)
        linklog::debug(linklog::at("lib[Quorvex]连接响应 %1:%2 msg : %3", where, hex(reply)));
    return rc;
}

bool CmdQuorvex::tryForwardOpen(bool large)
{
    int size = large ? connmgr::LargeConnectionSize : connmgr::SmallConnectionSize;
    // A controller that answers a size error with its largest size is asked
    // once more, with that size.
    for (int attempt = 0; attempt < 2; ++attempt) {
        connmgr::OpenRequest request;
        request.large = large;
        request.toConnectionId = newConnectionId();
        request.serial = nextConnectionSerial++;
        request.connectionSize = size;
        request.route = options.route;
        const QByteArray frame =
            messaging::sendRRData(sessionHandle, connmgr::forwardOpenRequest(request));
        QByteArray reply;
        connectionExchange(frame, reply);
        const messaging::Unwrapped u = messaging::unwrapUnconnected(reply);
        connmgr::OpenReply o;
        if (u.verdict == messaging::Verdict::Ok)
            o = connmgr::parseForwardOpenReply(u.mr, large);
        if (u.verdict == messaging::Verdict::Ok && o.verdict == messaging::Verdict::Ok) {
            cipConnection.open = true;
            cipConnection.otId = o.otConnectionId;
            cipConnection.toId = o.toConnectionId;
            cipConnection.serial = request.serial;
            cipConnection.sequence = 0;
            cipConnection.size = size;
            return true;
        }
        const int maxSize = large ? int(cip::NetSizeMask32) : int(cip::NetSizeMask16);
        if (attempt == 0 && o.acceptedSize > 0 && o.acceptedSize < size &&
            o.acceptedSize <= maxSize) {
            size = o.acceptedSize;
            continue;
        }
        const QString service = hexNumber(large ? cip::LargeForwardOpen : cip::ForwardOpen, 2);
        const QString status =
            u.verdict == messaging::Verdict::Ok && o.verdict != messaging::Verdict::Length
                ? hexNumber(o.generalStatus, 2)
                : QStringLiteral("none");
        linklog::warn(
            linklog::at("lib[Quorvex]打开连接失败 %1:%2 service = %3 status = %4 ext = %5 msg : %6",
                        where, service, status, extText(o.ext), hex(reply)));
        return false;
    }
    return false;
}

int CmdQuorvex::openConnection()
{
    cipConnection = CipConnection();
    windowShrunk = false; // a new connection starts with the option's window
    windowPartBytes = 0;  // and learns its part size anew
    ownedRequests.clear();
    heldReplies.clear();
    switch (options.connected) {
    case ConnectedMode::Off:
        return 0;
    case ConnectedMode::Large:
        return tryForwardOpen(true) ? 0 : -3;
    case ConnectedMode::Small:
        return tryForwardOpen(false) ? 0 : -3;
    case ConnectedMode::Auto:
        if (!largeRefused) {
            if (tryForwardOpen(true))
                return 0;
            largeRefused = true;
        }
        if (!smallRefused) {
            if (tryForwardOpen(false))
                return 0;
            smallRefused = true;
        }
        return 0; // unconnected, as a controller without connections wants
    }
    return 0;
}

void CmdQuorvex::closeConnection()
{
    if (!cipConnection.open)
        return;
    const CipConnection closing = cipConnection;
    cipConnection = CipConnection();
    if (Connection_status() != 0)
        return;
    connmgr::CloseRequest request;
    request.serial = closing.serial;
    request.route = options.route;
    QByteArray reply;
    connectionExchange(messaging::sendRRData(sessionHandle, connmgr::forwardCloseRequest(request)),
                       reply);
}

tagread::Envelope CmdQuorvex::envelope()
{
    tagread::Envelope e;
    if (!cipConnection.open) {
        // The session and the route are taken when a request is wrapped: a
        // closure holding only the link fits inside the function object,
        // where copies of them would be allocated for every read.
        e.wrap = [this](const QByteArray &mr) {
            return messaging::unconnectedFrame(sessionHandle, options.route.direct, routeBytes(),
                                               mr);
        };
        e.unwrap = [](const QByteArray &frame) { return messaging::unwrapUnconnected(frame); };
        return e;
    }
    e.wrap = [this](const QByteArray &mr) {
        return unitdata::frame(sessionHandle, cipConnection.otId, ++cipConnection.sequence, mr);
    };
    // The reply to the request with sequence count `sequence`.
    const auto unwrapWith = [this](const QByteArray &frame, quint16 sequence) {
        unitdata::Expect expect;
        expect.otConnectionId = cipConnection.otId;
        expect.toConnectionId = cipConnection.toId;
        expect.sequence = sequence;
        const unitdata::Unwrapped u = unitdata::unwrap(frame, expect);
        messaging::Unwrapped m;
        m.verdict = u.verdict;
        m.mr = u.mr;
        m.command = static_cast<quint16>(le::getPadded(frame, eip::OffCommand, 2));
        m.encapStatus = static_cast<quint32>(le::getPadded(frame, eip::OffStatus, 4));
        return m;
    };
    e.unwrap = [this, unwrapWith](const QByteArray &frame) {
        return unwrapWith(frame, cipConnection.sequence);
    };
    e.unwrapFor = [unwrapWith](const QByteArray &request, const QByteArray &frame) {
        return unwrapWith(frame, unitdata::sequenceOf(request));
    };
    return e;
}
