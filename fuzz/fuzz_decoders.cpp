// The decoders and the value operators behind them: arbitrary reply bytes
// and counts (negative ones included) to every set_variant_*, then the
// results combined with the arithmetic and comparison operators under any
// type code the host may put in a value. Sampled elements are checked
// against the bytes they came from.
//
// Input: decoder (bit 7: a large count), count, host type, other count,
// index, bytes. Counts stay within +-32 so that a run gets through tens of
// thousands of inputs a second; a large count (up to 65535, all a read can
// ask for; eight times as many elements for BOOL) is taken only when the
// flag is set and the input's hash picks it, one flagged input in 4096.
// Such an input decodes the bytes once and is checked at its first, last
// and sampled elements; the operators, which would copy and combine the
// whole lists several times over, see the small counts only.

#include "ByteOrder.h"
#include "FuzzSupport.h"
#include "LibQuorvex.h"

#include <cstring>

namespace
{

LibQuorvex *facade()
{
    static LibQuorvex *f = new LibQuorvex;
    return f;
}

QVariant decode(int which, const QByteArray &bytes, int n)
{
    LibQuorvex *f = facade();
    switch (which) {
    case DT_Bool:
        return f->set_variant_bool(bytes, n);
    case DT_Int8:
        return f->set_variant_Int8(bytes, n);
    case DT_UInt8:
        return f->set_variant_UInt8(bytes, n);
    case DT_Int16:
        return f->set_variant_Int16(bytes, n);
    case DT_UInt16:
        return f->set_variant_UInt16(bytes, n);
    case DT_Int32:
        return f->set_variant_Int32(bytes, n);
    case DT_UInt32:
        return f->set_variant_UInt32(bytes, n);
    case DT_Float:
        return f->set_variant_fload(bytes, n);
    case DT_Int64:
        return f->set_variant_Int64(bytes, n);
    case DT_UInt64:
        return f->set_variant_UInt64(bytes, n);
    case DT_Double:
        return f->set_variant_double(bytes, n);
    default:
        return f->set_variant_string(bytes, n);
    }
}

int expectedLength(int which, int n)
{
    if (which == DT_Bool)
        return n < 0 ? 0 : 8 * (n + 1);
    return n < 0 ? 0 : n;
}

constexpr int SmallCount = 33;
constexpr quint32 LargeOneIn = 4096;

quint32 fnv1a(const uint8_t *data, size_t size)
{
    quint32 h = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        h = (h ^ data[i]) * 16777619u;
    return h;
}

template <typename T> const QList<T> &listOf(const QVariant &v)
{
    FUZZ_CHECK(v.userType() == qMetaTypeId<QList<T>>());
    return *static_cast<const QList<T> *>(v.constData());
}

// Element i is the sizeof(T) bytes at i * sizeof(T), zeros past the end.
template <typename T> void checkAt(const QList<T> &l, const QByteArray &bytes, int i)
{
    const quint64 raw = le::getPadded(bytes, qsizetype(i) * qsizetype(sizeof(T)), sizeof(T));
    const T got = l.at(i);
    FUZZ_CHECK(std::memcmp(&got, &raw, sizeof(T)) == 0);
}

// Bit i % 8 of byte i / 8.
void checkAt(const QList<bool> &l, const QByteArray &bytes, int i)
{
    FUZZ_CHECK(l.at(i) == bool((le::getPadded(bytes, i / 8, 1) >> (i % 8)) & 1));
}

// A text never holds more characters than the bytes that came.
void checkAt(const QList<QString> &l, const QByteArray &bytes, int i)
{
    FUZZ_CHECK(l.at(i).size() <= bytes.size());
}

template <typename F> void visitDecoded(int which, F f)
{
    switch (which) {
    case DT_Bool:
        return f(bool());
    case DT_Int8:
        return f(char());
    case DT_UInt8:
        return f((unsigned char)0);
    case DT_Int16:
        return f(short());
    case DT_UInt16:
        return f((unsigned short)0);
    case DT_Int32:
        return f(int());
    case DT_UInt32:
        return f(0u);
    case DT_Float:
        return f(float());
    case DT_Int64:
        return f((long long)0);
    case DT_UInt64:
        return f((unsigned long long)0);
    case DT_Double:
        return f(double());
    default:
        return f(QString());
    }
}

void checkDecoded(int which, const QVariant &v, const QByteArray &bytes, int n, int index)
{
    const int length = expectedLength(which, n);
    visitDecoded(which, [&](auto tag) {
        const auto &l = listOf<decltype(tag)>(v);
        FUZZ_CHECK(l.size() == length);
        if (length == 0)
            return;
        for (const qint64 i : {0, 1, length - 2, length - 1, length / 2, index, index * 7919})
            checkAt(l, bytes, int(((i % length) + length) % length));
    });
}

void touchElements(CLabelVariable &v, int index)
{
    v.atbool(index);
    v.atInt8(index);
    v.atUInt8(index);
    v.atInt16(index);
    v.atUInt16(index);
    v.atInt32(index);
    v.atUInt32(index);
    v.atFloat(index);
    v.atInt64(index);
    v.atUInt64(index);
    v.atDouble(index);
    v.atQString(index);
    FUZZ_CHECK(v.accessStatus == LR_Success || v.accessStatus == LR_IndexOutOfRange ||
               v.accessStatus == LR_WrongElementType);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::installQuietHandler();
    // Every operator result takes the local time; without TZ the C library
    // looks at /etc/localtime on each call, which halved the run's rate.
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", "UTC");
    facade();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    const quint8 first = in.u8();
    const int which = 1 + (first & 0x7F) % 12;
    const bool large = (first & 0x80) && fnv1a(data, size) % LargeOneIn == 0;
    const quint16 rawCount = in.u16();
    const int n = large ? int(rawCount) : int(qint16(rawCount)) % SmallCount;
    const int hostType = int(qint8(in.u8())) % 48; // operators: codes 13..40 too
    const int otherCount = int(qint16(in.u16()));
    const int index = int(qint16(in.u16()));
    const QByteArray bytes = in.rest();
    const int half = bytes.size() / 2;

    if (large) {
        const QVariant v = decode(which, bytes, n);
        FUZZ_CHECK(v.isValid());
        checkDecoded(which, v, bytes, n, index);
        CLabelVariable x;
        x.status = 0;
        x.values = v;
        x.count = n;
        x.type = DataType(hostType);
        touchElements(x, index);
        touchElements(x, expectedLength(which, n) - 1);
        return 0;
    }

    const QVariant a = decode(which, bytes.left(half), n);
    const QVariant b = decode(which, bytes.mid(half), n);
    FUZZ_CHECK(a.isValid() && b.isValid());
    FUZZ_CHECK(a.userType() == b.userType());
    checkDecoded(which, a, bytes.left(half), n, index);
    checkDecoded(which, b, bytes.mid(half), n, index);

    CLabelVariable x;
    x.status = 0;
    x.values = a;
    x.count = n;
    x.type = DataType(hostType);
    CLabelVariable y = x;
    y.values = b;
    y.count = otherCount;

    touchElements(x, index);
    touchElements(y, index % (n > 0 ? n : 1));
    CLabelVariable sum = x + y;
    CLabelVariable diff = x - y;
    CLabelVariable product = x * y;
    CLabelVariable quotient = x / y;
    (void)(x == y);
    (void)(y == x);
    (void)(sum == diff);
    touchElements(quotient, index);
    touchElements(product, 0);
    return 0;
}
