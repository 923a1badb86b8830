#include "ByteOrder.h"
#include "EipProtocol.h"
#include "FacadeWarnings.h"
#include "LabelListAccess.h"
#include "LibQuorvex.h"
#include "LocalClock.h"
#include "ReadFrames.h"
#include "TagAddress.h"
#include "WriteFrames.h"

#include <QVector>

// Bits of integers (`Tag.N`) and elements of BOOL arrays, which a
// controller keeps in 32-bit words (type 0xD3): read as their integer,
// written with Read-Modify-Write so that no other bit is touched.

namespace
{

constexpr int BitsPerByte = 8;
constexpr int BoolArrayWordBytes = 4;
constexpr int BoolArrayWordBits = BoolArrayWordBytes * BitsPerByte;
// Value bytes of a reply: a bound well past any integer array's, only to
// stop fragment following.
constexpr int ReplyBoundSlack = 2 + 4;

// Elements of `width` bytes that bits firstBit .. firstBit + count - 1 span.
int elementsSpanned(quint64 firstBit, int count, int width)
{
    const quint64 bits = quint64(width) * BitsPerByte;
    return int((firstBit + quint64(count) + bits - 1) / bits);
}

template <typename T> QVariant listOfBits(const QVector<bool> &bits)
{
    QList<T> list;
    list.reserve(bits.size());
    for (const bool b : bits)
        list.append(static_cast<T>(b ? 1 : 0));
    return QVariant::fromValue(list);
}

// A bit as the host asked for it: a bool, or 0 / 1 of a number type.
QVariant bitValues(DataType type, const QVector<bool> &bits)
{
    QVariant values;
    visitNumberType(type, [&](auto t) { values = listOfBits<decltype(t)>(bits); });
    return values;
}

template <typename T> bool bitsOfList(const QVariant &values, int count, QVector<bool> *bits)
{
    if (!labelHoldsList<T>(values))
        return false;
    const QList<T> list = labelListOf<T>(values);
    for (int i = 0; i < count && i < list.size(); ++i)
        bits->append(list.at(i) != T(0));
    return true;
}

// The bits a host value sets: any number that is not 0 sets its bit. Status
// 11 for a list of another element type (or texts), 10 for too few.
int bitsOf(DataType type, const QVariant &values, int count, QVector<bool> *bits)
{
    bool ok = false;
    const bool number =
        visitNumberType(type, [&](auto t) { ok = bitsOfList<decltype(t)>(values, count, bits); });
    if (!number && type != DT_String)
        return LR_UnsupportedType;
    if (!ok)
        return LR_WrongElementType;
    return bits->size() < count ? LR_IndexOutOfRange : LR_Success;
}

} // namespace

LibQuorvex::BitTarget LibQuorvex::integerBit(const tagaddress::Address &a)
{
    BitTarget t;
    t.area = a.area;
    t.arrayArea = a.arrayArea;
    t.index = a.index;
    t.firstBit = quint64(a.bit);
    return t;
}

LibQuorvex::BitTarget LibQuorvex::boolArrayBit(const tagaddress::Address &a) const
{
    BitTarget t;
    t.arrayArea = a.arrayArea;
    t.index = a.index / BoolArrayWordBits;
    t.area = tagaddress::elementArea(a.arrayArea, t.index);
    t.firstBit = a.index % BoolArrayWordBits;
    t.width = BoolArrayWordBytes;
    return t;
}

