#include "ReadFrames.h"

#include "EipProtocol.h"

namespace tagread
{

QByteArray sessionBytes(const QByteArray &stored)
{
    // Before any registration was answered there is no handle to copy; the
    // controller then refuses the session rather than us reading past the end.
    if (stored.size() < eip::SessionHandleSize)
        return QByteArray(eip::SessionHandleSize, '\0');
    return stored.left(eip::SessionHandleSize);
}

int firstNameLength(const QString &tag, const QString &area)
{
    // Taken from the text rather than by scanning the area for marker codes:
    // the codes 0x28 and 0x91 may also be name or length bytes.
    int n = tag.size();
    const int dot = tag.indexOf(QLatin1Char('.'));
    const int bracket = tag.indexOf(QLatin1Char('['));
    if (dot >= 0)
        n = dot;
    if (bracket >= 0 && bracket < n)
        n = bracket;
    return qMin(n, area.size());
}

QByteArray requestPath(const QString &area, int firstNameLen)
{
    QByteArray path;
    path.reserve(area.size() + 2);
    le::put8(path, cip::SegSymbolic);
    le::put8(path, static_cast<quint8>(firstNameLen));
    for (const QChar c : area)
        le::put8(path, c.unicode() <= 0xFF ? static_cast<quint8>(c.unicode()) : 0);
    return path;
}

QByteArray buildReadFrame(const QByteArray &session4, const QByteArray &pathBytes, quint16 count,
                          bool fragmented, quint32 offset)
{
    // Sized up front: this runs for every read and every fragment.
    QByteArray embedded;
    embedded.reserve(pathBytes.size() + 8);
    le::put8(embedded, fragmented ? cip::ReadTagFragmented : cip::ReadTag);
    le::put8(embedded, static_cast<quint8>(pathBytes.size() / 2));
    embedded.append(pathBytes);
    le::put16(embedded, count);
    if (fragmented)
        le::put32(embedded, offset);

    QByteArray cipMsg;
    cipMsg.reserve(embedded.size() + 16);
    le::put8(cipMsg, cip::UnconnectedSend);
    le::put8(cipMsg, UcsPathWords);
    le::put8(cipMsg, cip::SegClass8);
    le::put8(cipMsg, cip::ConnectionManagerClass);
    le::put8(cipMsg, cip::SegInstance8);
    le::put8(cipMsg, cip::ConnectionManagerInstance);
    le::put8(cipMsg, PriorityTick);
    le::put8(cipMsg, TimeoutTicks);
    le::put16(cipMsg, static_cast<quint16>(embedded.size()));
    cipMsg.append(embedded);
    if (embedded.size() % 2)
        le::put8(cipMsg, 0);
    le::put8(cipMsg, RouteWords);
    le::put8(cipMsg, 0);
    le::put8(cipMsg, cip::SegPort1);
    le::put8(cipMsg, RouteSlot);

    QByteArray frame;
    frame.reserve(eip::OffCipMessage + cipMsg.size());
    le::put16(frame, eip::SendRRData);
    le::put16(frame, static_cast<quint16>(eip::OffCipMessage - eip::HeaderSize + cipMsg.size()));
    frame.append(sessionBytes(session4));
    le::put32(frame, eip::StatusSuccess);
    frame.append(eip::ContextSize, '\0');
    le::put32(frame, 0); // options
    le::put32(frame, 0); // interface handle: CIP
    le::put16(frame, CpfTimeout);
    le::put16(frame, CpfItemCount);
    le::put16(frame, eip::ItemNullAddress);
    le::put16(frame, 0);
    le::put16(frame, eip::ItemUnconnectedData);
    le::put16(frame, static_cast<quint16>(cipMsg.size()));
    frame.append(cipMsg);
    return frame;
}

ReadReply judgeReadReply(const QByteArray &reply, quint8 requestService)
{
    ReadReply r;
    const int k = reply.size();
    if (k == 0)
        return r;
    r.verdict = Verdict::Length;
    le::Reader head(reply);
    r.command = head.u16();
    const quint16 encapLength = head.u16();
    head.skip(4);
    r.encapStatus = head.u32();
    if (!head.ok())
        return r;
    if (r.command != eip::SendRRData || r.encapStatus != eip::StatusSuccess) {
        r.verdict = Verdict::Encapsulation;
        return r;
    }
    // The lengths must describe exactly the bytes that came: a cut reply
    // would otherwise be decoded with zeros in place of the missing bytes,
    // and bytes of a following frame as values.
    if (k < OffExtStatus || encapLength != k - eip::HeaderSize ||
        le::getPadded(reply, OffItemLength, 2) != quint64(k - eip::OffCipMessage))
        return r;

    r.service = static_cast<quint8>(reply.at(OffReplyService));
    r.generalStatus = static_cast<quint8>(reply.at(OffGeneralStatus));
    const int extWords = static_cast<quint8>(reply.at(OffExtSize));
    // A routing failure is answered by the Connection Manager itself, as an
    // Unconnected Send reply with an error status: a controller error, not a
    // reply to some other request.
    const bool routingError = r.service == (cip::UnconnectedSend | cip::ReplyBit) &&
                              r.generalStatus != cip::Success &&
                              r.generalStatus != cip::PartialTransfer;
    if (r.service != (requestService | cip::ReplyBit) && !routingError) {
        r.verdict = Verdict::Service;
        return r;
    }
    le::Reader body(reply, OffExtStatus);
    for (int i = 0; i < extWords; ++i)
        r.extStatus.append(body.u16());
    if (!body.ok()) {
        r.extStatus.clear();
        return r;
    }
    if (r.generalStatus != cip::Success && r.generalStatus != cip::PartialTransfer) {
        r.verdict = Verdict::Status;
        return r;
    }
    r.dataType = body.u16();
    if (r.dataType == cip::TypeStructure) {
        r.hasHandle = true;
        r.handle = body.u16();
    }
    if (!body.ok())
        return r;
    r.value = body.bytes(body.remaining());
    r.verdict = r.generalStatus == cip::Success ? Verdict::Accepted : Verdict::Partial;
    return r;
}

ReadOutcome readTag(const QByteArray &session, const QByteArray &pathBytes, quint16 count,
                    int maxValueBytes, const Exchange &exchange, QByteArray *out, int minValueBytes)
{
    ReadOutcome o;
    // Two or more elements are asked for in parts from the start; a single
    // element that does not fit one reply continues the same way.
    bool fragmented = count >= 2;
    QByteArray gathered;
    qint64 valueBytes = 0;
    quint16 firstType = 0;
    quint16 firstHandle = 0;
    for (;;) {
        const quint8 service = fragmented ? cip::ReadTagFragmented : cip::ReadTag;
        const QByteArray request = buildReadFrame(session, pathBytes, count, fragmented, o.offset);
        o.reply.clear();
        const int rc = exchange(request, o.reply);
        ++o.parts;
        o.judged = judgeReadReply(o.reply, service);
        if (o.reply.isEmpty()) {
            o.rc = -2;
            o.failure = Failure::NoReply;
            return o;
        }
        if (rc != 0) {
            o.judged.verdict = Verdict::Length;
        }
        if (o.judged.verdict != Verdict::Accepted && o.judged.verdict != Verdict::Partial) {
            o.rc = -1;
            o.failure = Failure::Rejected;
            return o;
        }
        const ReadReply &j = o.judged;
        if (o.parts == 1) {
            firstType = j.dataType;
            firstHandle = j.handle;
            if (j.hasHandle)
                le::put16(gathered, j.handle);
        } else if (j.dataType != firstType || j.handle != firstHandle) {
            o.rc = -1;
            o.failure = Failure::PartChanged;
            return o;
        }
        valueBytes += j.value.size();
        // The bound is there to stop fragment following; one reply is
        // bounded by its frame already (a LINT read as one byte is fine).
        if (o.parts > 1 && valueBytes > maxValueBytes) {
            o.rc = -1;
            o.failure = Failure::TooLarge;
            return o;
        }
        gathered.append(j.value);
        if (j.verdict == Verdict::Accepted) {
            // Missing elements would otherwise be decoded as zeros and
            // reported as read.
            if (valueBytes < minValueBytes) {
                o.rc = -1;
                o.failure = Failure::TooShort;
                return o;
            }
            out->append(gathered);
            return o;
        }
        // Without progress the controller would be asked for the same
        // offset for ever.
        if (j.value.isEmpty()) {
            o.rc = -1;
            o.failure = Failure::EmptyPart;
            return o;
        }
        o.offset = static_cast<quint32>(valueBytes);
        fragmented = true;
    }
}

} // namespace tagread
