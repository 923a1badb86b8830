// Writes, both ends. Mode bit 7 clear: the driver's side. The input is a
// write (type, count, tag, the largest request) and the controller's
// successive replies, each a 16-bit length and its bytes; each reply is
// judged as an envelope and handed on as a Message Router reply, so the
// parts and the reply judge meet any bytes. Mode bit 7 set: the
// simulator's side, a Write Tag or Write Tag Fragmented request at one of
// a few paths with the input's type, count, offset and data, served from a
// fresh copy of the tag set.

#include "CipService.h"
#include "EipProtocol.h"
#include "FuzzSupport.h"
#include "LibQuorvex.h"
#include "Messaging.h"
#include "ReadFrames.h"
#include "WriteEncoding.h"
#include "WriteFrames.h"

#include <QVector>

namespace
{

const char *const Tags[] = {"DintTag",       "Names[2]", "Motor.Rpm",          "Grid[1,2]",
                            "BigArray[300]", "Ab",       "Cfg.Inner.Deep.Code"};

LibQuorvex *facade()
{
    static LibQuorvex *f = new LibQuorvex;
    return f;
}

const qsim::TagDatabase &tagSet()
{
    static const qsim::TagDatabase d = qsim::defaultTags();
    return d;
}

template <typename T> QVariant elements(int n, quint8 seed)
{
    QList<T> l;
    for (int i = 0; i < n; ++i) {
        if constexpr (std::is_same_v<T, QString>)
            l.append(QString((i * 7 + seed) % 90, QLatin1Char('a' + i % 26)));
        else
            l.append(T(i * 31 + seed));
    }
    return QVariant::fromValue(l);
}

QVariant valuesFor(DataType type, int n, quint8 seed)
{
    switch (type) {
    case DT_Bool:
        return elements<bool>(n, seed);
    case DT_Int8:
        return elements<char>(n, seed);
    case DT_UInt8:
        return elements<unsigned char>(n, seed);
    case DT_Int16:
        return elements<short>(n, seed);
    case DT_UInt16:
        return elements<unsigned short>(n, seed);
    case DT_Int32:
        return elements<int>(n, seed);
    case DT_UInt32:
        return elements<unsigned int>(n, seed);
    case DT_Float:
        return elements<float>(n, seed);
    case DT_Int64:
        return elements<long long>(n, seed);
    case DT_UInt64:
        return elements<unsigned long long>(n, seed);
    case DT_Double:
        return elements<double>(n, seed);
    default:
        return elements<QString>(n, seed);
    }
}

void driverSide(fuzz::Input &in, DataType type)
{
    const quint16 count = quint16(1 + in.u16() % 2000);
    const QString tag = QString::fromLatin1(Tags[in.u8() % (sizeof Tags / sizeof *Tags)]);
    const int maxRequest = 24 + in.u16() % 600;
    const quint8 seed = in.u8();
    QVector<QByteArray> replies;
    while (!in.empty() && replies.size() < 64)
        replies.append(in.bytes(in.u16() % 600));

    const writeencoding::Encoded e =
        writeencoding::encode(type, valuesFor(type, count, seed), count);
    if (e.status != 0) {
        FUZZ_CHECK(e.data.isEmpty() && type == DT_String && e.longTextBytes > cip::StringDataSize);
        return;
    }
    FUZZ_CHECK(e.data.size() == count * e.elementSize);
    const QString area = facade()->getArea(tag);
    FUZZ_CHECK(!area.isEmpty());
    const QByteArray path = tagread::requestPath(area, tagread::firstNameLength(tag, area));

    int handedOut = 0;
    qint64 nextOffset = 0;
    QByteArray sentType = e.typeBytes;
    const tagwrite::Exchange exchange = [&](const QByteArray &request, QByteArray &reply) {
        FUZZ_CHECK(request.size() <= maxRequest);
        const quint8 service = quint8(request.at(0));
        FUZZ_CHECK(service == cip::WriteTag || service == cip::WriteTagFragmented);
        // Another type only once, the bit string of the integer's width,
        // and the write begins again.
        const QByteArray type = request.mid(2 + path.size(), e.typeBytes.size());
        if (type != sentType) {
            FUZZ_CHECK(sentType == e.typeBytes && type == tagwrite::bitStringRetryType(sentType));
            sentType = type;
            nextOffset = 0;
        }
        le::Reader r(request, 2 + path.size() + e.typeBytes.size());
        FUZZ_CHECK(r.u16() == count);
        // The parts follow each other without a gap or an overlap.
        if (service == cip::WriteTagFragmented) {
            FUZZ_CHECK(r.u32() == nextOffset);
            nextOffset += r.remaining();
        }
        FUZZ_CHECK(r.ok());
        if (handedOut >= replies.size())
            return -2;
        const QByteArray bytes = replies.at(handedOut++);
        const messaging::Unwrapped env = messaging::unwrapUnconnected(bytes);
        if (env.verdict == messaging::Verdict::Ok)
            FUZZ_CHECK(env.mr.size() == bytes.size() - eip::OffCipMessage);
        reply.append(bytes);
        return bytes.isEmpty() ? -1 : 0;
    };
    const tagwrite::WriteOutcome o =
        tagwrite::writeTag(path, e.typeBytes, count, e.data, e.elementSize, maxRequest, exchange);
    FUZZ_CHECK(o.rc == 0 || o.rc == -1 || o.rc == -2);
    FUZZ_CHECK(o.written >= 0 && o.written <= e.data.size());
    FUZZ_CHECK(o.parts <= replies.size() + 1);
    if (o.rc == 0) {
        FUZZ_CHECK(o.failure == tagwrite::Failure::None && o.written == e.data.size());
        FUZZ_CHECK(o.judged.verdict == tagwrite::Verdict::Ok);
    } else {
        FUZZ_CHECK(o.failure != tagwrite::Failure::None);
    }
    if (o.failure == tagwrite::Failure::Incomplete)
        FUZZ_CHECK(o.rc == -1 && o.written > 0);
}

void simulatorSide(fuzz::Input &in, quint8 mode)
{
    static const char *const Paths[] = {"DintTag",   "BigArray", "Motors",
                                        "StringTag", "Cube",     "BoolArray"};
    const QByteArray name = Paths[in.u8() % (sizeof Paths / sizeof *Paths)];
    QByteArray path;
    le::put8(path, cip::SegSymbolic);
    le::put8(path, quint8(name.size()));
    path += name;
    if (name.size() % 2)
        le::put8(path, 0);
    if (mode & 0x20) {
        le::put8(path, cip::SegElement8);
        le::put8(path, in.u8());
    }
    const quint8 service = (mode & 0x40) ? cip::WriteTagFragmented : cip::WriteTag;
    QByteArray request;
    le::put8(request, service);
    le::put8(request, quint8(path.size() / 2));
    request += path + in.rest();

    qsim::TagDatabase db = tagSet(); // shared until a write detaches it
    qsim::CipOptions options;
    options.store = &db;
    const QByteArray reply = qsim::handleCip(request, db, options);
    FUZZ_CHECK(reply.size() >= cip::ReplyHeaderSize);
    FUZZ_CHECK(quint8(reply.at(0)) == (service | cip::ReplyBit));
    FUZZ_CHECK(reply.size() == cip::ReplyHeaderSize + 2 * quint8(reply.at(3)));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::installQuietHandler();
    facade();
    tagSet();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    const quint8 mode = in.u8();
    if (mode & 0x80)
        simulatorSide(in, mode);
    else
        driverSide(in, DataType(1 + (mode & 0x0F) % 12));
    return 0;
}
