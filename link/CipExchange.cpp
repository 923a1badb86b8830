#include "CmdQuorvex.h"
#include "LinkLog.h"
#include "Waits.h"

using linklog::hex;
using linklog::hexNumber;

int CmdQuorvex::exchangeCip(const QByteArray &mrRequest, QByteArray &mrReply, const QString &tag,
                            int count, QByteArray *frame, bool mayReopen)
{
    if (Connection_status() == -3)
        return -3;
    // A connection the controller dropped is opened again first; one it
    // refused is not asked for again until the link reconnects.
    const int ready = connection.ensure();
    if (ready != 0)
        return ready;
    QByteArray reply;
    messaging::Unwrapped r;
    int rc = 0;
    const auto once = [&] {
        const tagread::Envelope envelope = this->envelope();
        const QByteArray request = envelope.wrap(mrRequest);
        if (traceEnabled)
            linklog::debug(linklog::line("lib[Quorvex]写命令 %1:%2  %3 len = %4 msg : %5", where,
                                         tag, count, hex(request)));
        reply.clear();
        rc = channel.exchange(request, reply, replyWaitMs(waits::ReplyWaitMs));
        if (traceEnabled)
            linklog::debug(linklog::line("lib[Quorvex]写响应 %1:%2  %3 len = %4 msg : %5", where,
                                         tag, count, hex(reply)));
        r = envelope.unwrap(reply);
        // The controller's "connection not found" comes on our own id.
        const bool answered =
            r.verdict == messaging::Verdict::Ok || r.verdict == messaging::Verdict::Lost;
        return Attempt{rc, answered && connection.isOpen() &&
                               messaging::connectionGone(messaging::parseMrReply(r.mr))};
    };
    if (mayReopen)
        onceMore(once, false);
    else
        once();
    connection.closeLateOpens();

    if (frame)
        *frame = reply;
    messaging::Verdict verdict = r.verdict;
    if (!reply.isEmpty() && rc != 0)
        verdict = messaging::Verdict::Length;
    switch (verdict) {
    case messaging::Verdict::Ok:
    case messaging::Verdict::Lost:
        mrReply.append(r.mr);
        return 0;
    case messaging::Verdict::Empty:
        linklog::warn(linklog::line("lib[Quorvex]返回的报文长度为0 %1:%2  %3 len = %4 msg : %5",
                                    where, tag, count, hex(reply)));
        return -2;
    case messaging::Verdict::Encapsulation:
        linklog::warn(linklog::line("lib[Quorvex]报文封装错误 %1:%2  %3 len = %4 command = "
                                    "%5 status = %6 msg : %7",
                                    where, tag, count, hexNumber(r.command, 4),
                                    hexNumber(r.encapStatus, 8), hex(reply)));
        break;
    default:
        linklog::warn(linklog::line("lib[Quorvex]报文返回长度错误 %1:%2  %3 len = %4 msg : %5",
                                    where, tag, count, hex(reply)));
        break;
    }
    return -1;
}

tagread::Envelope CmdQuorvex::envelope()
{
    tagread::Envelope e;
    if (!connection.isOpen()) {
        // The session and the route are taken when a request is wrapped: a
        // closure holding only the link fits inside the function object,
        // where copies of them would be allocated for every read. Each
        // request gets a context of its own, so that only its reply is
        // taken for it.
        e.wrap = [this](const QByteArray &mr) {
            QByteArray f = messaging::unconnectedFrame(sessionHandle, options.route.direct,
                                                       reads.routeBytes(options.route), mr);
            channel.stamp(f);
            return f;
        };
        e.unwrap = [](const QByteArray &frame) { return messaging::unwrapUnconnected(frame); };
        return e;
    }
    e.wrap = [this](const QByteArray &mr) { return connection.frame(mr); };
    // The reply to the request with sequence count `sequence`.
    const auto unwrapWith = [this](const QByteArray &frame, quint16 sequence) {
        const unitdata::Unwrapped u = unitdata::unwrap(frame, connection.expect(sequence));
        messaging::Unwrapped m;
        m.verdict = u.verdict;
        m.mr = u.mr;
        m.command = static_cast<quint16>(le::getPadded(frame, eip::OffCommand, 2));
        m.encapStatus = static_cast<quint32>(le::getPadded(frame, eip::OffStatus, 4));
        return m;
    };
    e.unwrap = [this, unwrapWith](const QByteArray &frame) {
        return unwrapWith(frame, connection.sequence());
    };
    e.unwrapFor = [unwrapWith](const QByteArray &request, const QByteArray &frame) {
        return unwrapWith(frame, unitdata::addressOf(request).sequence);
    };
    return e;
}

messaging::MessageLimits CmdQuorvex::messageLimits()
{
    return connection.limits(reads.routeBytes(options.route).size());
}
