#include "BrowseService.h"

#include "ByteOrder.h"
#include "EipProtocol.h"

namespace qsim
{

namespace
{

constexpr quint8 AttributeNotSupported = 0x14;

struct ClassPath {
    QString program; // empty: controller scope
    quint8 cls = 0;
    quint32 instance = 0;
};

bool parseClassPath(const QByteArray &path, ClassPath *out)
{
    le::Reader r(path);
    if (!path.isEmpty() && static_cast<quint8>(path.at(0)) == cip::SegSymbolic) {
        r.skip(1);
        const int len = r.u8();
        const QByteArray name = r.bytes(len);
        if (len % 2)
            r.skip(1);
        if (!r.ok() || !name.startsWith(cip::ProgramPrefix))
            return false;
        out->program = QString::fromLatin1(name.mid(int(sizeof(cip::ProgramPrefix)) - 1));
    }
    if (r.u8() != cip::SegClass8)
        return false;
    out->cls = r.u8();
    const quint8 seg = r.u8();
    if (seg == cip::SegInstance8) {
        out->instance = r.u8();
    } else if (seg == cip::SegInstance16) {
        r.skip(1);
        out->instance = r.u16();
    } else {
        return false;
    }
    return r.ok() && r.remaining() == 0;
}

quint16 replyRoom(const CipOptions &options)
{
    return static_cast<quint16>(options.maxReplyBytes > 0
                                    ? options.maxReplyBytes - cip::ReplyHeaderSize
                                    : MaxReplyValueBytes);
}

QByteArray replyHead(quint8 service, quint8 status)
{
    QByteArray reply;
    le::put8(reply, service | cip::ReplyBit);
    le::put8(reply, 0);
    le::put8(reply, status);
    le::put8(reply, 0);
    return reply;
}

quint16 typeWord(const TagDatabase &db, const TypeRef &t, int dims)
{
    const quint16 base = t.isStruct() ? cip::SymbolStructBit | db.templateId(t) : t.atomic;
    return static_cast<quint16>(base | (dims << cip::SymbolDimsShift));
}

struct Listed {
    quint32 instance = 0;
    QString name;
    quint16 type = 0;
    QVector<int> dims;
};

// The scope's symbols in instance order: a tag's instance is its place in
// the database plus one; in the controller scope each program follows.
QVector<Listed> scopeSymbols(const TagDatabase &db, const QString &program)
{
    QVector<Listed> out;
    QStringList programs;
    const QString scope = QLatin1String(cip::ProgramPrefix) + program + QLatin1Char('.');
    for (int i = 0; i < db.tagCount(); ++i) {
        const TagDef &t = db.tagAt(i);
        const bool scoped =
            t.name.startsWith(QLatin1String(cip::ProgramPrefix), Qt::CaseInsensitive);
        if (program.isEmpty() && scoped) {
            const QString owner = t.name.left(t.name.indexOf(QLatin1Char('.')));
            if (!programs.contains(owner, Qt::CaseInsensitive))
                programs.append(owner);
            continue;
        }
        if (!program.isEmpty() && !t.name.startsWith(scope, Qt::CaseInsensitive))
            continue;
        Listed l;
        l.instance = static_cast<quint32>(i + 1);
        l.name = program.isEmpty() ? t.name : t.name.mid(scope.size());
        l.type = typeWord(db, t.type, t.dims.size());
        l.dims = t.dims;
        // A BOOL array: its words flagged, its dimension in bits.
        if (t.bits > 0) {
            l.type |= cip::SymbolBitArray;
            l.dims = {t.bits};
        }
        out.append(l);
    }
    for (int k = 0; k < programs.size(); ++k) {
        Listed l;
        l.instance = static_cast<quint32>(db.tagCount() + 1 + k);
        l.name = programs.at(k);
        l.type = cip::SymbolSystemBit;
        out.append(l);
    }
    return out;
}

QByteArray symbolList(const ClassPath &at, const QByteArray &data, const TagDatabase &db,
                      const CipOptions &options)
{
    const quint8 service = cip::GetInstanceAttributeList;
    le::Reader r(data);
    const int count = r.u16();
    QVector<quint16> ids;
    for (int i = 0; i < count && r.ok(); ++i)
        ids.append(r.u16());
    if (!r.ok())
        return cipError(service, cip::NotEnoughData);
    for (quint16 id : ids)
        if (id != cip::SymbolName && id != cip::SymbolType && id != cip::SymbolDims)
            return cipError(service, AttributeNotSupported);
    const QVector<Listed> symbols = scopeSymbols(db, at.program);
    if (!at.program.isEmpty() && symbols.isEmpty())
        return cipError(service, cip::PathDestinationUnknown);
    const int room = replyRoom(options);
    QByteArray body;
    bool more = false;
    for (const Listed &l : symbols) {
        if (l.instance < at.instance)
            continue;
        QByteArray e;
        le::put32(e, l.instance);
        for (quint16 id : ids) {
            if (id == cip::SymbolName) {
                const QByteArray name = l.name.toLatin1();
                le::put16(e, static_cast<quint16>(name.size()));
                e += name;
            } else if (id == cip::SymbolType) {
                le::put16(e, l.type);
            } else {
                for (int d = 0; d < cip::SymbolDimCount; ++d)
                    le::put32(e, d < l.dims.size() ? static_cast<quint32>(l.dims.at(d)) : 0);
            }
        }
        if (body.size() + e.size() > room) {
            more = true;
            break;
        }
        body += e;
    }
    if (more && body.isEmpty())
        return cipError(service, cip::ReplyDataTooLarge);
    return replyHead(service, more ? cip::PartialTransfer : cip::Success) + body;
}

// Member table, then "NAME;n" and the member names, each ended by a NUL.
QByteArray definition(const TagDatabase &db, const StructDef &s)
{
    QByteArray d;
    for (const MemberDef &m : s.members) {
        const qint64 n = TagDatabase::elementCount(m.dims);
        le::put16(d, static_cast<quint16>(m.dims.isEmpty() ? 0 : n));
        le::put16(d, typeWord(db, m.type, qMin(1, m.dims.size())));
        le::put32(d, static_cast<quint32>(m.offset));
    }
    d += s.name.toLatin1() + cip::TemplateNameEnd + "n";
    d += '\0';
    for (const MemberDef &m : s.members) {
        d += m.name.toLatin1();
        d += '\0';
    }
    return d;
}

quint32 definitionWords(int bytes)
{
    return static_cast<quint32>((bytes + cip::TemplateReadShortfall + 3) / 4);
}

QByteArray templateAttributes(const StructDef &s, const TagDatabase &db, const QByteArray &data)
{
    const quint8 service = cip::GetAttributeList;
    le::Reader r(data);
    const int count = r.u16();
    QByteArray body;
    le::put16(body, static_cast<quint16>(count));
    for (int i = 0; i < count; ++i) {
        const quint16 id = r.u16();
        if (!r.ok())
            return cipError(service, cip::NotEnoughData);
        le::put16(body, id);
        switch (id) {
        case cip::TemplateHandle:
            le::put16(body, cip::Success);
            le::put16(body, s.handle);
            break;
        case cip::TemplateMemberCount:
            le::put16(body, cip::Success);
            le::put16(body, static_cast<quint16>(s.members.size()));
            break;
        case cip::TemplateDefinitionWords:
            le::put16(body, cip::Success);
            le::put32(body, definitionWords(definition(db, s).size()));
            break;
        case cip::TemplateStructureSize:
            le::put16(body, cip::Success);
            le::put32(body, static_cast<quint32>(s.size));
            break;
        default:
            le::put16(body, AttributeNotSupported);
            break;
        }
    }
    return replyHead(service, cip::Success) + body;
}

QByteArray readTemplate(const StructDef &s, const TagDatabase &db, const QByteArray &data,
                        const CipOptions &options)
{
    const quint8 service = cip::ReadTemplate;
    le::Reader r(data);
    const quint32 offset = r.u32();
    const quint16 bytes = r.u16();
    if (!r.ok())
        return cipError(service, cip::NotEnoughData);
    QByteArray def = definition(db, s);
    const qint64 total = qint64(definitionWords(def.size())) * 4 - cip::TemplateReadShortfall;
    def.append(QByteArray(static_cast<int>(total - def.size()), '\0'));
    if (offset >= total || bytes == 0)
        return cipError(service, cip::GeneralError, cip::ExtBeyondEnd);
    const qint64 wanted = qMin<qint64>(bytes, total - offset);
    const qint64 part = qMin<qint64>(wanted, replyRoom(options));
    return replyHead(service, part < wanted ? cip::PartialTransfer : cip::Success) +
           def.mid(static_cast<int>(offset), static_cast<int>(part));
}

} // namespace

bool isBrowsePath(const QByteArray &path)
{
    ClassPath at;
    return parseClassPath(path, &at) &&
           (at.cls == cip::SymbolClass || at.cls == cip::TemplateClass);
}

QByteArray browseService(quint8 service, const QByteArray &path, const QByteArray &data,
                         const TagDatabase &db, const CipOptions &options)
{
    ClassPath at;
    if (!parseClassPath(path, &at))
        return cipError(service, cip::PathSegmentError);
    if (at.cls == cip::SymbolClass) {
        if (service != cip::GetInstanceAttributeList)
            return cipError(service, cip::ServiceNotSupported);
        return symbolList(at, data, db, options);
    }
    const StructDef *s = db.structByTemplate(static_cast<quint16>(at.instance));
    if (!at.program.isEmpty() || !s)
        return cipError(service, cip::PathDestinationUnknown);
    if (service == cip::GetAttributeList)
        return templateAttributes(*s, db, data);
    if (service == cip::ReadTemplate)
        return readTemplate(*s, db, data, options);
    return cipError(service, cip::ServiceNotSupported);
}

} // namespace qsim
