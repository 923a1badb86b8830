#include "CmdQuorvex.h"
#include "EipProtocol.h"
#include "FragmentWindow.h"
#include "LinkLog.h"
#include "ReadFrames.h"
#include "Waits.h"

namespace
{

using linklog::hex;
using linklog::hexNumber;

void warnRejected(const linklog::Where &link, const tagread::ReadReply &judged,
                  const QByteArray &reply, int count, const QString &tag)
{
    using tagread::Verdict;
    switch (judged.verdict) {
    case Verdict::Ok:
        break;
    case Verdict::Empty:
        linklog::warn(linklog::line("lib[Quorvex]返回的报文长度为0 %1:%2  %3 len = %4 msg : %5",
                                    link, tag, count, hex(reply)));
        break;
    case Verdict::Length:
    case Verdict::Stale: // judged as a read, a frame is whole or too short
    case Verdict::Lost:
        linklog::warn(linklog::line("lib[Quorvex]报文返回长度错误 %1:%2  %3 len = %4 msg : %5",
                                    link, tag, count, hex(reply)));
        break;
    case Verdict::Encapsulation:
        linklog::warn(linklog::line("lib[Quorvex]报文封装错误 %1:%2  %3 len = %4 command = "
                                    "%5 status = %6 msg : %7",
                                    link, tag, count, hexNumber(judged.command, 4),
                                    hexNumber(judged.encapStatus, 8), hex(reply)));
        break;
    case Verdict::Service:
        linklog::warn(linklog::line("lib[Quorvex]报文返回标志位错误 %1:%2  %3 len = %4 msg : %5",
                                    link, tag, count, hex(reply)));
        break;
    case Verdict::Partial: // only a read that continues takes a partial reply
    case Verdict::Refused: {
        linklog::warn(linklog::line(
            "lib[Quorvex]报文返回状态错误 %1:%2  %3 len = %4 status = %5 ext = %6 msg : %7", link,
            tag, count, hexNumber(judged.generalStatus, 2), linklog::extText(judged.extStatus),
            hex(reply)));
        break;
    }
    }
}

void warnOutcome(const linklog::Where &link, const tagread::ReadOutcome &o, int count,
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
        linklog::warn(
            linklog::line("lib[Quorvex]分段读取错误 %1:%2  %3 len = %4 offset = %5 msg : %6", link,
                          tag, count, QString::number(o.offset), hex(o.reply)));
        break;
    case Failure::TooLarge:
        linklog::warn(
            linklog::line("lib[Quorvex]读取数据超出上限 %1:%2  %3 len = %4 limit = %5 msg : %6",
                          link, tag, count, QString::number(maxValueBytes), hex(o.reply)));
        break;
    case Failure::TooShort:
        linklog::warn(
            linklog::line("lib[Quorvex]报文数据长度不足 %1:%2  %3 len = %4 need = %5 msg : %6",
                          link, tag, count, QString::number(minValueBytes), hex(o.reply)));
        break;
    }
}

// One read's requests and replies, with the traffic lines while tracing.
struct ReadTraffic {
    const linklog::Where &where;
    ReplyChannel &channel;
    const QString &tag;
    int count;
    int waitMs; // the whole wait a reply gets, from its send

    void sent(const QByteArray &request) const
    {
        if (where.trace)
            linklog::debug(linklog::line("lib[Quorvex]读命令 %1:%2  %3 len = %4 msg : %5", where,
                                         tag, count, hex(request)));
    }
    void came(const QByteArray &reply) const
    {
        if (where.trace)
            linklog::debug(linklog::line("lib[Quorvex]读响应 %1:%2  %3 len = %4 msg : %5", where,
                                         tag, count, hex(reply)));
    }
    int exchange(const QByteArray &request, QByteArray &reply) const
    {
        sent(request);
        const int rc = channel.exchange(request, reply, waitMs);
        came(reply);
        return rc;
    }
};

