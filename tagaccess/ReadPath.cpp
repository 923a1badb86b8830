#include <algorithm>

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "FacadeWarnings.h"
#include "LibQuorvex.h"
#include "LocalClock.h"
#include "ReplyTypes.h"
#include "TextCodec.h"

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
        lastRead = {name, tagaddress::parse(name)};
    const tagaddress::Address address = lastRead.address;
    int refusal = LR_Success;
    if (address.area.isEmpty())
        refusal = LR_BadAddress;
    else if (count < 1 || count > MaxReadCount)
        refusal = LR_BadCount;
    else if (type == DT_None)
        refusal = LR_UnsupportedType;
    // The result is made where it is returned, never copied over: a copy
    // of its value list and its time costs as much as a tenth of a read.
    CLabelVariable result =
        refusal == LR_Success ? readAddress(address, type, count, name) : refused(refusal);
    result.tagName = name;
    result.type = type;
    result.count = count;
    return result;
}

// Most addresses are read as they are; a bit, and an element of what may be
// a BOOL array, depend on the controller's type.
CLabelVariable LibQuorvex::readAddress(const tagaddress::Address &a, DataType type, int count,
                                       const QString &name)
{
    if (a.bit < 0 && !a.indexed)
        return Read_data(a.area, type, count, name);
    knowledge.follow(link.connectionGeneration());
    if (a.bit >= 0)
        return Read_bits(integerBit(a), type, count, name);
    TagKnowledge::Type array;
    const int rc = learnType(a.arrayArea, name, &array);
    if (rc != 0) {
        CLabelVariable failed;
        failed.status = linkStatus(rc);
        return failed;
    }
    if (array.code == cip::TypeDword)
        return Read_bits(boolArrayBit(a), type, count, name);
    return Read_data(a.area, type, count, name);
}

int LibQuorvex::linkStatus(int rc)
{
    switch (rc) {
    case 0:
        return LR_Success;
    case -1:
        return LR_LinkFailed;
    case -2:
        return LR_NoReply;
    case -3:
        return LR_NotConnected;
    default:
        return LR_Initial;
    }
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
        noteReply(area, replyType, bytes, count);
        if (type < DT_Bool || type > DT_String)
            t.status = LR_UnsupportedType;
        else
            decodeReply(t, bytes, replyType, type, count, name);
        break;
    default:
        t.status = linkStatus(rc);
        break;
    }
    return t;
}

void LibQuorvex::noteReply(const QString &area, quint16 replyType, const QByteArray &bytes,
                           int count)
{
    knowledge.follow(link.connectionGeneration());
    constexpr int HandleSize = 2;
    quint16 handle = 0;
    if (replyType == cip::TypeStructure) {
        handle = static_cast<quint16>(le::getPadded(bytes, 0, HandleSize));
        const int body = bytes.size() - HandleSize;
        if (count > 0 && body > 0 && body % count == 0 && knowledge.textOf(handle).size == 0)
            knowledge.noteText(handle, body / count);
    }
    const TagKnowledge::Type known = knowledge.typeAt(area);
    if (known.code != replyType || known.handle != handle)
        knowledge.noteType(area, replyType, handle);
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
        facadewarn::typeMismatch(link, name, count, replyType, type);
        reject();
        return;
    }
    if (type == DT_String) {
        const textcodec::Decoded d =
            replyType == cip::TypeShortString
                ? textcodec::decodeShort(bytes, count)
                : textcodec::decodeStructures(
                      bytes, count,
                      knowledge.textOf(static_cast<quint16>(le::getPadded(bytes, 0, 2))));
        if (d.need > 0) {
            QByteArray data;
            le::put16(data, replyType);
            facadewarn::tooShort(link, name, count, d.need, data + bytes);
            reject();
        } else if (d.badIndex >= 0) {
            facadewarn::textLength(link, name, count, d.badIndex, d.badLength, d.room);
            reject();
        } else {
            t.values = QVariant::fromValue(d.texts);
        }
        return;
    }
    const int width = fit == replytypes::Fit::Convert ? cip::integerWidth(replyType)
                                                      : replytypes::hostWidth(type);
    const qint64 need = qint64(count) * width;
    if (bytes.size() < need) {
        QByteArray data;
        le::put16(data, replyType);
        facadewarn::tooShort(link, name, count, need, data + bytes);
        reject();
        return;
    }
    if (fit == replytypes::Fit::Convert) {
        const replytypes::Converted c = replytypes::convertIntegers(bytes, replyType, type, count);
        if (c.badIndex >= 0) {
            facadewarn::outOfRange(link, name, count, c.badIndex, c.badValue, replyType, type);
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
        break;
    }
}

int LibQuorvex::learnType(const QString &area, const QString &name, TagKnowledge::Type *out)
{
    *out = knowledge.typeAt(area);
    if (out->code != 0)
        return 0;
    // One element of it, whatever it is; a text structure is the largest.
    constexpr int OneElementBound = 4096 + 2;
    QByteArray bytes;
    quint16 replyType = 0;
    const int rc = link.Read_area(area, 1, &bytes, name, OneElementBound, 0, &replyType);
    if (rc != 0)
        return rc;
    noteReply(area, replyType, bytes, 1);
    *out = knowledge.typeAt(area);
    return 0;
}
