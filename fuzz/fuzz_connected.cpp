// Reads and writes through the link itself (Read_area, Write_area: Forward
// Open, SendUnitData or SendRRData, fragments, late and duplicated replies
// and replies to requests given up, the reopen of a lost connection) over a
// stand-in transport that answers each request from the input, reaching the
// link's parts through their own interfaces.
//
// Input: mode (bits 0-1 the connected option: large, small, auto, off),
// then up to four operations, each a kind byte (bit 0: a write; bit 1: the
// read must bring every byte it asks for), a count (u16) and an element
// size or largest request (u16); the rest answers the requests in order.
// Each answer is a control byte and what it names:
//   kind 0: raw bytes, a u16 length (mod 600) and the bytes;
//   kind 1: nothing (the request goes unanswered);
//   otherwise the answer the request asks for, built from the published
//   layout: general status, for a Forward Open the two ids (u32 each),
//   for a read the type code (u16) and a value length (u8) and its bytes;
//   bits 3-4 shift its sequence count (a Forward Open's: bit 4 names
//   another connection serial), bit 5 puts it on another id, bit 6
//   sends an answer to an earlier request first (one that was answered or
//   given up), bit 7 sends a second copy after it.
// A success the link reports must be backed by a whole frame in the last
// answer with status 0 for that very request, and a value is accepted only
// from the frame that answers its own request: every frame that answers
// another (a shifted sequence, another id, an earlier request's, late or a
// copy) carries value bytes 0xEE, which no other answer has, and no read
// that succeeds may hand one of them out.

#include "ByteOrder.h"
#include "CmdQuorvex.h"
#include "EipProtocol.h"
#include "FuzzSupport.h"
#include "LibQuorvex.h"
#include "Messaging.h"
#include "UnitData.h"

#include <QVector>

namespace
{

const QByteArray Session = QByteArray::fromHex("04030201");
const char *const Tags[] = {"DintTag", "BigArray[3]", "Motor.Rpm", "Ab"};

// Offsets of the published layouts, counted here rather than taken from
// the link's parsers.
constexpr int OffRrService = 40;
constexpr int OffEmbedded = 50;
constexpr int OffConnectionId = 36;
constexpr int OffSequence = 44;
constexpr int OffUnitService = 46;
constexpr int OpenRestSize = 2 + 2 + 4 + 4 + 4 + 1 + 1;
// Where a Forward Open request carries its connection serial, vendor id
// and originator serial (after the two connection ids), and their size.
constexpr int OffOpenTriplet = 56;
constexpr int TripletSize = 2 + 2 + 4;
constexpr int MaxOperations = 4;
constexpr int MaxAnswers = 64;
constexpr quint8 BuiltAnswer = 2;
// The value byte of frames that answer another request than the one just
// sent; the answers to that one never carry it.
constexpr char Foreign = char(0xEE);
constexpr char ForeignStandIn = char(0xEF);
constexpr int MaxEarlier = 8;

// The tags' areas, as the facade gives them, worked out once.
const QVector<QString> &areas()
{
    static const QVector<QString> a = [] {
        LibQuorvex facade;
        QVector<QString> v;
        for (const char *tag : Tags)
            v.append(facade.getArea(QString::fromLatin1(tag)));
        return v;
    }();
    return a;
}

quint32 at16(const QByteArray &f, int offset)
{
    return quint32(le::getPadded(f, offset, 2));
}

quint32 at32(const QByteArray &f, int offset)
{
    return quint32(le::getPadded(f, offset, 4));
}

// The Message Router service a request frame carries, and where its reply
// answers it (inside an Unconnected Send the embedded one).
struct Asked {
    bool unit = false;
    quint8 service = 0;
    quint32 connectionId = 0;
    quint16 sequence = 0;
};

Asked asked(const QByteArray &request)
{
    Asked a;
    a.unit = at16(request, eip::OffCommand) == eip::SendUnitData;
    if (a.unit) {
        a.service = quint8(le::getPadded(request, OffUnitService, 1));
        a.connectionId = at32(request, OffConnectionId);
        a.sequence = quint16(at16(request, OffSequence));
    } else {
        a.service = quint8(le::getPadded(request, OffRrService, 1));
        if (a.service == cip::UnconnectedSend)
            a.service = quint8(le::getPadded(request, OffEmbedded, 1));
    }
    return a;
}

class FakeLine
{
public:
    explicit FakeLine(fuzz::Input &in) : in(in) {}

    quint32 toId = 0; // the T->O id of the last Forward Open answered with success
    QByteArray lastRequest;
    QByteArray lastAnswer;
    // The same for the last request but a Forward Close: the link closes a
    // connection whose Forward Open was answered too late right after the
    // operation that took that answer in.
    QByteArray lastAsked;
    QByteArray lastAskedAnswer;
    // Requests before the last, newest last, with the T->O id of the
    // connection they went on: a late reply comes on that connection.
    struct Sent {
        QByteArray request;
        quint32 toId = 0;
    };
    QVector<Sent> earlier;
    quint32 lastToId = 0;
    int exchanges = 0;