CLabelVariable LibQuorvex::Read_bits(const BitTarget &target, DataType type, int count,
                                     const QString &name)
{
    CLabelVariable t;
    const auto fail = [&t](int status) {
        t.status = status;
        t.values = QVariant();
        t.timestamp = QDateTime();
        return t;
    };
    // No integer has the bit: refused before anything is sent.
    int width = target.width;
    if (width == 0) {
        const TagKnowledge::Type known = knowledge.typeAt(target.area);
        if (cip::isInteger(known.code))
            width = cip::integerWidth(known.code);
    }
    const quint64 widest =
        width ? quint64(width) * BitsPerByte : quint64(tagaddress::MaxBitNumber + 1);
    if (target.firstBit >= widest) {
        facadewarn::bitOutOfRange(link, name, count, target.firstBit, int(widest));
        t.status = LR_LinkFailed;
        t.timestamp = localclock::now();
        return t;
    }
    // Without the width, one element first: its reply tells the width.
    int elements = width ? elementsSpanned(target.firstBit, count, width) : 1;
    QByteArray bytes;
    quint16 replyType = 0;
    int rc = link.Read_area(target.area, elements, &bytes, name,
                            elements * cip::integerWidth(cip::TypeLint) + ReplyBoundSlack, elements,
                            &replyType);
    if (rc != 0)
        return fail(LibQuorvex::linkStatus(rc));
    noteReply(target.area, replyType, bytes, elements);
    if (!cip::isInteger(replyType) || type == DT_String) {
        facadewarn::typeMismatch(link, name, count, replyType, type);
        return fail(LR_LinkFailed);
    }
    width = cip::integerWidth(replyType);
    if (target.firstBit >= quint64(width) * BitsPerByte) {
        // The same refusal as when the width was known before: the driver's,
        // with the time of the call.
        facadewarn::bitOutOfRange(link, name, count, target.firstBit, width * BitsPerByte);
        fail(LR_LinkFailed);
        t.timestamp = localclock::now();
        return t;
    }
    const int needed = elementsSpanned(target.firstBit, count, width);
    if (needed > elements) {
        elements = needed;
        bytes.clear();
        rc = link.Read_area(target.area, elements, &bytes, name, elements * width + ReplyBoundSlack,
                            elements * width, &replyType);
        if (rc != 0)
            return fail(LibQuorvex::linkStatus(rc));
    }
    if (bytes.size() < qint64(elements) * width) {
        QByteArray data;
        le::put16(data, replyType);
        facadewarn::tooShort(link, name, count, qint64(elements) * width, data + bytes);
        return fail(LR_LinkFailed);
    }
    t.timestamp = localclock::now();
    t.status = LR_Success;
    if (type < DT_Bool || type > DT_String) {
        t.status = LR_UnsupportedType;
        return t;
    }
    // Elements follow each other least significant byte first: bit k of
    // the run is bit k % 8 of byte k / 8.
    QVector<bool> bits;
    bits.reserve(count);
    for (int i = 0; i < count; ++i) {
        const quint64 k = target.firstBit + quint64(i);
        bits.append((quint8(bytes.at(int(k / BitsPerByte))) >> (k % BitsPerByte)) & 1);
    }
    t.values = bitValues(type, bits);
    return t;
}

