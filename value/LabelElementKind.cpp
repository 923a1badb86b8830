#include "LabelElementKind.h"

LabelElementKind labelElementKind(DataType type)
{
    // Unsigned, so that a negative host code falls into "above 40".
    const unsigned code = static_cast<unsigned>(type);
    switch (code) {
    case DT_Bool:
        return LabelElementKind::Bool;
    case DT_Int8:
        return LabelElementKind::Int8;
    case DT_UInt8:
        return LabelElementKind::UInt8;
    case DT_Int64:
        return LabelElementKind::Int64;
    case DT_UInt64:
        return LabelElementKind::UInt64;
    case DT_String:
        return LabelElementKind::Text;
    default:
        break;
    }
    if (code == DT_Int16 || code == 13 || code == 14)
        return LabelElementKind::Int16;
    if (code == DT_UInt16 || code == 15 || code == 16)
        return LabelElementKind::UInt16;
    if (code == DT_Int32 || (code >= 17 && code <= 20))
        return LabelElementKind::Int32;
    if (code == DT_UInt32 || (code >= 21 && code <= 24))
        return LabelElementKind::UInt32;
    if (code == DT_Float || (code >= 33 && code <= 36))
        return LabelElementKind::Float;
    if (code == DT_Double || (code >= 37 && code <= static_cast<unsigned>(DT_HostLast)))
        return LabelElementKind::Double;
    return LabelElementKind::None;
}
