#include "BrowsedTypes.h"

#include "EipProtocol.h"

#include <QRegularExpression>

namespace tools
{

namespace
{

// Where a path stands: its type word and the array elements still unnamed.
struct Place {
    quint16 type = 0;
    qint64 elements = 1;
    bool array = false;
    QVector<quint32> dims; // of the array, the last one varying fastest
};

// "[i]" or "[i,j,k]" for element `n` of an array of `dims`.
QString indexText(const QVector<quint32> &dims, qint64 n)
{
    QStringList at;
    for (int d = dims.size() - 1; d >= 0; --d) {
        const quint32 size = qMax<quint32>(1, dims.at(d));
        at.prepend(QString::number(n % size));
        n /= size;
    }
    return QLatin1Char('[') + at.join(QLatin1Char(',')) + QLatin1Char(']');
}

// STRING, or a type made like it: a DINT LEN, then a SINT array DATA.
bool isString(const browse::TemplateCache &templates, quint16 type)
{
    if (!(type & cip::SymbolStructBit))
        return false;
    const browse::StructType *s = templates.find(type & cip::SymbolTemplateMask);
    if (!s)
        return false;
    if (s->handle == cip::StringHandle)
        return true;
    return s->members.size() == 2 &&
           s->members.at(0).name.compare(QLatin1String("LEN"), Qt::CaseInsensitive) == 0 &&
           s->members.at(0).type == cip::TypeDint &&
           s->members.at(1).name.compare(QLatin1String("DATA"), Qt::CaseInsensitive) == 0 &&
           (s->members.at(1).type & cip::SymbolAtomicMask) == cip::TypeSint &&
           (s->members.at(1).type & cip::SymbolDimsMask) != 0;
}

// A decimal number: after the last dot, the bit of an integer.
bool isBitNumber(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return true;
}

TagRequest boolRead(const QString &tag, int count)
{
    TagRequest r;
    r.tag = tag;
    r.type = DT_Bool;
    r.count = count;
    r.typeGiven = true;
    return r;
}

Place memberPlace(const browse::TemplateMember &m)
{
    Place p;
    p.type = m.type;
    p.array = (m.type & cip::SymbolDimsMask) != 0;
    p.elements = p.array ? qMax<quint16>(1, m.info) : 1;
    if (p.array)
        p.dims = {quint32(p.elements)};
    return p;
}

const browse::TemplateMember *findMember(const browse::StructType &s, const QString &name)
{
    for (const browse::TemplateMember &m : s.members)
        if (m.name.compare(name, Qt::CaseInsensitive) == 0)
            return &m;
    return nullptr;
}

// Reads for `path` at `place`: one for atomic data and texts, else one
// per member, element by element for an array of structures.
bool expand(const browse::TemplateCache &templates, const QString &path, const Place &place,
            int depth, QVector<TagRequest> *out, QString *error)
{
    if (out->size() >= MaxMemberReads || depth > browse::TemplateCache::MaxDepth) {
        *error = QStringLiteral("'%1': more than %2 reads; name an element or member")
                     .arg(path)
                     .arg(MaxMemberReads);
        return false;
    }
    const bool structure = (place.type & cip::SymbolStructBit) != 0;
    if (place.elements > (structure ? MaxMemberReads : MaxCount)) {
        *error = QStringLiteral("'%1': %2 elements, more than one read takes; name an element, "
                                "or give TYPE and COUNT")
                     .arg(path)
                     .arg(place.elements);
        return false;
    }
    if (!structure || isString(templates, place.type)) {
        TagRequest r;
        r.tag = path;
        r.type = structure ? DT_String : dataTypeFor(place.type & cip::SymbolAtomicMask);
        r.count = static_cast<int>(place.elements);
        r.typeGiven = true;
        if (r.type == DT_None) {
            *error = QStringLiteral("'%1': the controller's type %2 has no read type")
                         .arg(path, atomicTypeName(place.type & cip::SymbolAtomicMask));
            return false;
        }
        out->append(r);
        return true;
    }
    const browse::StructType *s = templates.find(place.type & cip::SymbolTemplateMask);
    if (!s) {
        *error = QStringLiteral("'%1': the structure's layout was not read").arg(path);
        return false;
    }
    for (qint64 i = 0; i < (place.array ? place.elements : 1); ++i) {
        const QString at = place.array ? path + indexText(place.dims, i) : path;
        for (const browse::TemplateMember &m : s->members) {
            // Hidden hosts of packed BOOLs, and names a read cannot address.
            if (m.name.isEmpty() || m.name.startsWith(QLatin1String("__")) ||
                m.name.startsWith(QLatin1String("ZZZZZZZZZZ")))
                continue;
            if (!expand(templates, at + QLatin1Char('.') + m.name, memberPlace(m), depth + 1, out,
                        error))
                return false;
        }
    }
    return true;
}

// "Program:P.Name" or "Name": the part of `tag` naming the symbol.
int baseLength(const QString &tag)
{
    const QLatin1String prefix(cip::ProgramPrefix);
    int from = 0;
    if (tag.startsWith(prefix, Qt::CaseInsensitive)) {
        from = tag.indexOf(QLatin1Char('.'));
        if (from < 0)
            return tag.size();
        ++from;
    }
    int end = from;
    while (end < tag.size() && tag.at(end) != QLatin1Char('.') && tag.at(end) != QLatin1Char('['))
        ++end;
    return end;
}

} // namespace

DataType dataTypeFor(quint16 atomic)
{
    switch (atomic) {
    case cip::TypeBool:
        return DT_Bool;
    case cip::TypeSint:
        return DT_Int8;
    case cip::TypeUsint:
        return DT_UInt8;
    case cip::TypeInt:
        return DT_Int16;
    case cip::TypeUint:
        return DT_UInt16;
    case cip::TypeDint:
        return DT_Int32;
    case cip::TypeByte:
        return DT_UInt8;
    case cip::TypeWord:
        return DT_UInt16;
    case cip::TypeUdint:
    case cip::TypeDword:
        return DT_UInt32;
    case cip::TypeLword:
        return DT_UInt64;
    case cip::TypeShortString:
        return DT_String;
    case cip::TypeLint:
        return DT_Int64;
    case cip::TypeUlint:
        return DT_UInt64;
    case cip::TypeReal:
        return DT_Float;
    case cip::TypeLreal:
        return DT_Double;
    default:
        return DT_None;
    }
}

bool typedReads(const QVector<BrowsedTag> &tags, const browse::TemplateCache &templates,
                const QString &tag, QVector<TagRequest> *out, QString *error)
{
    const int base = baseLength(tag);
    const QString name = tag.left(base);
    const BrowsedTag *found = nullptr;
    for (const BrowsedTag &t : tags)
        if (t.path().compare(name, Qt::CaseInsensitive) == 0) {
            found = &t;
            break;
        }
    // A name the list does not have is read as given, so that the
    // controller's own reply says what is wrong with that one tag.
    TagRequest asGiven;
    asGiven.tag = tag;
    if (!found) {
        out->append(asGiven);
        return true;
    }
    Place place;
    place.type = found->symbol.type;
    for (int d = 0; d < found->symbol.dimCount() && d < cip::SymbolDimCount; ++d) {
        place.dims.append(found->symbol.dims[d]);
        // Capped, so that three 32-bit sizes cannot overflow the product.
        place.elements =
            qMin<qint64>(place.elements * qMax<quint32>(1, found->symbol.dims[d]), qint64(1) << 40);
    }
    place.array = !place.dims.isEmpty();
    // A BOOL array's elements are bits: a whole one is read from bit 0 on.
    const bool boolArray = found->symbol.isBoolArray();
    if (boolArray && base == tag.size()) {
        out->append(
            boolRead(tag + QStringLiteral("[0]"), int(qMin<qint64>(place.elements, MaxCount))));
        return true;
    }
    // Then each [index] names one element, each .name one member.
    int i = base;
    while (i < tag.size()) {
        if (tag.at(i) == QLatin1Char('[')) {
            const int close = tag.indexOf(QLatin1Char(']'), i);
            if (close < 0 || !place.array) {
                out->append(asGiven);
                return true;
            }
            // Of any 0xD3 array, the driver reads an element as a bit.
            if ((place.type & cip::SymbolAtomicMask) == cip::TypeDword &&
                !(place.type & cip::SymbolStructBit) && close + 1 == tag.size() &&
                place.dims.size() == 1 && !tag.mid(i, close - i).contains(QLatin1Char(','))) {
                out->append(boolRead(tag, 1));
                return true;
            }
            place.array = false;
            place.elements = 1;
            i = close + 1;
            continue;
        }
        int end = i + 1;
        while (end < tag.size() && tag.at(end) != QLatin1Char('.') &&
               tag.at(end) != QLatin1Char('['))
            ++end;
        const QString member = tag.mid(i + 1, end - i - 1);
        if (end == tag.size() && isBitNumber(member)) {
            out->append(boolRead(tag, 1));
            return true;
        }
        const browse::StructType *s = (place.type & cip::SymbolStructBit) && !place.array
                                          ? templates.find(place.type & cip::SymbolTemplateMask)
                                          : nullptr;
        const browse::TemplateMember *m = s ? findMember(*s, member) : nullptr;
        if (!m) {
            out->append(asGiven);
            return true;
        }
        place = memberPlace(*m);
        i = end;
    }
    QVector<TagRequest> reads; // bounded per tag, not per run
    if (!expand(templates, tag, place, 0, &reads, error))
        return false;
    *out += reads;
    return true;
}

bool typeFromController(const QString &connection, const QString &pattern,
                        QVector<TagRequest> *requests, QString *error, bool *listed)
{
    bool dummy = false;
    bool &read = listed ? *listed : dummy;
    read = false;
    // A serial line has no tag list to browse: its reads keep the default.
    if (connection.section(QLatin1Char(';'), 0, 0).contains(QLatin1Char(','))) {
        read = true;
        if (pattern.isEmpty())
            return true;
        *error = QStringLiteral("tags are browsed over TCP only, not over %1").arg(connection);
        return false;
    }
    ControllerBrowse browser;
    QVector<BrowsedTag> tags;
    if (!browser.open(connection, error) || !browser.listTags(QString(), true, &tags, error))
        return false;
    read = true;
    QVector<TagRequest> typed;
    for (const TagRequest &r : *requests) {
        if (r.typeGiven)
            typed.append(r);
        else if (!typedReads(tags, browser.templates(), r.tag, &typed, error))
            return false;
    }
    if (!pattern.isEmpty()) {
        const QRegularExpression glob(QRegularExpression::wildcardToRegularExpression(pattern),
                                      QRegularExpression::CaseInsensitiveOption);
        int matched = 0;
        for (const BrowsedTag &t : tags) {
            if (t.symbol.isSystem() || !glob.match(t.path()).hasMatch())
                continue;
            ++matched;
            if (!typedReads(tags, browser.templates(), t.path(), &typed, error))
                return false;
        }
        if (matched == 0) {
            *error = QStringLiteral("no tag of the controller matches %1").arg(pattern);
            return false;
        }
    }
    *requests = typed;
    return true;
}

bool writeTypesFromController(const QString &connection, QVector<TagRequest *> requests,
                              QString *error, bool *listed, QStringList *unlisted)
{
    *listed = true;
    if (connection.section(QLatin1Char(';'), 0, 0).contains(QLatin1Char(','))) {
        for (const TagRequest *r : requests)
            unlisted->append(r->tag);
        return true; // a serial line: the default type
    }
    ControllerBrowse browser;
    QVector<BrowsedTag> tags;
    if (!browser.open(connection, error) || !browser.listTags(QString(), true, &tags, error)) {
        *listed = false;
        return false;
    }
    for (TagRequest *r : requests) {
        QVector<TagRequest> reads;
        if (!typedReads(tags, browser.templates(), r->tag, &reads, error))
            return false;
        // A BOOL array is read from its element 0 on: written by element.
        if (reads.size() == 1 && reads.first().tag == r->tag + QStringLiteral("[0]")) {
            *error =
                QStringLiteral("'%1' is a BOOL array: write its elements, e.g. %1[0]=true,false")
                    .arg(r->tag);
            return false;
        }
        // One read of the tag itself, unless it is a structure.
        if (reads.size() != 1 || reads.first().tag != r->tag) {
            *error = QStringLiteral("'%1' is a structure: write its members by name, e.g. %2=...")
                         .arg(r->tag, reads.isEmpty() ? r->tag + QStringLiteral(".Member")
                                                      : reads.first().tag);
            return false;
        }
        r->type = reads.first().type;
        if (!reads.first().typeGiven)
            unlisted->append(r->tag);
    }
    return true;
}

} // namespace tools
