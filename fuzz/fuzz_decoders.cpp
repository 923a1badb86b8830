// The decoders and the value operators behind them: arbitrary reply bytes
// and counts (negative ones included) to every set_variant_*, then the
// results combined with the arithmetic and comparison operators under any
// type code the host may put in a value.

#include "FuzzSupport.h"
#include "LibQuorvex.h"

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
    facade();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    const int which = 1 + in.u8() % 12;
    // Counts as a host may pass them, bounded so a run stays fast.
    const int n = int(qint16(in.u16())) % 2048;
    const int hostType = int(qint8(in.u8())) % 48; // operators: codes 13..40 too
    const int otherCount = int(qint16(in.u16()));
    const int index = int(qint16(in.u16()));
    const QByteArray bytes = in.rest();
    const int half = bytes.size() / 2;

    const QVariant a = decode(which, bytes.left(half), n);
    const QVariant b = decode(which, bytes.mid(half), n);
    FUZZ_CHECK(a.isValid() && b.isValid());
    FUZZ_CHECK(a.userType() == b.userType());
    FUZZ_CHECK(a.value<QVariantList>().size() == expectedLength(which, n));

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
