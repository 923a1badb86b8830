#include "ByteOrder.h"
#include "EipProtocol.h"
#include "FacadeWarnings.h"
#include "LibQuorvex.h"
#include "LocalClock.h"
#include "ReplyTypes.h"
#include "TextCodec.h"
#include "WriteEncoding.h"
#include "WriteFrames.h"

namespace
{

// The element count travels as a 16-bit field.
constexpr int MaxWriteCount = 0xFFFF;

// A tag of a bit string type (DWORD, ...) takes no integer code: known from
// this connection's replies, it gets its own code at once, as the second
// try of a refused write would give it. Nothing else depends on what was
// read before.
void takeBitStringType(writeencoding::Encoded &e, const TagKnowledge::Type &known)
{
    const QByteArray retry = tagwrite::bitStringRetryType(e.typeBytes);
    if (retry.isEmpty() || le::getPadded(retry, 0, 2) != known.code)
        return;
    e.typeBytes = retry;
}

} // namespace

// Writes that depend on the controller's type (a bit, an element of what
// may be a BOOL array, a text) learn it first, once per connection; the
// rest go as they are.
CLabelVariable LibQuorvex::writeAddress(const tagaddress::Address &a, DataType type,
                                        CLabelVariable value, int count, const QString &name)
{
    if (a.area.isEmpty() || count < 1 || count > MaxWriteCount ||
        (a.bit < 0 && !a.indexed && type != DT_String))
        return Write_data(a.area, type, value, count, name);
    knowledge.follow(link.connectionGeneration());
    if (a.bit >= 0)
        return Write_bits(integerBit(a), type, value, count, name);
    TagKnowledge::Type element;
    if (a.indexed) {
        // A Read Tag of the array itself answers 0xD3 for a BOOL array.
        const int rc = learnType(a.arrayArea, name, &element);
        if (rc != 0) {
            value.status = LibQuorvex::linkStatus(rc);
            value.timestamp = QDateTime();
            return value;
        }
        if (element.code == cip::TypeDword)
            return Write_bits(boolArrayBit(a), type, value, count, name);
    }
    if (type == DT_String)
        return Write_texts(a.area, element, value, count, name);
    // The array's element type is its elements'.
    if (a.indexed && knowledge.typeAt(a.area).code == 0)
        knowledge.noteType(a.area, element.code, element.handle);
    return Write_data(a.area, type, value, count, name);
}

// The value comes back as the host handed it in, with the outcome in
// `status`: a refusal carries the time of the call and sends nothing, a
// transfer the time it was confirmed, a link failure no time at all.
CLabelVariable LibQuorvex::Write_data(QString area, DataType type, CLabelVariable value, int count,
                                      QString name)
{
    int refusal = LR_Success;
    writeencoding::Encoded e;
    if (area.isEmpty()) {
        refusal = LR_BadAddress;
    } else if (count < 1 || count > MaxWriteCount) {
        refusal = LR_BadCount;
    } else {
        e = writeencoding::encode(type, value.values, count);
        refusal = e.status;
        if (e.longTextIndex >= 0)
            facadewarn::longText(link, name, count, e.longTextIndex, e.longTextBytes, e.textLimit);
    }
    if (refusal != LR_Success) {
        value.status = refusal;
        value.timestamp = localclock::now();
        return value;
    }
    knowledge.follow(link.connectionGeneration());
    takeBitStringType(e, knowledge.typeAt(area));

    const int rc = link.Write_area(area, name, e.typeBytes, count, e.data, e.elementSize);
    value.status = LibQuorvex::linkStatus(rc);
    value.timestamp = rc == 0 ? localclock::now() : QDateTime();
    return value;
}

// A structure is a text type when its LEN is a DINT and its DATA a SINT
// array: asked of the controller, member by member. 1 it is, 0 it is not,
// -2 or -3 the link could not tell.
int LibQuorvex::textMembers(const QString &area, const QString &name)
{
    constexpr int OneMemberBound = 8 + 6;
    const struct {
        const char *member;
        quint16 type;
    } members[] = {{"LEN", cip::TypeDint}, {"DATA", cip::TypeSint}};
    for (const auto &m : members) {
        QByteArray bytes;
        quint16 replyType = 0;
        const QString at = tagaddress::memberArea(area, QLatin1String(m.member));
        const int rc = link.Read_area(at, 1, &bytes, name, OneMemberBound, 0, &replyType);
        if (rc == -2 || rc == -3)
            return rc;
        if (rc != 0 || replyType != m.type)
            return 0;
    }
    return 1;
}

// A text goes as the tag's own text type: a structure of its handle and
// size, refused when longer than its DATA, or a short string.
CLabelVariable LibQuorvex::Write_texts(const QString &area, TagKnowledge::Type known,
                                       CLabelVariable value, int count, const QString &name)
{
    if (known.code == 0) {
        const int rc = learnType(area, name, &known);
        if (rc != 0) {
            value.status = LibQuorvex::linkStatus(rc);
            value.timestamp = QDateTime();
            return value;
        }
    }
    writeencoding::Encoded e;
    if (known.code == cip::TypeShortString) {
        e = textcodec::encodeShort(value.values, count);
    } else if (known.code == cip::TypeStructure) {
        // Any other structure written as a text would be overwritten
        // with one: its members are asked for first, once a handle.
        if (knowledge.isText(known.handle) == 0) {
            const int rc = textMembers(area, name);
            if (rc == -2 || rc == -3) {
                value.status = LibQuorvex::linkStatus(rc);
                value.timestamp = QDateTime();
                return value;
            }
            knowledge.noteIsText(known.handle, rc == 1);
        }
        if (knowledge.isText(known.handle) < 0 || knowledge.textOf(known.handle).size == 0) {
            facadewarn::typeMismatch(link, name, count, known.code, DT_String);
            value.status = LR_LinkFailed;
            value.timestamp = QDateTime();
            return value;
        }
        e = textcodec::encodeStructures(value.values, count, known.handle,
                                        knowledge.textOf(known.handle));
    } else {
        // Not a text: the controller says so for the standard STRING.
        return Write_data(area, DT_String, value, count, name);
    }
    if (e.longTextIndex >= 0)
        facadewarn::longText(link, name, count, e.longTextIndex, e.longTextBytes, e.textLimit);
    if (e.status != LR_Success) {
        value.status = e.status;
        value.timestamp = localclock::now();
        return value;
    }
    const int rc = link.Write_area(area, name, e.typeBytes, count, e.data, e.elementSize);
    value.status = LibQuorvex::linkStatus(rc);
    value.timestamp = rc == 0 ? localclock::now() : QDateTime();
    return value;
}
