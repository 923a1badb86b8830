#include "TagPath.h"

#include "ByteOrder.h"
#include "EipProtocol.h"

namespace qsim
{

bool parsePath(const QByteArray &path, QVector<PathSegment> *out)
{
    le::Reader r(path);
    while (r.ok() && r.remaining() > 0) {
        PathSegment seg;
        switch (r.u8()) {
        case cip::SegSymbolic: {
            const int len = r.u8();
            seg.symbolic = true;
            seg.name = r.bytes(len);
            if (len == 0 || (len % 2 && !r.skip(1)))
                return false;
            break;
        }
        case cip::SegElement8:
            seg.index = r.u8();
            break;
        case cip::SegElement16:
            r.skip(1);
            seg.index = r.u16();
            break;
        case cip::SegElement32:
            r.skip(1);
            seg.index = r.u32();
            break;
        default:
            return false;
        }
        if (!r.ok())
            return false;
        out->append(seg);
    }
    return r.ok() && !out->isEmpty();
}

namespace
{

PathTarget fail(quint8 status, quint16 ext = 0)
{
    PathTarget t;
    t.status = status;
    t.extStatus = ext;
    return t;
}

} // namespace

PathTarget resolvePath(const QVector<PathSegment> &segments, const TagDatabase &db)
{
    if (segments.isEmpty() || !segments.first().symbolic)
        return fail(cip::PathSegmentError);
    PathTarget t;
    int i = 1;
    QString name = QString::fromLatin1(segments.first().name);
    // A program's tag: the program's segment, then the tag's name.
    if (name.startsWith(QLatin1String(cip::ProgramPrefix), Qt::CaseInsensitive) &&
        segments.size() > 1 && segments.at(1).symbolic)
        name += QLatin1Char('.') + QString::fromLatin1(segments.at(i++).name);
    t.tag = db.find(name);
    if (!t.tag)
        return fail(cip::PathDestinationUnknown);
    t.type = t.tag->type;
    QVector<int> dims = t.tag->dims; // dimensions not yet indexed
    qint64 first = 0;                // element index within them
    bool indexed = false;

    while (i < segments.size()) {
        if (!segments.at(i).symbolic) {
            // One element segment per dimension; dimensions left out count
            // as index 0 of their dimension.
            if (dims.isEmpty() || indexed)
                return fail(cip::PathSegmentError);
            qint64 linear = 0;
            int d = 0;
            for (; i < segments.size() && !segments.at(i).symbolic; ++i, ++d) {
                if (d >= dims.size())
                    return fail(cip::PathSegmentError);
                if (segments.at(i).index >= static_cast<quint32>(dims.at(d)))
                    return fail(cip::GeneralError, cip::ExtBeyondEnd);
                linear = linear * dims.at(d) + segments.at(i).index;
            }
            for (; d < dims.size(); ++d)
                linear *= dims.at(d);
            first = linear;
            indexed = true;
            continue;
        }
        // A member of one structure: an array must have been indexed first.
        if (!t.type.isStruct() || (!dims.isEmpty() && !indexed))
            return fail(cip::PathDestinationUnknown);
        const StructDef &s = db.structDef(t.type);
        const MemberDef *m = nullptr;
        const QString name = QString::fromLatin1(segments.at(i).name);
        for (const MemberDef &cand : s.members)
            if (cand.name.compare(name, Qt::CaseInsensitive) == 0)
                m = &cand;
        if (!m)
            return fail(cip::PathDestinationUnknown);
        t.offset += first * db.typeSize(t.type) + m->offset;
        t.type = m->type;
        dims = m->dims;
        first = 0;
        indexed = false;
        ++i;
    }
    t.available = TagDatabase::elementCount(dims) - first;
    t.offset += first * db.typeSize(t.type);
    return t;
}

} // namespace qsim
