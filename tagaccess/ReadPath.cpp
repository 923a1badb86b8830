#include <algorithm>

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "FacadeLines.h"
#include "LibQuorvex.h"
#include "LocalClock.h"
#include "ReplyTypes.h"

#include <QDebug>

namespace
{

// The element count travels as a 16-bit field.
constexpr int MaxReadCount = 0xFFFF;

// Upper bound of the value bytes a read of `count` elements can need, which
// bounds how many fragments the link will follow. A reply may be of a wider
// integer than the host's type, so every number counts at the widest.
int valueByteBound(DataType type, int count)
{
    // The standard text is 88 bytes; custom text types are larger.
    constexpr int TextBound = 4096;
    constexpr int WidestAtomic = 8;
    const int perElement = type == DT_String ? TextBound : WidestAtomic;
    const qint64 bound = qint64(count) * perElement + 2 + 4; // structure handle, DWORD rounding
    return int(std::min<qint64>(bound, CmdQuorvex::DefaultMaxValueBytes));
}

// Value bytes a reply must carry at least, whatever its type: one byte per
// number (a SINT read for a wider type). What the reply's own type needs is
// checked once its type is known. Booleans and texts are bounded by their
// own data and keep their zero padding; so do codes without a decoder.
int valueByteNeed(DataType type, int count)
{
    return replytypes::hostWidth(type) > 0 ? count : 0;
}

void warnMismatch(const CmdQuorvex &link, const QString &name, int count, quint16 replyType,
                  DataType type)
{
    qWarning().noquote() << facadelines::line(
        "lib[Quorvex]数据类型不符 %1:%2  %3 len = %4 reply = %5 %6 asked = %7 %8", link, name,
        count, facadelines::hexNumber(replyType, 4), replytypes::cipTypeName(replyType),
        QString::number(int(type)), replytypes::dataTypeName(type));
}

void warnShort(const CmdQuorvex &link, const QString &name, int count, int need, quint16 replyType,
               const QByteArray &bytes)
{
    QByteArray data;
    le::put16(data, replyType);
    qWarning().noquote() << facadelines::line(
        "lib[Quorvex]报文数据长度不足 %1:%2  %3 len = %4 need = %5 msg : %6", link, name, count,
        QString::number(need), facadelines::hex(data + bytes));
}

void warnOutOfRange(const CmdQuorvex &link, const QString &name, int count,
                    const replytypes::Converted &c, quint16 replyType, DataType type)
{
    qWarning().noquote() << facadelines::line(
        "lib[Quorvex]数值超出范围 %1:%2  %3 len = %4 index = %5 value = %6 reply = %7 %8 "
        "asked = %9 %10",
        link, name, count, QString::number(c.badIndex), c.badValue,
        facadelines::hexNumber(replyType, 4), replytypes::cipTypeName(replyType),
        QString::number(int(type)), replytypes::dataTypeName(type));
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
    quint16 replyType = 0;
    const int rc = link.Read_area(area, n, &bytes, name, valueByteBound(type, n),
                                  valueByteNeed(type, n), &replyType);
    switch (rc) {
    case 0:
        t.timestamp = localclock::now();
        t.status = LR_Success;
        if (type < DT_Bool || type > DT_String)
            t.status = LR_UnsupportedType;
        else
            decodeReply(t, bytes, replyType, type, count, name);
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

// The reply's type decides how its bytes are read: the host's type when the
// bits are the same, the reply's own integers converted when only the width
// differs; a reply that holds no value of the host's type, or too few bytes
// for its own, is rejected like a malformed one (no value, no time).
void LibQuorvex::decodeReply(CLabelVariable &t, const QByteArray &bytes, quint16 replyType,
                             DataType type, int count, const QString &name)
{
    const auto reject = [&t] {
        t.status = LR_LinkFailed;
        t.timestamp = QDateTime();
        t.values = QVariant();
    };
    const replytypes::Fit fit = replytypes::judge(replyType, type);
    if (fit == replytypes::Fit::Refused) {
        warnMismatch(link, name, count, replyType, type);
        reject();
        return;
    }
    const int width = fit == replytypes::Fit::Convert ? cip::integerWidth(replyType)
                                                      : replytypes::hostWidth(type);
    const qint64 need = qint64(count) * width;
    if (bytes.size() < need) {
        warnShort(link, name, count, int(need), replyType, bytes);
        reject();
        return;
    }
    if (fit == replytypes::Fit::Convert) {
        const replytypes::Converted c = replytypes::convertIntegers(bytes, replyType, type, count);
        if (c.badIndex >= 0) {
            warnOutOfRange(link, name, count, c, replyType, type);
            reject();
            return;
        }
        t.values = c.values;
        return;
    }
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
    default:
        t.values = set_variant_string(bytes, count);
        break;
    }
}
