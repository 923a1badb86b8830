#include <QList>
#include <cstring>
#include <type_traits>

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "LibQuorvex.h"
#include "ValueList.h"

namespace
{

template <int W> struct UnsignedOf;
template <> struct UnsignedOf<1> {
    using type = quint8;
};
template <> struct UnsignedOf<2> {
    using type = quint16;
};
template <> struct UnsignedOf<4> {
    using type = quint32;
};
template <> struct UnsignedOf<8> {
    using type = quint64;
};

template <typename T> T fromRaw(quint64 raw)
{
    using U = typename UnsignedOf<sizeof(T)>::type;
    const U u = static_cast<U>(raw);
    if constexpr (std::is_floating_point_v<T>) {
        // The bits are the IEEE 754 pattern: reinterpreted, never converted.
        T v;
        std::memcpy(&v, &u, sizeof v);
        return v;
    } else {
        return static_cast<T>(u);
    }
}

// Element i is the sizeof(T) bytes at i * sizeof(T), least significant first;
// bytes missing at the end of a short reply read as 0. The elements the
// bytes hold whole are read without a check per byte, and every element is
// written into a list made at its full size: a large array spent most of
// its decoding on the checks, then on appending.
template <typename T> QVariant decodeNumbers(const QByteArray &bytes, int n)
{
    using U = typename UnsignedOf<sizeof(T)>::type;
    QList<T> list = valuelist::ofSize<T>(n);
    const int whole = int(qMin<qsizetype>(qMax(n, 0), bytes.size() / qsizetype(sizeof(T))));
    const char *p = bytes.constData();
    auto out = list.begin();
    for (int i = 0; i < whole; ++i, ++out)
        *out = fromRaw<T>(le::getUnchecked<U>(p + qsizetype(i) * qsizetype(sizeof(T))));
    for (int i = whole; i < n; ++i, ++out)
        *out =
            fromRaw<T>(le::getPadded(bytes, qsizetype(i) * qsizetype(sizeof(T)), int(sizeof(T))));
    return QVariant::fromValue(list);
}

// Offsets inside one text structure: LEN, then the characters.
constexpr int TextLenSize = 4;

QString decodeText(const QByteArray &bytes, qsizetype at, qsizetype dataSize)
{
    if (at + TextLenSize > bytes.size())
        return QString();
    // The length is the structure's 4-byte LEN, never trusted beyond the
    // structure's data or the bytes that came; a negative one is no length
    // at all, so the text runs to the first zero byte of the data.
    const qint32 len = static_cast<qint32>(le::getPadded(bytes, at, TextLenSize));
    const qsizetype dataStart = at + TextLenSize;
    qsizetype avail = qMin<qsizetype>(dataSize, bytes.size() - dataStart);
    if (avail < 0)
        avail = 0;
    const qsizetype take = len < 0 ? avail : qMin<qsizetype>(len, avail);
    QByteArray chars = bytes.mid(dataStart, take);
    const int zero = chars.indexOf('\0');
    if (zero >= 0)
        chars.truncate(zero);
    return QString::fromUtf8(chars);
}

} // namespace

QVariant LibQuorvex::set_variant_bool(QByteArray bytes, int n)
{
    // n + 1 bytes are unpacked: the host expects 8 * (n + 1) values.
    QList<bool> list;
    for (qint64 k = 0; k <= n; ++k) {
        const quint8 b = static_cast<quint8>(le::getPadded(bytes, qsizetype(k), 1));
        for (int bit = 0; bit < 8; ++bit)
            list.append(((b >> bit) & 1) != 0);
    }
    return QVariant::fromValue(list);
}

QVariant LibQuorvex::set_variant_Int8(QByteArray bytes, int n)
{
    return decodeNumbers<char>(bytes, n);
}

QVariant LibQuorvex::set_variant_UInt8(QByteArray bytes, int n)
{
    return decodeNumbers<unsigned char>(bytes, n);
}

QVariant LibQuorvex::set_variant_Int16(QByteArray bytes, int n)
{
    return decodeNumbers<short>(bytes, n);
}

QVariant LibQuorvex::set_variant_UInt16(QByteArray bytes, int n)
{
    return decodeNumbers<unsigned short>(bytes, n);
}

QVariant LibQuorvex::set_variant_Int32(QByteArray bytes, int n)
{
    return decodeNumbers<int>(bytes, n);
}

QVariant LibQuorvex::set_variant_UInt32(QByteArray bytes, int n)
{
    return decodeNumbers<unsigned int>(bytes, n);
}

QVariant LibQuorvex::set_variant_fload(QByteArray bytes, int n)
{
    return decodeNumbers<float>(bytes, n);
}

QVariant LibQuorvex::set_variant_Int64(QByteArray bytes, int n)
{
    return decodeNumbers<long long>(bytes, n);
}

QVariant LibQuorvex::set_variant_UInt64(QByteArray bytes, int n)
{
    return decodeNumbers<unsigned long long>(bytes, n);
}

QVariant LibQuorvex::set_variant_double(QByteArray bytes, int n)
{
    return decodeNumbers<double>(bytes, n);
}

QVariant LibQuorvex::set_variant_string(QByteArray bytes, int n)
{
    // The bytes are a structure handle followed by n structures of equal
    // size: 88 for the standard text (known by its handle); a custom text
    // type shows its size by the bytes dividing evenly into n structures.
    QList<QString> list;
    constexpr int HandleSize = 2;
    const qsizetype body = qMax<qsizetype>(0, bytes.size() - HandleSize);
    const bool standard = le::getPadded(bytes, 0, HandleSize) == cip::StringHandle;
    qsizetype step = cip::StringSize;
    if (!standard && n > 0 && body > 0 && body % n == 0)
        step = body / n;
    // The standard DATA field is 82 bytes, followed by 2 pad bytes that are
    // no part of the text; a custom type's data is all after its LEN.
    const qsizetype dataSize = standard ? cip::StringDataSize : step - TextLenSize;
    for (int i = 0; i < n; ++i)
        list.append(decodeText(bytes, HandleSize + qsizetype(i) * step, dataSize));
    return QVariant::fromValue(list);
}