CLabelVariable LibQuorvex::Write_bits(const BitTarget &target, DataType type, CLabelVariable value,
                                      int count, const QString &name)
{
    const auto finish = [&value](int status, bool timed) {
        value.status = status;
        value.timestamp = timed ? localclock::now() : QDateTime();
        return value;
    };
    QVector<bool> bits;
    const int encoded = bitsOf(type, value.values, count, &bits);
    if (encoded != LR_Success)
        return finish(encoded, true);
    if (target.firstBit > quint64(tagaddress::MaxBitNumber)) {
        facadewarn::bitOutOfRange(link, name, count, target.firstBit, tagaddress::MaxBitNumber + 1);
        return finish(LR_LinkFailed, true);
    }
    // The masks are of the integer's size: its type first, from this
    // connection's replies or from a read of it.
    TagKnowledge::Type known;
    known.code = target.width ? cip::bitStringOfWidth(target.width) : 0;
    if (known.code == 0) {
        const int rc = learnType(target.area, name, &known);
        if (rc != 0)
            return finish(LibQuorvex::linkStatus(rc), false);
    }
    if (!cip::isInteger(known.code)) {
        facadewarn::typeMismatch(link, name, count, known.code, DT_Bool);
        return finish(LR_LinkFailed, false);
    }
    const int width = cip::integerWidth(known.code);
    const quint64 widthBits = quint64(width) * BitsPerByte;
    if (target.firstBit >= widthBits) {
        facadewarn::bitOutOfRange(link, name, count, target.firstBit, int(widthBits));
        return finish(LR_LinkFailed, true);
    }
    const quint64 all = width == 8 ? ~quint64(0) : (quint64(1) << widthBits) - 1;
    // One request per element the bits span, each changing only its bits;
    // that they all exist is asked first, so that a write past the end
    // changes nothing rather than its first elements.
    const int elements = elementsSpanned(target.firstBit, count, width);
    if (elements > 1) {
        QByteArray bytes;
        quint16 replyType = 0;
        const int rc =
            link.Read_area(target.area, elements, &bytes, name, elements * width + ReplyBoundSlack,
                           elements * width, &replyType);
        if (rc != 0)
            return finish(LibQuorvex::linkStatus(rc), false);
    }
    for (int e = 0; e < elements; ++e) {
        quint64 set = 0;
        quint64 keep = all;
        for (int i = 0; i < count; ++i) {
            const quint64 k = target.firstBit + quint64(i);
            if (k / widthBits != quint64(e))
                continue;
            const quint64 bit = quint64(1) << (k % widthBits);
            if (bits.at(i))
                set |= bit;
            else
                keep &= ~bit;
        }
        // An element after the first: the next of its array.
        const QString area =
            e == 0 ? target.area
                   : tagaddress::elementArea(
                         target.arrayArea.isEmpty() ? target.area : target.arrayArea,
                         (target.arrayArea.isEmpty() ? 0 : target.index) + quint32(e));
        const int rc = modifyBits(area, known.code, set, keep, name, count);
        if (rc != 0)
            return finish(LibQuorvex::linkStatus(rc), false);
    }
    return finish(LR_Success, true);
}

int LibQuorvex::modifyBits(const QString &area, quint16 typeCode, quint64 setBits, quint64 keepBits,
                           const QString &name, int count)
{
    const int width = cip::integerWidth(typeCode);
    const bool readWrite = options.bitWrite == BitWrite::ReadWrite;
    if (!(readWrite && knowledge.rmwRefused)) {
        if (link.ensureTransport() != 0)
            return -3;
        const QByteArray path = tagread::requestPath(area, tagread::firstNameLength(name, area));
        const QByteArray request = tagwrite::readModifyWriteRequest(
            path, tagwrite::mask(setBits, width), tagwrite::mask(keepBits, width));
        QByteArray mrReply;
        QByteArray frame;
        const int rc = link.exchangeCip(request, mrReply, name, count, &frame);
        link.noteResult(rc);
        if (rc != 0)
            return rc;
        const tagwrite::WriteReply judged =
            tagwrite::judgeWriteReply(mrReply, cip::ReadModifyWrite);
        if (judged.verdict == tagwrite::Verdict::Ok)
            return 0;
        const bool unsupported = judged.verdict == tagwrite::Verdict::Refused &&
                                 judged.generalStatus == cip::ServiceNotSupported;
        if (unsupported)
            knowledge.rmwRefused = true;
        if (!(unsupported && readWrite)) {
            facadewarn::writeRefused(link, name, count, judged.generalStatus, judged.extStatus,
                                     frame);
            return -1;
        }
    }
    // Read, change, write: another writer's change in between is lost.
    QByteArray bytes;
    quint16 replyType = 0;
    int rc = link.Read_area(area, 1, &bytes, name, width + ReplyBoundSlack, width, &replyType);
    if (rc != 0)
        return rc;
    if (cip::integerWidth(replyType) != width || !cip::isInteger(replyType)) {
        facadewarn::typeMismatch(link, name, count, replyType, DT_Bool);
        return -1;
    }
    const quint64 now = (le::getPadded(bytes, 0, width) | setBits) & keepBits;
    QByteArray typeBytes;
    le::put16(typeBytes, replyType);
    rc = link.Write_area(area, name, typeBytes, 1, tagwrite::mask(now, width), width);
    return rc;
}
