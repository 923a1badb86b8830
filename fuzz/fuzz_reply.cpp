// Reply handling: the input is a read (type, count, tag) and then the
// controller's successive replies to it, each a 16-bit length and its bytes.
// A fake exchange hands them out one per request, so partial transfers are
// followed over as many replies as the input holds; then the value bytes go
// to the decoder of the type, as the read path would hand them on. Each
// reply is also judged as an answer to the session registration.

#include "EipProtocol.h"
#include "EncapFrame.h"
#include "FuzzSupport.h"
#include "LibQuorvex.h"
#include "ReadFrames.h"

#include <QList>
#include <QVector>

namespace
{

const char *const Tags[] = {"DintTag",       "Names[2]", "Motor.Rpm",          "Grid[1,2]",
                            "BigArray[300]", "Ab",       "Cfg.Inner.Deep.Code"};

// Makes the encapsulation and item lengths describe the reply, so that the
// fuzzer spends its time on the CIP part behind them.
void fixLengths(QByteArray &reply)
{
    if (reply.size() >= 4)
        le::set16(reply, 2, quint16(reply.size() - eip::HeaderSize));
    if (reply.size() >= tagread::OffItemLength + 2)
        le::set16(reply, tagread::OffItemLength, quint16(reply.size() - eip::OffCipMessage));
}

int expectedLength(DataType type, int count)
{
    return type == DT_Bool ? 8 * (count + 1) : count;
}

int listLength(const QVariant &v)
{
    // Every list type registers sequential iteration.
    return v.value<QVariantList>().size();
}

LibQuorvex *facade()
{
    static LibQuorvex *f = new LibQuorvex;
    return f;
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
    const quint8 mode = in.u8();
    const DataType type = DataType(1 + (mode & 0x0F) % 12);
    const bool fix = (mode & 0x80) != 0;
    // Bits 4..6: the value bytes each element must at least bring.
    const int minPerElement = (mode >> 4) & 7;
    const quint16 count = quint16(1 + in.u16() % 600);
    const QString tag = QString::fromLatin1(Tags[in.u8() % (sizeof Tags / sizeof *Tags)]);
    const int maxValueBytes = 1 + in.u16() % 8192;

    QVector<QByteArray> replies;
    while (!in.empty() && replies.size() < 64) {
        QByteArray r = in.bytes(in.u16() % 1200);
        if (fix)
            fixLengths(r);
        // The same bytes as an answer to the session registration.
        const encap::RegisterReply reg = encap::judgeRegisterReply(r);
        FUZZ_CHECK(!reg.ok || (reg.handle.size() == 4 && r.size() >= 28));
        replies.append(r);
    }

    const QString area = facade()->getArea(tag);
    FUZZ_CHECK(!area.isEmpty());
    const QByteArray path = tagread::requestPath(area, tagread::firstNameLength(tag, area));

    int handedOut = 0;
    quint32 lastOffset = 0;
    const tagread::Exchange exchange = [&](const QByteArray &request, QByteArray &reply) {
        // Every request must be a whole frame whose lengths agree.
        FUZZ_CHECK(request.size() > tagread::OffEmbeddedService);
        FUZZ_CHECK(le::getPadded(request, 2, 2) == quint64(request.size() - eip::HeaderSize));
        FUZZ_CHECK(le::getPadded(request, tagread::OffItemLength, 2) ==
                   quint64(request.size() - eip::OffCipMessage));
        // Each follow-up asks for bytes beyond those already gathered.
        if (quint8(request.at(tagread::OffEmbeddedService)) == cip::ReadTagFragmented) {
            const auto offset =
                quint32(le::getPadded(request, tagread::OffEmbeddedService + 4 + path.size(), 4));
            FUZZ_CHECK(handedOut == 0 ? offset == 0 : offset > lastOffset);
            lastOffset = offset;
        }
        if (handedOut >= replies.size())
            return -1;
        reply.append(replies.at(handedOut++));
        return reply.isEmpty() ? -1 : 0;
    };

    QByteArray out;
    const tagread::ReadOutcome o =
        tagread::readTag(QByteArray::fromHex("01020304"), path, count, maxValueBytes, exchange,
                         &out, minPerElement * count);

    FUZZ_CHECK(o.rc == 0 || o.rc == -1 || o.rc == -2);
    FUZZ_CHECK(o.parts >= 1 && o.parts <= replies.size() + 1);
    FUZZ_CHECK(o.offset == lastOffset);
    if (o.rc != 0) {
        FUZZ_CHECK(out.isEmpty());
        FUZZ_CHECK(o.failure != tagread::Failure::None);
        return 0;
    }
    FUZZ_CHECK(o.failure == tagread::Failure::None);
    FUZZ_CHECK(o.judged.verdict == tagread::Verdict::Ok);
    // The bound stops fragment following; one reply is bounded by its frame.
    const int handleSize = o.judged.hasHandle ? 2 : 0;
    if (o.parts > 1)
        FUZZ_CHECK(out.size() <= maxValueBytes + handleSize);
    else
        FUZZ_CHECK(out.size() <= replies.first().size());
    FUZZ_CHECK(out.size() - handleSize >= minPerElement * count);

    QVariant v;
    LibQuorvex *f = facade();
    switch (type) {
    case DT_Bool:
        v = f->set_variant_bool(out, count);
        break;
    case DT_Int8:
        v = f->set_variant_Int8(out, count);
        break;
    case DT_UInt8:
        v = f->set_variant_UInt8(out, count);
        break;
    case DT_Int16:
        v = f->set_variant_Int16(out, count);
        break;
    case DT_UInt16:
        v = f->set_variant_UInt16(out, count);
        break;
    case DT_Int32:
        v = f->set_variant_Int32(out, count);
        break;
    case DT_UInt32:
        v = f->set_variant_UInt32(out, count);
        break;
    case DT_Float:
        v = f->set_variant_fload(out, count);
        break;
    case DT_Int64:
        v = f->set_variant_Int64(out, count);
        break;
    case DT_UInt64:
        v = f->set_variant_UInt64(out, count);
        break;
    case DT_Double:
        v = f->set_variant_double(out, count);
        break;
    default:
        v = f->set_variant_string(out, count);
        break;
    }
    FUZZ_CHECK(listLength(v) == expectedLength(type, count));
    return 0;
}