    QByteArray answer(const QByteArray &request)
    {
        FUZZ_CHECK(request.size() >= eip::HeaderSize && request.size() <= eip::MaxFrameSize);
        FUZZ_CHECK(at16(request, eip::OffLength) == quint32(request.size() - eip::HeaderSize));
        FUZZ_CHECK(request.mid(eip::OffSession, eip::SessionHandleSize) == Session);
        ++exchanges;
        QByteArray out;
        if (exchanges <= MaxAnswers && !in.empty()) {
            const quint8 control = in.u8();
            switch (control & 7) {
            case 0:
                out = in.bytes(in.u16() % 600).replace(Foreign, ForeignStandIn);
                break;
            case 1:
                break;
            default:
                out = built(request, control, false);
                break;
            }
            // An answer to an earlier request, late or a second time,
            // comes first.
            if ((control & 0x40) && !lastRequest.isEmpty()) {
                const int back = in.u8() % (earlier.size() + 1);
                const Sent old =
                    back == 0 ? Sent{lastRequest, lastToId} : earlier.at(earlier.size() - back);
                const quint32 now = toId;
                toId = old.toId;
                out.prepend(built(old.request, BuiltAnswer, true));
                toId = now;
            }
        }
        if (!lastRequest.isEmpty())
            earlier.append({lastRequest, lastToId});
        if (earlier.size() > MaxEarlier)
            earlier.removeFirst();
        lastRequest = request;
        lastToId = toId;
        lastAnswer = out;
        if (asked(request).service != cip::ForwardClose) {
            lastAsked = request;
            lastAskedAnswer = out;
        }
        return out;
    }

private:
    fuzz::Input &in;

    // `foreign`: the frame answers an earlier request; its value is 0xEE.
    QByteArray built(const QByteArray &request, quint8 control, bool foreign)
    {
        const Asked a = asked(request);
        const quint8 status = statusFrom(in.u8());
        QByteArray mr;
        le::put8(mr, a.service | cip::ReplyBit);
        le::put8(mr, 0);
        le::put8(mr, status);
        if (status == cip::ConnectionFailure) {
            le::put8(mr, 1);
            le::put16(mr, in.u8() & 1 ? cip::ExtConnectionNotFound : cip::ExtConnectionTimedOut);
        } else {
            le::put8(mr, 0);
        }
        int valueAt = -1; // where the value bytes begin
        if (a.service == cip::ForwardOpen || a.service == cip::LargeForwardOpen) {
            const quint32 ot = quint32(in.i32());
            const quint32 to = quint32(in.i32());
            if (status == cip::Success) {
                le::put32(mr, ot);
                le::put32(mr, to);
                // The serial, vendor and originator serial of the request
                // (control bit 4: another serial), the two RPIs, the
                // application reply size and a reserved byte.
                QByteArray triplet = request.mid(OffOpenTriplet, TripletSize);
                if (control & 0x10)
                    triplet[0] = char(triplet.at(0) ^ 1);
                mr += triplet;
                mr.append(OpenRestSize - TripletSize, '\0');
                toId = to;
            }
        } else if (a.service == cip::ReadTag || a.service == cip::ReadTagFragmented) {
            if (status == cip::Success || status == cip::PartialTransfer) {
                le::put16(mr, in.u16());
                valueAt = mr.size();
                mr += in.bytes(in.u8()).replace(Foreign, ForeignStandIn);
            }
        }
        const auto wrap = [&](const QByteArray &m, quint32 id, quint16 sequence) {
            QByteArray f = a.unit ? unitdata::frame(Session, id, sequence, m)
                                  : messaging::sendRRData(Session, m);
            f.replace(eip::OffContext, eip::ContextSize,
                      request.mid(eip::OffContext, eip::ContextSize));
            return f;
        };
        const auto marked = [&] {
            QByteArray m = mr;
            if (valueAt >= 0)
                m.replace(valueAt, m.size() - valueAt, QByteArray(m.size() - valueAt, Foreign));
            return m;
        };
        const quint32 id = control & 0x20 ? a.connectionId : toId;
        const quint16 sequence = quint16(a.sequence - ((control >> 3) & 3));
        const bool keyed = !a.unit || (id == toId && sequence == a.sequence);
        QByteArray f = wrap(foreign || !keyed ? marked() : mr, id, sequence);
        // A second copy, as some controllers send: it answers the same
        // request (a late copy is an earlier request's answer, above).
        if (control & 0x80)
            f += f;
        return f;
    }

