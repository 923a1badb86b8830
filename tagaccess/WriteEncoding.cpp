#include "WriteEncoding.h"

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "LabelListAccess.h"
#include "TextCodec.h"

#include <cstring>
#include <type_traits>

namespace writeencoding
{

namespace
{

template <typename T> void putElement(QByteArray &out, T v)
{
    if constexpr (std::is_same_v<T, bool>) {
        le::put8(out, v ? 1 : 0);
    } else if constexpr (std::is_floating_point_v<T>) {
        // The IEEE 754 pattern, reinterpreted, never converted.
        if constexpr (sizeof(T) == 4) {
            quint32 bits = 0;
            std::memcpy(&bits, &v, sizeof bits);
            le::put32(out, bits);
        } else {
            quint64 bits = 0;
            std::memcpy(&bits, &v, sizeof bits);
            le::put64(out, bits);
        }
    } else if constexpr (sizeof(T) == 1) {
        le::put8(out, static_cast<quint8>(v));
    } else if constexpr (sizeof(T) == 2) {
        le::put16(out, static_cast<quint16>(v));
    } else if constexpr (sizeof(T) == 4) {
        le::put32(out, static_cast<quint32>(v));
    } else {
        le::put64(out, static_cast<quint64>(v));
    }
}

template <typename T> Encoded encodeList(Encoded e, const QVariant &values, int count)
{
    if (!labelHoldsList<T>(values)) {
        e.status = LR_WrongElementType;
        return e;
    }
    const QList<T> list = labelListOf<T>(values);
    if (list.size() < count) {
        e.status = LR_IndexOutOfRange;
        return e;
    }
    e.elementSize = int(sizeof(T));
    e.data.reserve(count * e.elementSize);
    for (int i = 0; i < count; ++i)
        putElement(e.data, list.at(i));
    return e;
}

} // namespace

quint16 cipType(DataType type)
{
    switch (type) {
    case DT_Bool:
        return cip::TypeBool;
    case DT_Int8:
        return cip::TypeSint;
    case DT_UInt8:
        return cip::TypeUsint;
    case DT_Int16:
        return cip::TypeInt;
    case DT_UInt16:
        return cip::TypeUint;
    case DT_Int32:
        return cip::TypeDint;
    case DT_UInt32:
        return cip::TypeUdint;
    case DT_Float:
        return cip::TypeReal;
    case DT_Int64:
        return cip::TypeLint;
    case DT_UInt64:
        return cip::TypeUlint;
    case DT_Double:
        return cip::TypeLreal;
    case DT_String:
        return cip::TypeStructure;
    default:
        return 0;
    }
}

Encoded encode(DataType type, const QVariant &values, int count)
{
    Encoded e;
    const quint16 code = cipType(type);
    if (code == 0) {
        e.status = LR_UnsupportedType;
        return e;
    }
    le::put16(e.typeBytes, code);
    if (visitNumberType(type, [&](auto t) { e = encodeList<decltype(t)>(e, values, count); }))
        return e;
    return textcodec::encodeStructures(values, count, cip::StringHandle,
                                       {cip::StringSize, cip::StringDataSize});
}

} // namespace writeencoding
