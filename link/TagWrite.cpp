#include "CmdQuorvex.h"
#include "LinkLog.h"
#include "ReadFrames.h"
#include "WriteFrames.h"

#include <QDebug>
#include <QStringList>

using linklog::hex;
using linklog::hexNumber;

namespace
{

QString statusText(const tagwrite::WriteReply &judged, bool judgedAtAll)
{
    return judgedAtAll ? hexNumber(judged.generalStatus, 2) : QStringLiteral("none");
}

QString extText(const tagwrite::WriteReply &judged)
{
    return linklog::extText(judged.extStatus);
}

// `frame` is the last reply as it came, envelope and all, as the read
// warnings show it.
void warnOutcome(const linklog::Where &link, const tagwrite::WriteOutcome &o, const QString &tag,
                 int count, int dataSize, const QString &area, const QByteArray &frame)
{
    using tagwrite::Failure;
    using tagwrite::Verdict;
    switch (o.failure) {
    case Failure::None:
    case Failure::Link: // the exchange has said why
        break;
    case Failure::TooLarge:
        linklog::warn(linklog::line("lib[Quorvex]写请求无效 %1:%2  %3 len = %4 msg : %5", link, tag,
                                    count, hex(area.toLatin1())));
        break;
    case Failure::Incomplete:
        linklog::warn(linklog::line(
            "lib[Quorvex]分段写入失败 %1:%2  %3 len = %4 written = %5 of %6 status = %7 ext = "
            "%8 msg : %9",
            link, tag, count, QString::number(o.written), QString::number(dataSize),
            statusText(o.judged, o.linkRc == 0),
            o.linkRc == 0 ? extText(o.judged) : QStringLiteral("none"), hex(frame)));
        break;
    case Failure::Refused:
        switch (o.judged.verdict) {
        case Verdict::Ok:
            break;
        case Verdict::Empty:
        case Verdict::Length:
        case Verdict::Partial: // not a write's
        case Verdict::Encapsulation:
        case Verdict::Stale:
        case Verdict::Lost:
            linklog::warn(linklog::line("lib[Quorvex]报文返回长度错误 %1:%2  %3 len = %4 msg : %5",
                                        link, tag, count, hex(frame)));
            break;
        case Verdict::Service:
            linklog::warn(
                linklog::line("lib[Quorvex]报文返回标志位错误 %1:%2  %3 len = %4 msg : %5", link,
                              tag, count, hex(frame)));
            break;
        case Verdict::Refused:
            linklog::warn(linklog::line(
                "lib[Quorvex]写入被拒绝 %1:%2  %3 len = %4 status = %5 ext = %6 msg : %7", link,
                tag, count, statusText(o.judged, true), extText(o.judged), hex(frame)));
            break;
        }
        break;
    }
}

} // namespace

int CmdQuorvex::Write_area(QString area, QString tag, QByteArray typeBytes, int count,
                           QByteArray data, int elementSize, int maxRequestBytes)
{
    if (ensureTransport() != 0)
        return -3;
    // The same limits as a read's: a count that fits its 16-bit field and a
    // path that can be written as one well-formed segment chain.
    if (count < 1 || count > 0xFFFF || area.isEmpty() || area.size() % 2 ||
        area.size() > tagread::MaxAreaBytes) {
        linklog::warn(linklog::line("lib[Quorvex]写请求无效 %1:%2  %3 len = %4 msg : %5", where,
                                    tag, count, hex(area.toLatin1())));
        return -1;
    }
    // 0: as large as the messaging in use carries (unconnected, or the
    // connection's size).
    if (maxRequestBytes <= 0)
        maxRequestBytes = messageLimits().request;
    const QByteArray path = tagread::requestPath(area, tagread::firstNameLength(tag, area));
    QByteArray frame;
    const tagwrite::WriteOutcome o =
        tagwrite::writeTag(path, typeBytes, static_cast<quint16>(count), data, elementSize,
                           maxRequestBytes, [&](const QByteArray &request, QByteArray &reply) {
                               return exchangeCip(request, reply, tag, count, &frame);
                           });
    // A write lost while it waited is not sent again: it may have been done.
    noteResult(o.rc);
    warnOutcome(where, o, tag, count, data.size(), area, frame);
    return o.rc;
}