    static quint8 statusFrom(quint8 b)
    {
        switch (b & 7) {
        case 0:
        case 1:
        case 2:
            return cip::Success;
        case 3:
        case 4:
            return cip::PartialTransfer;
        case 5:
            return cip::ConnectionFailure;
        default:
            return b;
        }
    }
};

// A whole frame somewhere in `answer` that answers `request` with status 0.
bool backedBySuccess(const QByteArray &request, const QByteArray &answer, quint32 toId)
{
    const Asked a = asked(request);
    const int mrAt = a.unit ? OffUnitService : OffRrService;
    for (int k = 0; k + mrAt + 4 <= answer.size(); ++k) {
        const QByteArray f = answer.mid(k, eip::HeaderSize + int(at16(answer, k + eip::OffLength)));
        if (f.size() < mrAt + 4 || at16(f, eip::OffLength) != quint32(f.size() - eip::HeaderSize))
            continue;
        if (at32(f, eip::OffStatus) != 0 || quint8(f.at(mrAt)) != (a.service | cip::ReplyBit) ||
            quint8(f.at(mrAt + 2)) != cip::Success)
            continue;
        if (a.unit && (at16(f, 0) != eip::SendUnitData || at32(f, OffConnectionId) != toId ||
                       at16(f, OffSequence) != a.sequence))
            continue;
        if (!a.unit && at16(f, 0) != eip::SendRRData)
            continue;
        return true;
    }
    return false;
}

void operate(CmdQuorvex &link, FakeLine &line, fuzz::Input &in)
{
    const quint8 kind = in.u8();
    const int count = 1 + in.u16() % 600;
    const quint16 size = in.u16();
    const int which = (kind >> 2) % (sizeof Tags / sizeof *Tags);
    const QString tag = QString::fromLatin1(Tags[which]);
    const QString &area = areas().at(which);
    const int before = line.exchanges;
    int rc = 0;
    if (kind & 1) {
        QByteArray type;
        le::put16(type, cip::TypeDint);
        const QByteArray data(count * 4, char(kind));
        const int maxRequest = size % 2 ? 0 : 24 + size % 600;
        rc = link.Write_area(area, tag, type, count, data, 4, maxRequest);
        if (rc == 0)
            FUZZ_CHECK(asked(line.lastAsked).service == cip::WriteTag ||
                       asked(line.lastAsked).service == cip::WriteTagFragmented);
    } else {
        const int elementSize = 1 << (size % 4);
        const int maxValue = count * elementSize;
        const int minValue = kind & 2 ? maxValue : 0;
        QByteArray out;
        rc = link.Read_area(area, count, &out, tag, maxValue, minValue);
        FUZZ_CHECK(rc == 0 || rc == -1 || rc == -2 || rc == -3);
        if (rc == 0) {
            FUZZ_CHECK(!out.contains(Foreign));
            FUZZ_CHECK(out.size() >= minValue);
            // The first part is bounded by its frame, the rest by the caller.
            FUZZ_CHECK(out.size() <= maxValue + eip::MaxFrameSize);
        } else {
            FUZZ_CHECK(out.isEmpty());
        }
        // Each part brings at least one byte, the parts after the first at
        // most maxValue together; a reopen repeats the read once.
        FUZZ_CHECK(line.exchanges - before <= 2 * (maxValue + 2) + 8);
    }
    if (rc == 0)
        FUZZ_CHECK(backedBySuccess(line.lastAsked, line.lastAskedAnswer,
                                   link.cipConnection().toConnectionId()));
}

} // namespace

// FUZZ_TRACE=1 prints the link's traffic and warning lines, to see why an
// input that fails does.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    if (!qEnvironmentVariableIsSet("FUZZ_TRACE"))
        fuzz::installQuietHandler();
    areas();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    const quint8 mode = in.u8();
    const ConnectedMode modes[] = {ConnectedMode::Large, ConnectedMode::Small, ConnectedMode::Auto,
                                   ConnectedMode::Off};
    const int operations = 1 + (mode >> 2) % MaxOperations;
    QVector<QByteArray> heads;
    for (int i = 0; i < operations; ++i)
        heads.append(in.bytes(5));
    FakeLine line(in);
    CmdQuorvex link;
    LinkOptions options;
    options.connected = modes[mode & 3];
    options.write = true;
    link.setOptions(options);
    link.sessionHandle = Session;
    link.traceEnabled = qEnvironmentVariableIsSet("FUZZ_TRACE");
    link.line().setStandIn([&line](const QByteArray &request) { return line.answer(request); });
    if (link.cipConnection().open() != 0)
        FUZZ_CHECK(!link.cipConnection().isOpen());
    for (const QByteArray &head : heads) {
        fuzz::Input op(reinterpret_cast<const uint8_t *>(head.constData()), size_t(head.size()));
        operate(link, line, op);
    }
    link.line().setStandIn(nullptr); // the Forward Close at the end goes nowhere
    return 0;
}
