#include "CipService.h"

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "TagPath.h"
#include "WriteService.h"

namespace qsim
{

namespace
{

bool isConnectionManager(const QByteArray &path)
{
    QByteArray cm;
    le::put8(cm, cip::SegClass8);
    le::put8(cm, cip::ConnectionManagerClass);
    le::put8(cm, cip::SegInstance8);
    le::put8(cm, cip::ConnectionManagerInstance);
    return path == cm;
}

QByteArray readTag(quint8 service, const QByteArray &path, const QByteArray &data,
                   const TagDatabase &db, const CipOptions &options)
{
    if (options.forcedStatus >= 0) {
        const quint8 status = static_cast<quint8>(options.forcedStatus);
        return cipError(service, status, status == cip::GeneralError ? cip::ExtBeyondEnd : 0);
    }
    QVector<PathSegment> segments;
    if (!parsePath(path, &segments))
        return cipError(service, cip::PathSegmentError);
    const PathTarget target = resolvePath(segments, db);
    if (target.status != cip::Success)
        return cipError(service, target.status, target.extStatus);

    le::Reader r(data);
    const quint16 count = r.u16();
    const quint32 offset = service == cip::ReadTagFragmented ? r.u32() : 0;
    if (!r.ok())
        return cipError(service, cip::NotEnoughData);
    const qint64 elemSize = db.typeSize(target.type);
    const qint64 total = count * elemSize;
    if (count == 0 || count > target.available || offset >= total)
        return cipError(service, cip::GeneralError, cip::ExtBeyondEnd);

    // Parts hold whole elements whenever one element fits a reply.
    const qint64 chunk = elemSize <= MaxReplyValueBytes ? MaxReplyValueBytes / elemSize * elemSize
                                                        : MaxReplyValueBytes;
    const qint64 part = qMin(total - offset, chunk);
    const bool more = offset + part < total;

    QByteArray reply;
    le::put8(reply, service | cip::ReplyBit);
    le::put8(reply, 0);
    le::put8(reply, more ? cip::PartialTransfer : cip::Success);
    le::put8(reply, 0);
    reply += db.typeBytes(target.type);
    reply += target.tag->data.mid(static_cast<int>(target.offset + offset), static_cast<int>(part));
    return reply;
}

QByteArray dispatch(const QByteArray &request, const TagDatabase &db, const CipOptions &options,
                    bool routed);

// Priority/tick, time-out ticks, embedded size, embedded request, pad to an
// even size, route path size in words, reserved, route path.
QByteArray unconnectedSend(const QByteArray &data, const TagDatabase &db, const CipOptions &options)
{
    le::Reader r(data);
    r.skip(2);
    const int size = r.u16();
    const QByteArray embedded = r.bytes(size);
    if (size % 2)
        r.skip(1);
    const int routeWords = r.u8();
    r.skip(1);
    r.skip(2 * routeWords);
    if (!r.ok() || size < 2 || routeWords == 0)
        return cipError(cip::UnconnectedSend, cip::NotEnoughData);
    return dispatch(embedded, db, options, true);
}

QByteArray dispatch(const QByteArray &request, const TagDatabase &db, const CipOptions &options,
                    bool routed)
{
    le::Reader r(request);
    const quint8 service = r.u8();
    const int words = r.u8();
    const QByteArray path = r.bytes(2 * words);
    if (!r.ok())
        return cipError(service, cip::NotEnoughData);
    const QByteArray data = request.mid(r.position());
    if (service == cip::UnconnectedSend && isConnectionManager(path)) {
        // A routed request that asks to be routed again goes nowhere.
        if (routed)
            return cipError(service, cip::PathDestinationUnknown);
        return unconnectedSend(data, db, options);
    }
    if (service == cip::ReadTag || service == cip::ReadTagFragmented)
        return readTag(service, path, data, db, options);
    if (service == cip::WriteTag || service == cip::WriteTagFragmented)
        return writeTag(service, path, data, db, options);
    return cipError(service, cip::ServiceNotSupported);
}

} // namespace

QByteArray cipError(quint8 service, quint8 status, quint16 extStatus)
{
    QByteArray reply;
    le::put8(reply, service | cip::ReplyBit);
    le::put8(reply, 0);
    le::put8(reply, status);
    le::put8(reply, extStatus ? 1 : 0);
    if (extStatus)
        le::put16(reply, extStatus);
    return reply;
}

QByteArray handleCip(const QByteArray &request, const TagDatabase &db, const CipOptions &options)
{
    return dispatch(request, db, options, false);
}

} // namespace qsim
