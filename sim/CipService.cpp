#include "CipService.h"

#include "BrowseService.h"
#include "ByteOrder.h"
#include "ConnectionManager.h"
#include "IdentityService.h"
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
    QByteArray refusal = forcedTagReply(service, options);
    if (!refusal.isEmpty())
        return refusal;
    PathTarget target;
    refusal = resolveTagPath(service, path, db, &target);
    if (!refusal.isEmpty())
        return refusal;

    le::Reader r(data);
    const quint16 count = r.u16();
    const quint32 offset = service == cip::ReadTagFragmented ? r.u32() : 0;
    if (!r.ok())
        return cipError(service, cip::NotEnoughData);
    const qint64 elemSize = db.typeSize(target.type);
    qint64 total = count * elemSize;
    if (count == 0 || count > target.available || offset >= total)
        return cipError(service, cip::GeneralError, cip::ExtBeyondEnd);
    // A short string replies its length byte and its characters only.
    if (target.type.atomic == cip::TypeShortString)
        total = 1 + quint8(target.tag->data.at(int(target.offset)));

    const QByteArray type = db.typeBytes(target.type);
    const qint64 room = options.maxReplyBytes > 0
                            ? options.maxReplyBytes - cip::ReplyHeaderSize - type.size()
                            : MaxReplyValueBytes;
    if (room <= 0)
        return cipError(service, cip::ReplyDataTooLarge);
    // Parts hold whole elements whenever one element fits a reply.
    const qint64 chunk = elemSize <= room ? room / elemSize * elemSize : room;
    const qint64 part = qMin(total - offset, chunk);
    const bool more = offset + part < total;

    QByteArray reply;
    le::put8(reply, service | cip::ReplyBit);
    le::put8(reply, 0);
    le::put8(reply, more ? cip::PartialTransfer : cip::Success);
    le::put8(reply, 0);
    reply += type;
    reply += target.tag->data.mid(static_cast<int>(target.offset + offset), static_cast<int>(part));
    return reply;
}

enum class Hop { Bare, Routed, Connected };

QByteArray dispatch(const QByteArray &request, const TagDatabase &db, const CipOptions &options,
                    Hop hop, CipEffects *effects);

// Priority/tick, time-out ticks, embedded size, embedded request, pad to an
// even size, route path size in words, reserved, route path.
QByteArray unconnectedSend(const QByteArray &data, const TagDatabase &db, const CipOptions &options,
                           CipEffects *effects)
{
    le::Reader r(data);
    r.skip(2);
    const int size = r.u16();
    const QByteArray embedded = r.bytes(size);
    if (size % 2)
        r.skip(1);
    const quint8 words = r.u8();
    r.skip(1);
    const QByteArray routeBytes = r.bytes(2 * words);
    if (!r.ok() || size < 2 || words == 0)
        return cipError(cip::UnconnectedSend, cip::NotEnoughData);
    // A controller addressed directly has no Connection Manager that routes.
    if (options.route.direct)
        return routeFailure(cip::UnconnectedSend, cip::ExtPortNotAvailable, words);
    QVector<PortSegment> route;
    if (!options.route.anyRoute() &&
        (!parseRoute(routeBytes, &route) || checkRoute(route, options.route) != 0))
        return routeFailure(cip::UnconnectedSend, cip::ExtLinkAddressInvalid, words);
    return dispatch(embedded, db, options, Hop::Routed, effects);
}

bool isConnectionManagerService(quint8 service)
{
    return service == cip::UnconnectedSend || service == cip::ForwardOpen ||
           service == cip::LargeForwardOpen || service == cip::ForwardClose;
}

QByteArray dispatch(const QByteArray &request, const TagDatabase &db, const CipOptions &options,
                    Hop hop, CipEffects *effects)
{
    le::Reader r(request);
    const quint8 service = r.u8();
    const int words = r.u8();
    const QByteArray path = r.bytes(2 * words);
    if (!r.ok())
        return cipError(service, cip::NotEnoughData);
    const QByteArray data = request.mid(r.position());
    if (isConnectionManagerService(service) && isConnectionManager(path)) {
        // A routed request that asks to be routed again goes nowhere.
        if (hop == Hop::Routed && service == cip::UnconnectedSend)
            return cipError(service, cip::PathDestinationUnknown);
        // Connections are opened from the originator's own side, and a
        // connected request has already reached its target.
        if (hop != Hop::Bare)
            return cipError(service, cip::ServiceNotSupported);
        if (service == cip::UnconnectedSend)
            return unconnectedSend(data, db, options, effects);
        if (service == cip::ForwardClose)
            return forwardClose(data, options, effects);
        return forwardOpen(service, data, options, effects);
    }
    if (isBrowsePath(path))
        return browseService(service, path, data, db, options);
    const bool tagService = service == cip::ReadTag || service == cip::ReadTagFragmented ||
                            service == cip::WriteTag || service == cip::WriteTagFragmented ||
                            service == cip::ReadModifyWrite;
    if (tagService) {
        if (effects)
            effects->tagRequest = true;
        // Another writer of the controller changes its bit before each.
        if (options.store)
            options.store->toggle();
    }
    if (service == cip::ReadTag || service == cip::ReadTagFragmented)
        return readTag(service, path, data, db, options);
    if (service == cip::WriteTag || service == cip::WriteTagFragmented)
        return writeTag(service, path, data, db, options);
    if (service == cip::ReadModifyWrite)
        return readModifyWrite(path, data, db, options);
    if (service == cip::GetAttributesAll || service == cip::GetAttributeSingle)
        return identityService(service, path, db.identity);
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

QByteArray routeFailure(quint8 service, quint16 extStatus, quint8 routeWords)
{
    QByteArray reply = cipError(service, cip::ConnectionFailure, extStatus);
    le::put8(reply, routeWords);
    return reply;
}

QByteArray handleCip(const QByteArray &request, const TagDatabase &db, const CipOptions &options,
                     CipEffects *effects, CipVia via)
{
    return dispatch(request, db, options, via == CipVia::Connected ? Hop::Connected : Hop::Bare,
                    effects);
}

QByteArray forcedTagReply(quint8 service, const CipOptions &options)
{
    if (options.forcedStatus < 0)
        return QByteArray();
    const quint8 status = static_cast<quint8>(options.forcedStatus);
    return cipError(service, status, status == cip::GeneralError ? cip::ExtBeyondEnd : 0);
}

QByteArray resolveTagPath(quint8 service, const QByteArray &path, const TagDatabase &db,
                          PathTarget *target)
{
    QVector<PathSegment> segments;
    if (!parsePath(path, &segments))
        return cipError(service, cip::PathSegmentError);
    *target = resolvePath(segments, db);
    if (target->status != cip::Success)
        return cipError(service, target->status, target->extStatus);
    return QByteArray();
}

} // namespace qsim
