#include "CmdQuorvex.h"
#include "EipProtocol.h"
#include "EncapFrame.h"
#include "FragmentWindow.h"
#include "LinkLog.h"
#include "ReadFrames.h"
#include "Waits.h"

#include <QElapsedTimer>
#include <memory>

#include <QDebug>
#include <QStringList>

namespace
{

using linklog::hex;
using linklog::hexNumber;

linklog::Where whereOf(const CmdQuorvex &link)
{
    return {link.hostAddress, link.tcpPort, link.traceEnabled};
}

template <typename... Rest>
QString readLine(const char *format, const CmdQuorvex &link, const QString &tag, int count,
                 const Rest &...rest)
{
    return linklog::line(format, whereOf(link), tag, count, rest...);
}

void warnRejected(const CmdQuorvex &link, const tagread::ReadReply &judged, const QByteArray &reply,
                  int count, const QString &tag)
{
    using tagread::Verdict;
    switch (judged.verdict) {
    case Verdict::Ok:
        break;
    case Verdict::Empty:
        linklog::warn(readLine("lib[Quorvex]返回的报文长度为0 %1:%2  %3 len = %4 msg : %5", link,
                               tag, count, hex(reply)));
        break;
    case Verdict::Length:
    case Verdict::Stale: // judged as a read, a frame is whole or too short
    case Verdict::Lost:
        linklog::warn(readLine("lib[Quorvex]报文返回长度错误 %1:%2  %3 len = %4 msg : %5", link,
                               tag, count, hex(reply)));
        break;
    case Verdict::Encapsulation:
        linklog::warn(readLine("lib[Quorvex]报文封装错误 %1:%2  %3 len = %4 command = "
                               "%5 status = %6 msg : %7",
                               link, tag, count, hexNumber(judged.command, 4),
                               hexNumber(judged.encapStatus, 8), hex(reply)));
        break;
    case Verdict::Service:
        linklog::warn(readLine("lib[Quorvex]报文返回标志位错误 %1:%2  %3 len = %4 msg : %5", link,
                               tag, count, hex(reply)));
        break;
    case Verdict::Partial: // only a read that continues takes a partial reply
    case Verdict::Refused: {
        linklog::warn(readLine(
            "lib[Quorvex]报文返回状态错误 %1:%2  %3 len = %4 status = %5 ext = %6 msg : %7", link,
            tag, count, hexNumber(judged.generalStatus, 2), linklog::extText(judged.extStatus),
            hex(reply)));
        break;
    }
    }
}

void warnOutcome(const CmdQuorvex &link, const tagread::ReadOutcome &o, int count,
                 const QString &tag, int maxValueBytes, int minValueBytes)
{
    using tagread::Failure;
    switch (o.failure) {
    case Failure::None:
        break;
    case Failure::NoReply:
    case Failure::Rejected:
        warnRejected(link, o.judged, o.reply, count, tag);
        break;
    case Failure::EmptyPart:
    case Failure::PartChanged:
        linklog::warn(readLine("lib[Quorvex]分段读取错误 %1:%2  %3 len = %4 offset = %5 msg : %6",
                               link, tag, count, QString::number(o.offset), hex(o.reply)));
        break;
    case Failure::TooLarge:
        linklog::warn(
            readLine("lib[Quorvex]读取数据超出上限 %1:%2  %3 len = %4 limit = %5 msg : %6", link,
                     tag, count, QString::number(maxValueBytes), hex(o.reply)));
        break;
    case Failure::TooShort:
        linklog::warn(readLine("lib[Quorvex]报文数据长度不足 %1:%2  %3 len = %4 need = %5 msg : %6",
                               link, tag, count, QString::number(minValueBytes), hex(o.reply)));
        break;
    }
}

} // namespace

// One request and its reply, with the traffic lines while tracing.
static int tracedExchange(CmdQuorvex &link, QByteArray request, QByteArray &reply, int count,
                          const QString &tag)
{
    // While an earlier reply is owed, this request gets a context of its own
    // so that only its own reply is taken (normally it stays all zeros).
    if (!link.lateContexts.isEmpty())
        encap::stampContext(request, ++link.contextSerial);
    if (link.traceEnabled)
        linklog::debug(readLine("lib[Quorvex]读命令 %1:%2  %3 len = %4 msg : %5", link, tag, count,
                                hex(request)));
    const int rc = link.SendData(request, reply, waits::ReplyWaitMs);
    if (link.traceEnabled)
        linklog::debug(readLine("lib[Quorvex]读响应 %1:%2  %3 len = %4 msg : %5", link, tag, count,
                                hex(reply)));
    return rc;
}

// Parts kept in flight together: each request with a context of its own,
// each with the traffic lines while tracing.
static fragwindow::WindowIo windowIo(CmdQuorvex &link, int count, const QString &tag)
{
    fragwindow::WindowIo io;
    io.send = [&link, count, tag](QByteArray &request) {
        encap::stampContext(request, ++link.contextSerial);
        if (link.traceEnabled)
            linklog::debug(readLine("lib[Quorvex]读命令 %1:%2  %3 len = %4 msg : %5", link, tag,
                                    count, hex(request)));
        return link.sendOwned(request);
    };
    io.receive = [&link, count, tag](const QVector<QByteArray> &requests, int waitMs,
                                     QByteArray &reply) {
        const int which = link.receiveOwned(requests, waitMs, reply);
        if (link.traceEnabled)
            linklog::debug(readLine("lib[Quorvex]读响应 %1:%2  %3 len = %4 msg : %5", link, tag,
                                    count, hex(reply)));
        return which;
    };
    io.abandon = [&link](const QByteArray &request) { link.abandonRequest(request); };
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    io.nowMs = [clock] { return clock->elapsed(); };
    io.partWaitMs = link.replyWaitMs(waits::ReplyWaitMs);
    return io;
}

