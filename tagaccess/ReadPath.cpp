#include <algorithm>

#include "EipProtocol.h"
#include "LibQuorvex.h"
#include "LocalClock.h"

namespace
{

// The element count travels as a 16-bit field.
constexpr int MaxReadCount = 0xFFFF;

// Upper bound of the value bytes a read of `count` elements of `type` can
// need, which bounds how many fragments the link will follow.
int valueByteBound(DataType type, int count)
{
    int perElement = 8; // widest atomic element; also for codes without a decoder
    switch (type) {
    case DT_Bool:
        perElement = 4; // BOOL arrays travel as 32-bit words
        break;
    case DT_Int8:
    case DT_UInt8:
        perElement = 1;
        break;
    case DT_Int16:
    case DT_UInt16:
        perElement = 2;
        break;
    case DT_Int32:
    case DT_UInt32:
    case DT_Float:
        perElement = 4;
        break;
    case DT_String:
        perElement = 4096; // the standard text is 88 bytes; custom text types are larger
        break;
    default:
        break;
    }
    const qint64 bound = qint64(count) * perElement + 2 + 4; // structure handle, DWORD rounding
    return int(std::min<qint64>(bound, CmdQuorvex::DefaultMaxValueBytes));
}

// Value bytes a reply must carry for `count` numeric elements of `type`.
// Booleans and texts are bounded by their own data and keep their zero
// padding; so do codes without a decoder.
int valueByteNeed(DataType type, int count)
{
    switch (type) {
    case DT_Int8:
    case DT_UInt8:
        return count;
    case DT_Int16:
    case DT_UInt16:
        return 2 * count;
    case DT_Int32:
    case DT_UInt32:
    case DT_Float:
        return 4 * count;
    case DT_Int64:
    case DT_UInt64:
    case DT_Double:
        return 8 * count;
    default:
        return 0;
    }
}

} // namespace

// A refusal carries the time of the call; a transfer carries its own time
// (or none), so the clock is read only where it is kept: local time costs a
// time-zone check with every reading.
static CLabelVariable refused(int status)
{
    CLabelVariable result;
    result.status = status;
    result.timestamp = localclock::now();
    return result;
}

CLabelVariable LibQuorvex::ReadVariable(QString name, DataType type)
{
    return ReadVariable(name, type, 1);
}

CLabelVariable LibQuorvex::ReadVariable(QString name, DataType type, int count)
{
    if (name != lastRead.name || lastRead.name.isNull())
        lastRead = {name, getArea(name)};
    const QString area = lastRead.area;
    int refusal = LR_Success;
    if (area.isEmpty())
        refusal = LR_BadAddress;
    else if (count < 1 || count > MaxReadCount)
        refusal = LR_BadCount;
    else if (type == DT_None)
        refusal = LR_UnsupportedType;
    // The result is made where it is returned, never copied over: a copy
    // of its value list and its time costs as much as a tenth of a read.
    CLabelVariable result =
        refusal == LR_Success ? Read_data(area, type, count, name) : refused(refusal);
    result.tagName = name;
    result.type = type;
    result.count = count;
    return result;
}

CLabelVariable LibQuorvex::Read_data(QString area, DataType type, int count, QString name)
{
    CLabelVariable t;
    const int n = getBytelen(type, count);
    QByteArray bytes;
    const int rc =
        link.Read_area(area, n, &bytes, name, valueByteBound(type, n), valueByteNeed(type, n));
    switch (rc) {
    case 0:
        t.timestamp = localclock::now();
        t.status = LR_Success;
        switch (type) {
        case DT_Bool:
            t.values = set_variant_bool(bytes, count);
            break;
        case DT_Int8:
            t.values = set_variant_Int8(bytes, count);
            break;
        case DT_UInt8:
            t.values = set_variant_UInt8(bytes, count);
            break;
        case DT_Int16:
            t.values = set_variant_Int16(bytes, count);
            break;
        case DT_UInt16:
            t.values = set_variant_UInt16(bytes, count);
            break;
        case DT_Int32:
            t.values = set_variant_Int32(bytes, count);
            break;
        case DT_UInt32:
            t.values = set_variant_UInt32(bytes, count);
            break;
        case DT_Float:
            t.values = set_variant_fload(bytes, count);
            break;
        case DT_Int64:
            t.values = set_variant_Int64(bytes, count);
            break;
        case DT_UInt64:
            t.values = set_variant_UInt64(bytes, count);
            break;
        case DT_Double:
            t.values = set_variant_double(bytes, count);
            break;
        case DT_String:
            t.values = set_variant_string(bytes, count);
            break;
        default:
            t.status = LR_UnsupportedType;
            break;
        }
        break;
    case -1:
        t.status = LR_LinkFailed;
        break;
    case -2:
        t.status = LR_NoReply;
        break;
    case -3:
        t.status = LR_NotConnected;
        break;
    default:
        break;
    }
    return t;
}
