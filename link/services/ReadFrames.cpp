#include "ReadFrames.h"

#include "EipProtocol.h"

namespace tagread
{

namespace
{

// A reservation never larger than this, whatever bound the caller gives: a
// larger value grows as it comes.
constexpr int GatherReserveBytes = 64 * 1024;

} // namespace

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

QByteArray readRequest(const QByteArray &pathBytes, quint16 count, bool fragmented, quint32 offset)
{
    // Service, path size in words, path, count and, in parts, the offset:
    // as mrRequest lays them out, written into one buffer of the final size.
    QByteArray r(2 + pathBytes.size() + (fragmented ? 6 : 2), Qt::Uninitialized);
    le::Writer w(r.data(), r.size());
    w.put8(fragmented ? cip::ReadTagFragmented : cip::ReadTag);
    w.put8(static_cast<quint8>(pathBytes.size() / 2));
    w.putBytes(pathBytes.constData(), pathBytes.size());
    w.put16(count);
    if (fragmented)
        w.put32(offset);
    return r;
}

QByteArray buildReadFrame(const QByteArray &session4, const QByteArray &pathBytes, quint16 count,
                          bool fragmented, quint32 offset)
{
    return messaging::unconnectedFrame(session4, route::Route(),
                                       readRequest(pathBytes, count, fragmented, offset));
}

Envelope unconnectedEnvelope(const QByteArray &session, const route::Route &route)
{
    Envelope e;
    e.wrap = [session, route](const QByteArray &mr) {
        return messaging::unconnectedFrame(session, route, mr);
    };
    e.unwrap = [](const QByteArray &frame) { return messaging::unwrapUnconnected(frame); };
    return e;
}

ReadReply judgeReadReply(const QByteArray &reply, quint8 requestService)
{
    return judgeUnwrapped(messaging::unwrapUnconnected(reply), requestService);
}

ReadReply judgeUnwrapped(messaging::Unwrapped u, quint8 requestService)
{
    using messaging::Verdict;
    ReadReply r;
    r.command = u.command;
    r.encapStatus = u.encapStatus;
    switch (u.verdict) {
    case Verdict::Empty:
        r.verdict = tagread::Verdict::Empty;
        return r;
    case Verdict::Encapsulation:
        r.verdict = tagread::Verdict::Encapsulation;
        return r;
    case Verdict::Ok:
    case Verdict::Lost: // carries the controller's "connection not found"
        break;
    default:
        r.verdict = tagread::Verdict::Length;
        return r;
    }
    r.verdict = tagread::Verdict::Length;
    le::Reader body(u.mr);
    messaging::MrReply head;
    if (!messaging::readMrHeader(body, &head))
        return r;
    r.service = head.service;
    r.generalStatus = head.generalStatus;
    // A routing failure is answered by the Connection Manager itself, as an
    // Unconnected Send reply with an error status: a controller error, not a
    // reply to some other request.
    const bool routingError = r.service == (cip::UnconnectedSend | cip::ReplyBit) &&
                              r.generalStatus != cip::Success &&
                              r.generalStatus != cip::PartialTransfer;
    if (r.service != (requestService | cip::ReplyBit) && !routingError) {
        r.verdict = tagread::Verdict::Service;
        return r;
    }
    r.extStatus = head.ext;
    if (r.generalStatus != cip::Success && r.generalStatus != cip::PartialTransfer) {
        r.verdict = tagread::Verdict::Refused;
        return r;
    }
    r.dataType = body.u16();
    if (r.dataType == cip::TypeStructure) {
        r.hasHandle = true;
        r.handle = body.u16();
    }
    if (!body.ok())
        return r;
    // The value is the rest of the reply: taken over and moved to its front
    // in place, not copied into a block of its own for every part.
    const int valueAt = body.position();
    r.value = std::move(u.mr);
    r.value.remove(0, valueAt);
    r.verdict = r.generalStatus == cip::Success ? tagread::Verdict::Ok : tagread::Verdict::Partial;
    return r;
}

ReadOutcome readTag(const QByteArray &session, const QByteArray &pathBytes, quint16 count,
                    int maxValueBytes, const Exchange &exchange, QByteArray *out, int minValueBytes)
{
    return readTag(unconnectedEnvelope(session, route::Route()), pathBytes, count, maxValueBytes,
                   exchange, out, minValueBytes);
}

ReadOutcome readTag(const Envelope &envelope, const QByteArray &pathBytes, quint16 count,
                    int maxValueBytes, const Exchange &exchange, QByteArray *out, int minValueBytes)
{
    ReadOutcome o;
    // Two or more elements are asked for in parts from the start; a single
    // element that does not fit one reply continues the same way.
    bool fragmented = count >= 2;
    QByteArray gathered;
    // Parts are gathered into one block of about the size the caller
    // expects, not one grown and copied part by part.
    if (fragmented)
        gathered.reserve(qMin(maxValueBytes, GatherReserveBytes));
    qint64 valueBytes = 0;
    quint16 firstType = 0;
    quint16 firstHandle = 0;
    for (;;) {
        const quint8 service = fragmented ? cip::ReadTagFragmented : cip::ReadTag;
        const QByteArray request =
            envelope.wrap(readRequest(pathBytes, count, fragmented, o.offset));
        o.reply.clear();
        const int rc = exchange(request, o.reply);
        ++o.parts;
        o.judged = judgeUnwrapped(envelope.unwrap(o.reply), service);
        if (o.reply.isEmpty()) {
            o.rc = -2;
            o.failure = Failure::NoReply;
            return o;
        }
        if (rc != 0) {
            o.judged.verdict = Verdict::Length;
        }
        if (o.judged.verdict != Verdict::Ok && o.judged.verdict != Verdict::Partial) {
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
        if (j.verdict == Verdict::Ok) {
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
