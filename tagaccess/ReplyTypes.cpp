#include "ReplyTypes.h"

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "ValueList.h"

#include <limits>
#include <type_traits>

namespace replytypes
{

namespace
{

const char *const DataTypeNames[] = {"DT_None",   "DT_Bool",   "DT_Int8",   "DT_UInt8", "DT_Int16",
                                     "DT_UInt16", "DT_Int32",  "DT_UInt32", "DT_Float", "DT_Int64",
                                     "DT_UInt64", "DT_Double", "DT_String"};

bool isHostInteger(DataType t)
{
    return t >= DT_Int8 && t <= DT_UInt64 && t != DT_Float;
}

// DT_Int8 elements are `char`, signed whatever the platform's char is.
template <typename T> using RangeOf = std::conditional_t<std::is_same_v<T, char>, signed char, T>;

// Whether a value given as sign and magnitude lies in T's range.
template <typename T> bool fitsIn(bool negative, quint64 magnitude)
{
    using R = RangeOf<T>;
    if (negative) {
        if (!std::numeric_limits<R>::is_signed)
            return false;
        // |min| of a two's complement type is max + 1.
        return magnitude <= quint64(std::numeric_limits<R>::max()) + 1;
    }
    return magnitude <= quint64(std::numeric_limits<R>::max());
}

template <typename T> T narrowed(bool negative, quint64 magnitude)
{
    // Within range (checked before): the two's complement of the magnitude
    // is the value.
    return negative ? static_cast<T>(static_cast<RangeOf<T>>(0 - magnitude))
                    : static_cast<T>(magnitude);
}

template <typename T>
Converted convertTo(const QByteArray &bytes, quint16 replyType, int width, int count)
{
    Converted c;
    QList<T> list = valuelist::ofSize<T>(count);
    auto out = list.begin();
    const bool isSigned = isSignedInteger(replyType);
    for (int i = 0; i < count; ++i, ++out) {
        quint64 raw = le::getPadded(bytes, qsizetype(i) * width, width);
        if (replyType == cip::TypeBool)
            raw = raw != 0;
        bool negative = false;
        quint64 magnitude = raw;
        if (isSigned && width < 8 && (raw >> (8 * width - 1)) & 1) {
            negative = true;
            magnitude = (quint64(1) << (8 * width)) - raw;
        } else if (isSigned && width == 8 && (raw >> 63)) {
            negative = true;
            magnitude = 0 - raw;
        }
        if (!fitsIn<T>(negative, magnitude)) {
            c.badIndex = i;
            c.badValue = negative ? QStringLiteral("-") + QString::number(magnitude)
                                  : QString::number(magnitude);
            return c;
        }
        *out = narrowed<T>(negative, magnitude);
    }
    c.values = QVariant::fromValue(list);
    return c;
}

} // namespace

bool isSignedInteger(quint16 t)
{
    return t == cip::TypeSint || t == cip::TypeInt || t == cip::TypeDint || t == cip::TypeLint;
}

int hostWidth(DataType type)
{
    switch (type) {
    case DT_Int8:
    case DT_UInt8:
        return 1;
    case DT_Int16:
    case DT_UInt16:
        return 2;
    case DT_Int32:
    case DT_UInt32:
    case DT_Float:
        return 4;
    case DT_Int64:
    case DT_UInt64:
    case DT_Double:
        return 8;
    default:
        return 0;
    }
}

Fit judge(quint16 replyType, DataType asked)
{
    switch (asked) {
    case DT_Bool:
        // The bit view hosts use: any integer's bits, as BOOL's.
        return replyType == cip::TypeBool || cip::isInteger(replyType) ? Fit::Same : Fit::Refused;
    case DT_Float:
        return replyType == cip::TypeReal ? Fit::Same : Fit::Refused;
    case DT_Double:
        return replyType == cip::TypeLreal ? Fit::Same : Fit::Refused;
    case DT_String:
        return replyType == cip::TypeStructure || replyType == cip::TypeShortString ? Fit::Same
                                                                                    : Fit::Refused;
    default:
        break;
    }
    if (!isHostInteger(asked))
        return Fit::Refused;
    if (replyType == cip::TypeBool)
        return Fit::Convert;
    if (!cip::isInteger(replyType))
        return Fit::Refused;
    return cip::integerWidth(replyType) == hostWidth(asked) ? Fit::Same : Fit::Convert;
}

QString cipTypeName(quint16 replyType)
{
    if (const char *name = cip::elementaryTypeName(replyType))
        return QLatin1String(name);
    if (replyType == cip::TypeStructure)
        return QStringLiteral("structure");
    return QStringLiteral("0x%1").arg(replyType, 4, 16, QLatin1Char('0'));
}

QString dataTypeName(DataType type)
{
    const int n = int(sizeof(DataTypeNames) / sizeof(DataTypeNames[0]));
    if (type >= 0 && type < n)
        return QLatin1String(DataTypeNames[type]);
    return QStringLiteral("type %1").arg(int(type));
}

Converted convertIntegers(const QByteArray &bytes, quint16 replyType, DataType asked, int count)
{
    const int width = cip::integerWidth(replyType);
    switch (asked) {
    case DT_Int8:
        return convertTo<char>(bytes, replyType, width, count);
    case DT_UInt8:
        return convertTo<unsigned char>(bytes, replyType, width, count);
    case DT_Int16:
        return convertTo<short>(bytes, replyType, width, count);
    case DT_UInt16:
        return convertTo<unsigned short>(bytes, replyType, width, count);
    case DT_Int32:
        return convertTo<int>(bytes, replyType, width, count);
    case DT_UInt32:
        return convertTo<unsigned int>(bytes, replyType, width, count);
    case DT_Int64:
        return convertTo<long long>(bytes, replyType, width, count);
    case DT_UInt64:
        return convertTo<unsigned long long>(bytes, replyType, width, count);
    default:
        return Converted();
    }
}

} // namespace replytypes
