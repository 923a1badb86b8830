// Tag addresses and request building: any text as an address. A non-empty
// area string must make a request path the controller side can split into
// segments, and frames whose length fields agree and which the simulated
// controller answers at the CIP level (not with an encapsulation error).
// A bit (".N" at the end) is never sent as a member name; every address
// written back from its bytes parses to the same.

#include "EipProtocol.h"
#include "FrameHandler.h"
#include "FuzzSupport.h"
#include "LibQuorvex.h"
#include "ReadFrames.h"
#include "TagAddress.h"
#include "TagPath.h"

namespace
{

QString textOf(fuzz::Input &in)
{
    const quint8 how = in.u8() % 3;
    const QByteArray raw = in.rest();
    switch (how) {
    case 0:
        return QString::fromUtf8(raw);
    case 1:
        return QString::fromLatin1(raw);
    default:
        return QString(reinterpret_cast<const QChar *>(raw.constData()), raw.size() / 2);
    }
}

const qsim::TagDatabase &db()
{
    static const qsim::TagDatabase d = qsim::defaultTags();
    return d;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::installQuietHandler();
    db();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    const quint16 count = in.u16();
    const QString address = textOf(in);

    const tagaddress::Address parsed = tagaddress::parse(address);
    const QString area = parsed.area;
    FUZZ_CHECK(area == tagaddress::areaString(address));
    if (area.isEmpty())
        return 0;
    FUZZ_CHECK(area.size() % 2 == 0);
    FUZZ_CHECK(area.size() <= tagread::MaxAreaBytes);
    for (const QChar c : area)
        FUZZ_CHECK(c.unicode() <= 0xFF);

    const int first = tagread::firstNameLength(address, area);
    FUZZ_CHECK(first >= 1 && first <= tagaddress::MaxSymbolLength && first <= area.size());
    const QByteArray path = tagread::requestPath(area, first);
    FUZZ_CHECK(path.size() == area.size() + 2);
    FUZZ_CHECK(path.size() <= tagread::MaxRequestPathBytes);

    QVector<qsim::PathSegment> segments;
    FUZZ_CHECK(qsim::parsePath(path, &segments));
    FUZZ_CHECK(segments.first().symbolic);
    FUZZ_CHECK(segments.first().name == address.left(first).toLatin1());
    // Members are names; a number after a dot is the bit, not a segment.
    for (int i = 1; i < segments.size(); ++i)
        FUZZ_CHECK(!segments.at(i).symbolic || segments.at(i).name.isEmpty() ||
                   !(segments.at(i).name.at(0) >= '0' && segments.at(i).name.at(0) <= '9'));
    const int lastDot = address.lastIndexOf(QLatin1Char('.'));
    const bool endsInNumber =
        lastDot > 0 && lastDot + 1 < address.size() && address.at(lastDot + 1).isDigit();
    FUZZ_CHECK((parsed.bit >= 0) == endsInNumber);
    if (parsed.bit >= 0)
        FUZZ_CHECK(QString::number(parsed.bit) ==
                   QString::number(address.mid(lastDot + 1).toULongLong()));

    const QString text = tagaddress::addressText(area, first, parsed.bit);
    FUZZ_CHECK(!text.isEmpty());
    FUZZ_CHECK(tagaddress::parse(text) == parsed);
    if (parsed.indexed) {
        FUZZ_CHECK(tagaddress::elementArea(parsed.arrayArea, parsed.index) == area);
        // The word of a BOOL array element is an area of the same kind.
        const QString word = tagaddress::elementArea(parsed.arrayArea, parsed.index / 32);
        QVector<qsim::PathSegment> wordSegments;
        FUZZ_CHECK(word.size() <= area.size());
        FUZZ_CHECK(qsim::parsePath(tagread::requestPath(word, first), &wordSegments));
        FUZZ_CHECK(wordSegments.size() == segments.size());
    }

    for (const bool fragmented : {false, true}) {
        const QByteArray frame =
            tagread::buildReadFrame(QByteArray::fromHex("01020304"), path, count, fragmented, 0);
        FUZZ_CHECK(le::getPadded(frame, 2, 2) == quint64(frame.size() - eip::HeaderSize));
        FUZZ_CHECK(le::getPadded(frame, tagread::OffItemLength, 2) ==
                   quint64(frame.size() - eip::OffCipMessage));
        FUZZ_CHECK(frame.size() - eip::OffCipMessage <= tagread::MaxUnconnectedMessage);

        qsim::SessionTable sessions;
        qsim::FrameOptions options;
        options.requireSession = false;
        const qsim::FrameResult r = qsim::handleFrame(frame, sessions, db(), options);
        FUZZ_CHECK(r.tagRead);
        FUZZ_CHECK(le::getPadded(r.reply, 8, 4) == eip::StatusSuccess);
        const quint8 service = fragmented ? cip::ReadTagFragmented : cip::ReadTag;
        FUZZ_CHECK(quint8(r.reply.at(tagread::OffReplyService)) == (service | cip::ReplyBit));
    }
    return 0;
}
