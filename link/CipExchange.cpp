#include "CmdQuorvex.h"
#include "EncapFrame.h"
#include "LinkLog.h"
#include "Waits.h"

#include <QDebug>

using linklog::hex;
using linklog::hexNumber;
using linklog::line;

int CmdQuorvex::exchangeCip(const QByteArray &mrRequest, QByteArray &mrReply, const QString &tag,
                            int count, QByteArray *frame, bool mayReopen)
{
    if (Connection_status() == -3)
        return -3;
    // A connection the controller dropped is opened again first.
    if (options.connected != ConnectedMode::Off && !cipConnection.open && openConnection() != 0)
        return -1;
    const tagread::Envelope envelope = this->envelope();
    QByteArray request = envelope.wrap(mrRequest);
    // While an earlier reply is owed, this request gets a context of its own
    // so that only its own reply is taken.
    if (!lateContexts.isEmpty())
        encap::stampContext(request, ++contextSerial);
    if (traceEnabled)
        linklog::debug(line("lib[Quorvex]写命令 %1:%2  %3 len = %4 msg : %5", where, tag, count,
                            hex(request)));
    QByteArray reply;
    const int rc = SendData(request, reply, waits::ReplyWaitMs);
    if (traceEnabled)
        linklog::debug(
            line("lib[Quorvex]写响应 %1:%2  %3 len = %4 msg : %5", where, tag, count, hex(reply)));

    if (frame)
        *frame = reply;
    const messaging::Unwrapped r = envelope.unwrap(reply);
    messaging::Verdict verdict = r.verdict;
    if (!reply.isEmpty() && rc != 0)
        verdict = messaging::Verdict::Length;
    switch (verdict) {
    case messaging::Verdict::Ok:
    case messaging::Verdict::Lost: // the controller's "connection not found"
        if (mayReopen && cipConnection.open &&
            messaging::connectionGone(messaging::parseMrReply(r.mr))) {
            // Once, transparently, as a read does: opened anew, sent again.
            cipConnection = CipConnection();
            if (openConnection() == 0)
                return exchangeCip(mrRequest, mrReply, tag, count, frame, false);
        }
        mrReply.append(r.mr);
        return 0;
    case messaging::Verdict::Empty:
        linklog::warn(line("lib[Quorvex]返回的报文长度为0 %1:%2  %3 len = %4 msg : %5", where, tag,
                           count, hex(reply)));
        return -2;
    case messaging::Verdict::Encapsulation:
        linklog::warn(line("lib[Quorvex]报文封装错误 %1:%2  %3 len = %4 command = "
                           "%5 status = %6 msg : %7",
                           where, tag, count, hexNumber(r.command, 4), hexNumber(r.encapStatus, 8),
                           hex(reply)));
        break;
    default:
        linklog::warn(line("lib[Quorvex]报文返回长度错误 %1:%2  %3 len = %4 msg : %5", where, tag,
                           count, hex(reply)));
        break;
    }
    return -1;
}