namespace
{

// The controller no longer knows the connection (it dropped it, or it
// timed out idle).
bool connectionGone(const tagread::ReadOutcome &o)
{
    if (o.failure != tagread::Failure::Rejected || o.judged.verdict != tagread::Verdict::Refused)
        return false;
    messaging::MrReply m;
    m.verdict = messaging::Verdict::Ok;
    m.generalStatus = o.judged.generalStatus;
    m.ext = o.judged.extStatus;
    return messaging::connectionGone(m);
}

// Service, path size, element count and fragment offset around the path.
constexpr int ReadRequestOverhead = 2 + 2 + 4;
// The symbolic segment's type and length bytes, which the area lacks.
constexpr int SymbolHeader = 2;

} // namespace

int CmdQuorvex::Read_area(QString area, int count, QByteArray *out, QString tag, int maxValueBytes,
                          int minValueBytes, quint16 *replyType)
{
    if (ensureTransport() != 0)
        return -3;
    // A connection the controller dropped is opened again before the read.
    if (options.connected != ConnectedMode::Off && !cipConnection.open && openConnection() != 0)
        return -1;
    // Requests that cannot be written as one well-formed frame are refused
    // before anything is sent: a count that does not fit its 16-bit field,
    // or a path that would not fit one message of the messaging in use.
    const int maxArea = messageLimits().request - ReadRequestOverhead - SymbolHeader;
    if (count < 1 || count > 0xFFFF || area.isEmpty() || area.size() % 2 || area.size() > maxArea ||
        area.size() > 0xFF * 2 - SymbolHeader) {
        linklog::warn(readLine("lib[Quorvex]读请求无效 %1:%2  %3 len = %4 msg : %5", *this, tag,
                               count, hex(area.toLatin1())));
        return -1;
    }
    const QByteArray path = readPath(area, tag);
    QByteArray gathered;
    // One reference captured: the exchange fits inside its function object,
    // which is then made without an allocation.
    const struct {
        CmdQuorvex *link;
        const QString *tag;
        int count;
    } traced{this, &tag, count};
    const auto exchange = [&traced](const QByteArray &request, QByteArray &reply) {
        return tracedExchange(*traced.link, request, reply, traced.count, *traced.tag);
    };
    const auto read = [&] {
        // Parts are kept in flight only for several elements and a window
        // above one; otherwise the read goes one request at a time and the
        // window's callbacks are not built at all.
        if (count < 2 || options.window <= 1 || windowShrunk)
            return tagread::readTag(envelope(), path, static_cast<quint16>(count), maxValueBytes,
                                    exchange, &gathered, minValueBytes);
        const fragwindow::WindowIo io = windowIo(*this, count, tag);
        fragwindow::WindowState state;
        state.window = options.window;
        state.shrunk = windowShrunk;
        state.learnedPartBytes = windowPartBytes;
        const tagread::ReadOutcome r =
            fragwindow::readTag(envelope(), path, static_cast<quint16>(count), maxValueBytes,
                                exchange, io, state, &gathered, minValueBytes);
        windowShrunk = state.shrunk;
        windowPartBytes = state.learnedPartBytes;
        return r;
    };
    tagread::ReadOutcome o = read();
    if (reopenedAfterLoss(o.rc)) {
        gathered.clear();
        o = read();
    }
    // Once, transparently: the connection is opened anew and the read
    // retried; a second failure is the read's.
    if (cipConnection.open && connectionGone(o)) {
        cipConnection = CipConnection();
        if (openConnection() == 0) {
            gathered.clear();
            o = read();
        }
    }
    noteResult(o.rc);
    warnOutcome(*this, o, count, tag, maxValueBytes, minValueBytes);
    if (o.rc == 0 && out)
        out->append(gathered);
    if (o.rc == 0 && replyType)
        *replyType = o.judged.dataType;
    return o.rc;
}

const QByteArray &CmdQuorvex::readPath(const QString &area, const QString &tag)
{
    if (lastPath.firstName < 0 || area != lastPath.area || tag != lastPath.tag) {
        lastPath.firstName = tagread::firstNameLength(tag, area);
        lastPath.bytes = tagread::requestPath(area, lastPath.firstName);
        lastPath.area = area;
        lastPath.tag = tag;
    }
    return lastPath.bytes;
}

int CmdQuorvex::Message_parsing(QByteArray request, QByteArray *out, int count, QString tag)
{
    QByteArray reply;
    const int rc = tracedExchange(*this, request, reply, count, tag);
    const quint8 service = request.size() > tagread::OffEmbeddedService
                               ? static_cast<quint8>(request.at(tagread::OffEmbeddedService))
                               : quint8(cip::ReadTag);
    tagread::ReadReply judged = tagread::judgeReadReply(reply, service);
    if (!reply.isEmpty() && rc != 0)
        judged.verdict = tagread::Verdict::Length;
    // A lone exchange has no follow-up request, so a partial transfer is as
    // incomplete as any other error status.
    if (judged.verdict != tagread::Verdict::Ok) {
        warnRejected(*this, judged, reply, count, tag);
        return reply.isEmpty() ? -2 : -1;
    }
    if (out) {
        if (judged.hasHandle)
            le::put16(*out, judged.handle);
        out->append(judged.value);
    }
    return 0;
}
