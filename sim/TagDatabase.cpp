#include "TagDatabase.h"

#include "ByteOrder.h"
#include "EipProtocol.h"

#include <QJsonArray>
#include <QJsonObject>
#include <cmath>
#include <cstring>
#include <limits>

namespace qsim
{

namespace
{

struct AtomicInfo {
    quint16 code;
    const char *name;
    int size;
    bool isSigned;
    bool isFloat;
};

const AtomicInfo atomics[] = {
    {cip::TypeBool, "BOOL", 1, false, false},
    {cip::TypeSint, "SINT", 1, true, false},
    {cip::TypeInt, "INT", 2, true, false},
    {cip::TypeDint, "DINT", 4, true, false},
    {cip::TypeLint, "LINT", 8, true, false},
    {cip::TypeUsint, "USINT", 1, false, false},
    {cip::TypeUint, "UINT", 2, false, false},
    {cip::TypeUdint, "UDINT", 4, false, false},
    {cip::TypeUlint, "ULINT", 8, false, false},
    {cip::TypeReal, "REAL", 4, false, true},
    {cip::TypeLreal, "LREAL", 8, false, true},
    {cip::TypeDword, "DWORD", 4, false, false},
    {cip::TypeByte, "BYTE", 1, false, false},
    {cip::TypeWord, "WORD", 2, false, false},
    {cip::TypeLword, "LWORD", 8, false, false},
    {cip::TypeShortString, "SHORT_STRING", TagDatabase::ShortStringSize, false, false},
};

const AtomicInfo *atomicInfo(quint16 code)
{
    for (const AtomicInfo &a : atomics)
        if (a.code == code)
            return &a;
    return nullptr;
}

void putBytes(QByteArray &data, int offset, const QByteArray &bytes)
{
    std::memcpy(data.data() + offset, bytes.constData(), static_cast<size_t>(bytes.size()));
}

// Integer value of a JSON number, boolean or numeric string, checked against
// the range of the target type.
bool integerOf(const QJsonValue &v, const AtomicInfo &a, quint64 *bits, QString *error)
{
    bool ok = false;
    if (v.isBool()) {
        *bits = v.toBool() ? 1 : 0;
        return true;
    }
    if (a.isSigned) {
        qint64 x = 0;
        if (v.isDouble()) {
            const double d = v.toDouble();
            ok = std::floor(d) == d && d >= -9.2233720368547758e18 && d < 9.2233720368547758e18;
            x = ok ? static_cast<qint64>(d) : 0;
        } else if (v.isString()) {
            x = v.toString().toLongLong(&ok, 0);
        }
        const int bitsWide = 8 * a.size;
        const qint64 lo =
            bitsWide == 64 ? std::numeric_limits<qint64>::min() : -(qint64(1) << (bitsWide - 1));
        const qint64 hi =
            bitsWide == 64 ? std::numeric_limits<qint64>::max() : (qint64(1) << (bitsWide - 1)) - 1;
        if (!ok || x < lo || x > hi) {
            *error = QStringLiteral("value out of range for %1").arg(QLatin1String(a.name));
            return false;
        }
        *bits = static_cast<quint64>(x);
        return true;
    }
    quint64 x = 0;
    if (v.isDouble()) {
        const double d = v.toDouble();
        ok = std::floor(d) == d && d >= 0 && d < 1.8446744073709552e19;
        x = ok ? static_cast<quint64>(d) : 0;
    } else if (v.isString()) {
        x = v.toString().toULongLong(&ok, 0);
    }
    const quint64 hi =
        a.size == 8 ? std::numeric_limits<quint64>::max() : (quint64(1) << (8 * a.size)) - 1;
    if (!ok || x > hi) {
        *error = QStringLiteral("value out of range for %1").arg(QLatin1String(a.name));
        return false;
    }
    *bits = x;
    return true;
}

} // namespace

TagDatabase::TagDatabase()
{
    StructDef s;
    s.name = QStringLiteral("STRING");
    s.handle = cip::StringHandle;
    s.size = cip::StringSize;
    s.members = {{QStringLiteral("LEN"), atomicType(cip::TypeDint), {}, 0},
                 {QStringLiteral("DATA"), atomicType(cip::TypeSint), {cip::StringDataSize}, 4}};
    structs.append(s);
}

bool TagDatabase::typeByName(const QString &name, TypeRef *out) const
{
    for (const AtomicInfo &a : atomics) {
        if (name.compare(QLatin1String(a.name), Qt::CaseInsensitive) == 0) {
            *out = atomicType(a.code);
            return true;
        }
    }
    for (int i = 0; i < structs.size(); ++i) {
        if (name.compare(structs.at(i).name, Qt::CaseInsensitive) == 0) {
            *out = TypeRef{0, i};
            return true;
        }
    }
    return false;
}

int TagDatabase::typeSize(const TypeRef &t) const
{
    if (t.isStruct())
        return structs.at(t.structIndex).size;
    const AtomicInfo *a = atomicInfo(t.atomic);
    return a ? a->size : 0;
}

int TagDatabase::typeAlign(const TypeRef &t) const
{
    if (t.isStruct())
        return structs.at(t.structIndex).align;
    if (t.atomic == cip::TypeShortString)
        return 1;
    return typeSize(t);
}

bool TagDatabase::isText(const TypeRef &t) const
{
    if (!t.isStruct())
        return false;
    const StructDef &s = structs.at(t.structIndex);
    return s.members.size() == 2 &&
           s.members.at(0).name.compare(QLatin1String("LEN"), Qt::CaseInsensitive) == 0 &&
           s.members.at(0).type.atomic == cip::TypeDint && s.members.at(0).dims.isEmpty() &&
           s.members.at(1).name.compare(QLatin1String("DATA"), Qt::CaseInsensitive) == 0 &&
           s.members.at(1).type.atomic == cip::TypeSint && s.members.at(1).dims.size() == 1;
}

QByteArray TagDatabase::typeBytes(const TypeRef &t) const
{
    QByteArray out;
    if (t.isStruct()) {
        le::put16(out, cip::TypeStructure);
        le::put16(out, structs.at(t.structIndex).handle);
    } else {
        le::put16(out, t.atomic);
    }
    return out;
}

qint64 TagDatabase::elementCount(const QVector<int> &dims)
{
    qint64 n = 1;
    for (int d : dims) {
        if (d < 1)
            return 0;
        n *= d;
        if (n > MaxTagBytes)
            return 0;
    }
    return n;
}

TypeRef TagDatabase::addStruct(const QString &name, quint16 handle, QVector<MemberDef> members,
                               QString *error)
{
    TypeRef existing;
    if (name.isEmpty() || typeByName(name, &existing)) {
        *error = QStringLiteral("type name \"%1\" empty or already used").arg(name);
        return TypeRef{};
    }
    if (structs.size() >= MaxStructs) {
        *error = QStringLiteral("structure %1: too many structures").arg(name);
        return TypeRef{};
    }
    if (members.isEmpty()) {
        *error = QStringLiteral("structure %1 has no members").arg(name);
        return TypeRef{};
    }
    StructDef s;
    s.name = name;
    s.handle = handle;
    qint64 at = 0;
    for (int i = 0; i < members.size(); ++i) {
        MemberDef &m = members[i];
        for (int j = 0; j < i; ++j) {
            if (members.at(j).name.compare(m.name, Qt::CaseInsensitive) == 0) {
                *error = QStringLiteral("member %1.%2 declared twice").arg(name, m.name);
                return TypeRef{};
            }
        }
        const qint64 n = elementCount(m.dims);
        const int size = typeSize(m.type);
        if (m.name.isEmpty() || m.dims.size() > MaxDims || n == 0 || size == 0 ||
            m.type.atomic == cip::TypeShortString) {
            *error = QStringLiteral("member %1.%2: bad name, type or dimensions").arg(name, m.name);
            return TypeRef{};
        }
        const int align = typeAlign(m.type);
        at = (at + align - 1) / align * align;
        m.offset = static_cast<int>(at);
        at += n * size;
        if (at > MaxStructBytes) {
            *error = QStringLiteral("structure %1 is too large").arg(name);
            return TypeRef{};
        }
        s.align = qMax(s.align, align);
    }
    s.size = static_cast<int>((at + s.align - 1) / s.align * s.align);
    s.members = members;
    structs.append(s);
    return TypeRef{0, structs.size() - 1};
}

bool TagDatabase::addTag(const QString &name, const TypeRef &type, const QVector<int> &dims,
                         QString *error)
{
    const QString key = name.toLower();
    if (name.isEmpty() || tags.contains(key)) {
        *error = QStringLiteral("tag name \"%1\" empty or already used").arg(name);
        return false;
    }
    TagDef t;
    t.name = name;
    t.type = type;
    t.dims = dims;
    // One dimension of BOOL is a BOOL array, in whole words; files that
    // declare more dimensions keep one byte a BOOL.
    if (type.atomic == cip::TypeBool && dims.size() == 1 && dims.first() > 0) {
        t.bits = dims.first();
        t.type = atomicType(cip::TypeDword);
        t.dims = {(dims.first() + BitsPerWord - 1) / BitsPerWord};
    }
    const qint64 n = elementCount(t.dims);
    const qint64 bytes = n * typeSize(t.type);
    if (t.dims.size() > MaxDims || n == 0 || bytes == 0 || bytes > MaxTagBytes ||
        (type.atomic == cip::TypeShortString && !dims.isEmpty())) {
        *error = QStringLiteral("tag %1: bad type or dimensions, or too large").arg(name);
        return false;
    }
    t.data = QByteArray(static_cast<int>(bytes), '\0');
    tags.insert(key, t);
    order.append(key);
    return true;
}

const TagDef *TagDatabase::find(const QString &name) const
{
    auto it = tags.constFind(name.toLower());
    return it == tags.constEnd() ? nullptr : &it.value();
}

bool TagDatabase::storeBytes(const QString &tag, qint64 offset, const QByteArray &bytes)
{
    auto it = tags.find(tag.toLower());
    if (it == tags.end() || offset < 0 || offset + bytes.size() > it->data.size())
        return false;
    putBytes(it->data, static_cast<int>(offset), bytes);
    return true;
}

bool TagDatabase::setValue(const QString &tag, const QJsonValue &value, QString *error)
{
    auto it = tags.find(tag.toLower());
    if (it == tags.end()) {
        *error = QStringLiteral("no tag %1").arg(tag);
        return false;
    }
    if (it->bits > 0) {
        // One boolean a bit, bit k in word k / 32 at k % 32.
        const QJsonArray list = value.toArray();
        if (!value.isArray() || list.size() > it->bits) {
            *error = QStringLiteral("a BOOL array needs a list of at most %1 values").arg(it->bits);
            return false;
        }
        for (int k = 0; k < list.size(); ++k) {
            const QJsonValue b = list.at(k);
            if (!b.isBool() && !(b.isDouble() && (b.toDouble() == 0 || b.toDouble() == 1))) {
                *error = QStringLiteral("a BOOL array takes true, false, 0 or 1");
                return false;
            }
            const quint8 m = quint8(1 << (k % 8));
            const quint8 byte = quint8(it->data.at(k / 8));
            it->data[k / 8] = char((b.toBool() || b.toDouble() == 1) ? byte | m : byte & ~m);
        }
        return true;
    }
    return writeValue(it->type, it->dims, it->data, 0, value, error);
}

bool TagDatabase::setToggle(const QString &bitAddress, QString *error)
{
    const int dot = bitAddress.lastIndexOf(QLatin1Char('.'));
    bool ok = false;
    const int bit = dot > 0 ? bitAddress.mid(dot + 1).toInt(&ok, 10) : -1;
    const auto it = ok ? tags.constFind(bitAddress.left(dot).toLower()) : tags.constEnd();
    if (!ok || it == tags.constEnd() || bit < 0 || bit >= it->data.size() * 8) {
        *error =
            QStringLiteral("toggle %1: needs TAG.N, a tag and a bit within it").arg(bitAddress);
        return false;
    }
    toggled.key = it.key();
    toggled.byte = bit / 8;
    toggled.mask = quint8(1 << (bit % 8));
    return true;
}

void TagDatabase::toggle()
{
    if (toggled.key.isEmpty())
        return;
    auto it = tags.find(toggled.key);
    if (it != tags.end())
        it->data[toggled.byte] = char(quint8(it->data.at(toggled.byte)) ^ toggled.mask);
}

bool TagDatabase::writeValue(const TypeRef &t, const QVector<int> &dims, QByteArray &data,
                             int offset, const QJsonValue &v, QString *error) const
{
    if (dims.isEmpty())
        return writeScalar(t, data, offset, v, error);
    if (!v.isArray()) {
        *error = QStringLiteral("an array needs a list of values");
        return false;
    }
    // Nested lists follow the dimensions; a flat list fills in row-major order.
    const QJsonArray list = v.toArray();
    const int size = typeSize(t);
    const QVector<int> inner = dims.mid(1);
    const bool nested = !inner.isEmpty() && !list.isEmpty() && list.first().isArray();
    const qint64 limit = nested ? dims.first() : elementCount(dims);
    if (list.size() > limit) {
        *error = QStringLiteral("more values than elements");
        return false;
    }
    const qint64 stride = nested ? elementCount(inner) * size : size;
    for (int i = 0; i < list.size(); ++i) {
        const int at = static_cast<int>(offset + i * stride);
        const bool ok = nested ? writeValue(t, inner, data, at, list.at(i), error)
                               : writeScalar(t, data, at, list.at(i), error);
        if (!ok)
            return false;
    }
    return true;
}

bool TagDatabase::writeScalar(const TypeRef &t, QByteArray &data, int offset, const QJsonValue &v,
                              QString *error) const
{
    if (t.isStruct()) {
        const StructDef &s = structs.at(t.structIndex);
        if (isText(t)) { // STRING, or a text type made like it
            if (!v.isString()) {
                *error = QStringLiteral("%1 needs a text value").arg(s.name);
                return false;
            }
            const QByteArray text = v.toString().toLatin1().left(s.members.at(1).dims.first());
            QByteArray len;
            le::put32(len, static_cast<quint32>(text.size()));
            putBytes(data, offset, len);
            putBytes(data, offset + 4, text);
            return true;
        }
        if (!v.isObject()) {
            *error = QStringLiteral("structure %1 needs an object value").arg(s.name);
            return false;
        }
        const QJsonObject o = v.toObject();
        for (auto it = o.begin(); it != o.end(); ++it) {
            const MemberDef *m = nullptr;
            for (const MemberDef &cand : s.members)
                if (cand.name.compare(it.key(), Qt::CaseInsensitive) == 0)
                    m = &cand;
            if (!m) {
                *error = QStringLiteral("structure %1 has no member %2").arg(s.name, it.key());
                return false;
            }
            if (!writeValue(m->type, m->dims, data, offset + m->offset, it.value(), error))
                return false;
        }
        return true;
    }
    const AtomicInfo *a = atomicInfo(t.atomic);
    if (!a) {
        *error = QStringLiteral("unknown type");
        return false;
    }
    QByteArray bytes;
    if (a->code == cip::TypeShortString) {
        const QByteArray text = v.toString().toLatin1();
        if (!v.isString() || text.size() >= ShortStringSize) {
            *error = QStringLiteral("a SHORT_STRING needs a text of at most 255 characters");
            return false;
        }
        le::put8(bytes, static_cast<quint8>(text.size()));
        putBytes(data, offset, bytes + text);
        return true;
    }
    if (a->isFloat) {
        bool ok = v.isDouble();
        double d = v.toDouble();
        if (v.isString())
            d = v.toString().toDouble(&ok);
        if (!ok) {
            *error = QStringLiteral("%1 needs a number").arg(QLatin1String(a->name));
            return false;
        }
        if (a->size == 4) {
            const float f = static_cast<float>(d);
            quint32 bits = 0;
            std::memcpy(&bits, &f, 4);
            le::put32(bytes, bits);
        } else {
            quint64 bits = 0;
            std::memcpy(&bits, &d, 8);
            le::put64(bytes, bits);
        }
    } else {
        quint64 bits = 0;
        if (!integerOf(v, *a, &bits, error))
            return false;
        if (a->code == cip::TypeBool)
            bits = bits ? 1 : 0;
        for (int i = 0; i < a->size; ++i)
            le::put8(bytes, static_cast<quint8>(bits >> (8 * i)));
    }
    putBytes(data, offset, bytes);
    return true;
}

} // namespace qsim