// Parts kept in flight together go through the same channel: each is
// entered under its own key, and a reply given up on is dropped. Every
// function captures one reference, so none of them allocates.
fragwindow::WindowIo windowIo(const ReadTraffic &t)
{
    fragwindow::WindowIo io;
    io.send = [&t](QByteArray &request) {
        t.sent(request);
        return t.channel.post(request);
    };
    io.receive = [&t](const QVector<QByteArray> &requests, int waitMs, QByteArray &reply) {
        const int which = t.channel.receive(requests, waitMs, reply);
        t.came(reply);
        return which;
    };
    io.abandon = [&t](const QByteArray &request) { t.channel.giveUp(request); };
    io.nowMs = [&t] { return t.channel.nowMs(); };
    io.partWaitMs = t.waitMs;
    return io;
}

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
    // A connection the controller dropped is opened again before the read;
    // one it refused is not asked for again until the link reconnects.
    const int ready = connection.ensure();
    if (ready != 0)
        return ready;
    // Requests that cannot be written as one well-formed frame are refused
    // before anything is sent: a count that does not fit its 16-bit field,
    // or a path that would not fit one message of the messaging in use.
    const int maxArea = messageLimits().request - ReadRequestOverhead - SymbolHeader;
    if (count < 1 || count > 0xFFFF || area.isEmpty() || area.size() % 2 || area.size() > maxArea ||
        area.size() > 0xFF * 2 - SymbolHeader) {
        linklog::warn(linklog::line("lib[Quorvex]读请求无效 %1:%2  %3 len = %4 msg : %5", where,
                                    tag, count, hex(area.toLatin1())));
        return -1;
    }
    const QByteArray path = reads.path(area, tag);
    const ReadTraffic traffic{where, channel, tag, count, replyWaitMs(waits::ReplyWaitMs)};
    const auto exchange = [&traffic](const QByteArray &request, QByteArray &reply) {
        return traffic.exchange(request, reply);
    };
    QByteArray gathered;
    tagread::ReadOutcome o;
    const auto read = [&] {
        gathered.clear();
        // Parts are kept in flight only for several elements and a window
        // above one; otherwise the read goes one request at a time and the
        // window's callbacks are not built at all.
        if (count < 2 || reads.oneAtATime(options.window)) {
            o = tagread::readTag(envelope(), path, static_cast<quint16>(count), maxValueBytes,
                                 exchange, &gathered, minValueBytes);
        } else {
            fragwindow::WindowState state = reads.window(options.window);
            o = fragwindow::readTag(envelope(), path, static_cast<quint16>(count), maxValueBytes,
                                    exchange, windowIo(traffic), state, &gathered, minValueBytes);
            reads.learn(state);
        }
        return Attempt{o.rc, connectionGone(o)};
    };
    o.rc = onceMore(read, true).rc;
    connection.closeLateOpens();
    noteResult(o.rc);
    warnOutcome(where, o, count, tag, maxValueBytes, minValueBytes);
    if (o.rc == 0 && out)
        out->append(gathered);
    if (o.rc == 0 && replyType)
        *replyType = o.judged.dataType;
    return o.rc;
}

int CmdQuorvex::Message_parsing(QByteArray request, QByteArray *out, int count, QString tag)
{
    // Every request gets a context of its own, so that only its own reply
    // is taken.
    channel.stamp(request);
    const ReadTraffic traffic{where, channel, tag, count, replyWaitMs(waits::ReplyWaitMs)};
    QByteArray reply;
    const int rc = traffic.exchange(request, reply);
    const quint8 service = request.size() > tagread::OffEmbeddedService
                               ? static_cast<quint8>(request.at(tagread::OffEmbeddedService))
                               : quint8(cip::ReadTag);
    tagread::ReadReply judged = tagread::judgeReadReply(reply, service);
    if (!reply.isEmpty() && rc != 0)
        judged.verdict = tagread::Verdict::Length;
    // A lone exchange has no follow-up request, so a partial transfer is as
    // incomplete as any other error status.
    if (judged.verdict != tagread::Verdict::Ok) {
        warnRejected(where, judged, reply, count, tag);
        return reply.isEmpty() ? -2 : -1;
    }
    if (out) {
        if (judged.hasHandle)
            le::put16(*out, judged.handle);
        out->append(judged.value);
    }
    return 0;
}
