// placeholder until decoders land
#include "LibQuorvex.h"
#define STUB(n) QVariant LibQuorvex::n(QByteArray, int) { return QVariant(); }
STUB(set_variant_bool) STUB(set_variant_Int8) STUB(set_variant_UInt8) STUB(set_variant_Int16)
STUB(set_variant_UInt16) STUB(set_variant_Int32) STUB(set_variant_UInt32) STUB(set_variant_fload)
STUB(set_variant_Int64) STUB(set_variant_UInt64) STUB(set_variant_double) STUB(set_variant_string)
