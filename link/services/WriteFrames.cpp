#include "WriteFrames.h"

#include "ByteOrder.h"
#include "EipProtocol.h"

namespace tagwrite
{

namespace
{

// Service, path size, path, data type, element count.
QByteArray requestHead(quint8 service, const QByteArray &pathBytes, const QByteArray &typeBytes,
                       quint16 count, int dataSize)
{
    QByteArray r;
    r.reserve(requestOverhead(pathBytes.size(), typeBytes.size(), true) + dataSize);
    le::put8(r, service);
    le::put8(r, static_cast<quint8>(pathBytes.size() / 2));
    r.append(pathBytes);
    r.append(typeBytes);
    le::put16(r, count);
    return r;
}

// One request and its reply; false when the part was not confirmed.
bool exchangeOne(WriteOutcome &o, const QByteArray &request, quint8 service,
                 const Exchange &exchange)
{
    o.reply.clear();
    ++o.parts;
    o.linkRc = exchange(request, o.reply);
    if (o.linkRc != 0) {
        o.failure = Failure::Link;
        o.rc = o.linkRc;
        return false;
    }
    o.judged = judgeWriteReply(o.reply, service);
    if (o.judged.verdict != Verdict::Ok) {
        o.failure = Failure::Refused;
        o.rc = -1;
        return false;
    }
    return true;
}

} // namespace

QByteArray writeTagRequest(const QByteArray &pathBytes, const QByteArray &typeBytes, quint16 count,
                           const QByteArray &data)
{
    QByteArray r = requestHead(cip::WriteTag, pathBytes, typeBytes, count, data.size());
    r.append(data);
    return r;
}

QByteArray writeFragmentRequest(const QByteArray &pathBytes, const QByteArray &typeBytes,
                                quint16 count, quint32 offset, const QByteArray &part)
{
    QByteArray r = requestHead(cip::WriteTagFragmented, pathBytes, typeBytes, count, part.size());
    le::put32(r, offset);
    r.append(part);
    return r;
}

QByteArray readModifyWriteRequest(const QByteArray &pathBytes, const QByteArray &orMask,
                                  const QByteArray &andMask)
{
    QByteArray r;
    le::put8(r, cip::ReadModifyWrite);
    le::put8(r, static_cast<quint8>(pathBytes.size() / 2));
    r.append(pathBytes);
    le::put16(r, static_cast<quint16>(orMask.size()));
    r.append(orMask);
    r.append(andMask);
    return r;
}

QByteArray mask(quint64 bits, int width)
{
    QByteArray m;
    for (int i = 0; i < width; ++i)
        le::put8(m, static_cast<quint8>(bits >> (8 * i)));
    return m;
}

int requestOverhead(int pathSize, int typeSize, bool fragmented)
{
    constexpr int ServiceAndPathSize = 2;
    constexpr int CountSize = 2;
    constexpr int OffsetSize = 4;
    return ServiceAndPathSize + pathSize + typeSize + CountSize + (fragmented ? OffsetSize : 0);
}

QVector<Fragment> splitData(int dataSize, int elementSize, int pathSize, int typeSize,
                            int maxRequestBytes)
{
    QVector<Fragment> parts;
    int room = maxRequestBytes - requestOverhead(pathSize, typeSize, true);
    if (room < 1 || dataSize < 1)
        return parts;
    if (elementSize > 0 && elementSize <= room)
        room -= room % elementSize;
    for (qint64 at = 0; at < dataSize; at += room) {
        Fragment f;
        f.offset = static_cast<quint32>(at);
        f.size = static_cast<int>(qMin<qint64>(room, dataSize - at));
        parts.append(f);
    }
    return parts;
}

WriteReply judgeWriteReply(const QByteArray &mrReply, quint8 requestService)
{
    WriteReply w;
    if (mrReply.isEmpty())
        return w;
    w.verdict = Verdict::Length;
    le::Reader r(mrReply);
    w.service = r.u8();
    r.skip(1); // reserved
    w.generalStatus = r.u8();
    const int extWords = r.u8();
    if (!r.ok())
        return w;
    // A route that fails is answered by the Connection Manager with an
    // Unconnected Send reply: the write was refused on its way.
    const bool routingError =
        w.service == (cip::UnconnectedSend | cip::ReplyBit) && w.generalStatus != cip::Success;
    if (w.service != (requestService | cip::ReplyBit) && !routingError) {
        w.verdict = Verdict::Service;
        return w;
    }
    for (int i = 0; i < extWords; ++i)
        w.extStatus.append(r.u16());
    if (!r.ok()) {
        w.extStatus.clear();
        return w;
    }
    w.verdict = w.generalStatus == cip::Success ? Verdict::Ok : Verdict::Refused;
    return w;
}

namespace
{

WriteOutcome writeAs(const QByteArray &pathBytes, const QByteArray &typeBytes, quint16 count,
                     const QByteArray &data, int elementSize, int maxRequestBytes,
                     const Exchange &exchange)
{
    WriteOutcome o;
    if (requestOverhead(pathBytes.size(), typeBytes.size(), false) + data.size() <=
        maxRequestBytes) {
        if (exchangeOne(o, writeTagRequest(pathBytes, typeBytes, count, data), cip::WriteTag,
                        exchange))
            o.written = data.size();
        return o;
    }
    const QVector<Fragment> parts =
        splitData(data.size(), elementSize, pathBytes.size(), typeBytes.size(), maxRequestBytes);
    if (parts.isEmpty()) {
        o.rc = -1;
        o.failure = Failure::TooLarge;
        return o;
    }
    for (const Fragment &f : parts) {
        const QByteArray request = writeFragmentRequest(pathBytes, typeBytes, count, f.offset,
                                                        data.mid(int(f.offset), f.size));
        if (!exchangeOne(o, request, cip::WriteTagFragmented, exchange)) {
            // The controller holds part of the new data: that is a failed
            // write whatever the reason, never a clean refusal.
            if (o.written > 0) {
                o.failure = Failure::Incomplete;
                o.rc = -1;
            }
            return o;
        }
        o.written += f.size;
    }
    return o;
}

bool refusedForType(const WriteOutcome &o)
{
    return o.failure == Failure::Refused && o.judged.verdict == Verdict::Refused &&
           o.judged.generalStatus == cip::GeneralError && !o.judged.extStatus.isEmpty() &&
           o.judged.extStatus.first() == cip::ExtTypeMismatch;
}

} // namespace

QByteArray bitStringRetryType(const QByteArray &typeBytes)
{
    if (typeBytes.size() != 2)
        return QByteArray();
    const quint16 code = static_cast<quint16>(le::getPadded(typeBytes, 0, 2));
    const quint16 bits = cip::bitStringOfWidth(cip::integerWidth(code));
    if (!cip::isInteger(code) || bits == 0 || bits == code)
        return QByteArray();
    QByteArray retry;
    le::put16(retry, bits);
    return retry;
}

WriteOutcome writeTag(const QByteArray &pathBytes, const QByteArray &typeBytes, quint16 count,
                      const QByteArray &data, int elementSize, int maxRequestBytes,
                      const Exchange &exchange)
{
    WriteOutcome o =
        writeAs(pathBytes, typeBytes, count, data, elementSize, maxRequestBytes, exchange);
    // A type mismatch is refused before anything is stored. A tag of a bit
    // string type (DWORD, ...) takes no integer code, only its own, for the
    // very same bits: the write goes once more under that code.
    const QByteArray retry = bitStringRetryType(typeBytes);
    if (retry.isEmpty() || !refusedForType(o) || o.written > 0)
        return o;
    const int sent = o.parts;
    o = writeAs(pathBytes, retry, count, data, elementSize, maxRequestBytes, exchange);
    o.parts += sent;
    return o;
}

} // namespace tagwrite
