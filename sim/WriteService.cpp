#include "WriteService.h"

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "TagPath.h"

namespace qsim
{

QByteArray writeTag(quint8 service, const QByteArray &path, const QByteArray &data,
                    const TagDatabase &db, const CipOptions &options)
{
    QByteArray refusal = forcedTagReply(service, options);
    if (!refusal.isEmpty())
        return refusal;
    if (options.store == nullptr)
        return cipError(service, cip::ServiceNotSupported);
    PathTarget target;
    refusal = resolveTagPath(service, path, db, &target);
    if (!refusal.isEmpty())
        return refusal;

    le::Reader r(data);
    QByteArray type;
    const quint16 code = r.u16();
    le::put16(type, code);
    if (code == cip::TypeStructure)
        le::put16(type, r.u16());
    const quint16 count = r.u16();
    const quint32 offset = service == cip::WriteTagFragmented ? r.u32() : 0;
    if (!r.ok())
        return cipError(service, cip::NotEnoughData);
    if (type != db.typeBytes(target.type))
        return cipError(service, cip::GeneralError, cip::ExtTypeMismatch);
    const qint64 total = qint64(count) * db.typeSize(target.type);
    if (count == 0 || count > target.available)
        return cipError(service, cip::GeneralError, cip::ExtBeyondEnd);

    const QByteArray part = data.mid(r.position());
    // A short string brings its length byte and that many characters.
    if (target.type.atomic == cip::TypeShortString) {
        if (service != cip::WriteTag || count != 1 || part.isEmpty() ||
            part.size() != 1 + quint8(part.at(0)))
            return cipError(service, cip::NotEnoughData);
        QByteArray held = part;
        held.append(TagDatabase::ShortStringSize - part.size(), '\0');
        options.store->storeBytes(target.tag->name, target.offset, held);
        return cipError(service, cip::Success);
    }
    // Write Tag brings all of the data; a part of a fragmented write must
    // bring some and stay within the elements named.
    if (part.isEmpty() || (service == cip::WriteTag && part.size() < total))
        return cipError(service, cip::NotEnoughData);
    if (qint64(offset) + part.size() > total)
        return cipError(service, cip::GeneralError, cip::ExtBeyondEnd);
    if (!options.store->storeBytes(target.tag->name, target.offset + offset, part))
        return cipError(service, cip::GeneralError, cip::ExtBeyondEnd);
    return cipError(service, cip::Success);
}

QByteArray readModifyWrite(const QByteArray &path, const QByteArray &data, const TagDatabase &db,
                           const CipOptions &options)
{
    const quint8 service = cip::ReadModifyWrite;
    QByteArray refusal = forcedTagReply(service, options);
    if (!refusal.isEmpty())
        return refusal;
    if (options.store == nullptr || !options.readModifyWrite)
        return cipError(service, cip::ServiceNotSupported);
    PathTarget target;
    refusal = resolveTagPath(service, path, db, &target);
    if (!refusal.isEmpty())
        return refusal;
    const int width = cip::integerWidth(target.type.atomic);
    if (target.type.isStruct() || !cip::isInteger(target.type.atomic))
        return cipError(service, cip::GeneralError, cip::ExtTypeMismatch);
    le::Reader r(data);
    const int size = r.u16();
    const quint64 orMask = r.ok() && size == width ? le::getPadded(r.bytes(size), 0, width) : 0;
    const quint64 andMask = r.ok() && size == width ? le::getPadded(r.bytes(size), 0, width) : 0;
    if (!r.ok() || size != width || r.remaining() != 0)
        return cipError(service, cip::NotEnoughData);
    const quint64 old = le::getPadded(target.tag->data, target.offset, width);
    const quint64 now = (old | orMask) & andMask;
    QByteArray bytes;
    for (int i = 0; i < width; ++i)
        le::put8(bytes, static_cast<quint8>(now >> (8 * i)));
    options.store->storeBytes(target.tag->name, target.offset, bytes);
    return cipError(service, cip::Success);
}

} // namespace qsim
