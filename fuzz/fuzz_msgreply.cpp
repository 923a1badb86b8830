// Replies of routed, direct and connected messaging: the unconnected
// envelope and the Message Router reply in it, Forward Open, Large Forward
// Open and Forward Close replies, and SendUnitData replies judged against
// any expected connection ids and sequence count.
//
// Input: mode, then a (u32), b (u32), c (u16), d (u16), then the body.
// The low nibble of the mode picks the parser; 0x80 makes the body a bare
// Message Router reply that the target wraps with the link's own frame
// builder (the parser must then give it back unchanged); without it the
// body is a whole frame, and 0x40 corrects its two length fields so the
// fuzzer spends its time behind them.
//
// Modes 5.. read as mode 0: write replies, the tag list, identity replies
// and the connected read path have targets of their own (fuzz_write,
// fuzz_browse, fuzz_identity, fuzz_connected).

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "ForwardOpen.h"
#include "FuzzSupport.h"
#include "Messaging.h"
#include "UnitData.h"

namespace
{

using messaging::Verdict;

enum Mode : quint8 {
    Unconnected = 0,
    ForwardOpen = 1,
    LargeForwardOpen = 2,
    ForwardClose = 3,
    UnitData = 4,
};

const QByteArray Session = QByteArray::fromHex("04030201");

// Offsets of the reply layouts, counted here from the published layout
// rather than taken from the parsers.
constexpr int OffItemCount = 30;
constexpr int OffAddressType = 32;
constexpr int OffAddressLength = 34;
constexpr int OffRrDataType = 36;
constexpr int OffRrDataLength = 38;
constexpr int OffRrMessage = 40;
constexpr int OffConnectionId = 36;
constexpr int OffUnitDataType = 40;
constexpr int OffUnitDataLength = 42;
constexpr int OffSequence = 44;
constexpr int OffUnitMessage = 46;
// Forward Open success data: ids, the echoed triplet, two RPIs, then the
// application reply size in words and a reserved byte.
constexpr int OpenSuccessSize = 26;
constexpr int TripletSize = 8;

quint32 at16(const QByteArray &f, int offset)
{
    return quint32(le::getPadded(f, offset, 2));
}

quint32 at32(const QByteArray &f, int offset)
{
    return quint32(le::getPadded(f, offset, 4));
}

bool headerSays(const QByteArray &f, quint16 command)
{
    return f.size() >= eip::HeaderSize && at16(f, 0) == command && at32(f, 8) == 0;
}

bool lengthAgrees(const QByteArray &f)
{
    return f.size() >= eip::HeaderSize && at16(f, 2) == quint32(f.size() - eip::HeaderSize);
}

void fixLengths(QByteArray &f, int dataLengthAt, int dataAt)
{
    if (f.size() >= 4)
        le::set16(f, 2, quint16(f.size() - eip::HeaderSize));
    if (f.size() >= dataLengthAt + 2 && f.size() >= dataAt)
        le::set16(f, dataLengthAt, quint16(f.size() - dataAt));
}

// The Message Router reply as the published layout has it.
messaging::MrReply checkMrReply(const QByteArray &mr)
{
    const messaging::MrReply m = messaging::parseMrReply(mr);
    const int words = mr.size() >= 4 ? quint8(mr.at(3)) : 0;
    const bool complete = mr.size() >= 4 + 2 * words;
    FUZZ_CHECK((m.verdict == Verdict::Ok) == complete);
    FUZZ_CHECK(m.verdict == Verdict::Ok || m.verdict == Verdict::Length);
    if (m.verdict != Verdict::Ok) {
        FUZZ_CHECK(m.ext.isEmpty() && m.data.isEmpty());
        FUZZ_CHECK(!messaging::connectionGone(m));
        return m;
    }
    FUZZ_CHECK(m.service == quint8(mr.at(0)) && m.generalStatus == quint8(mr.at(2)));
    FUZZ_CHECK(m.ext.size() == words);
    for (int i = 0; i < words; ++i)
        FUZZ_CHECK(m.ext.at(i) == at16(mr, 4 + 2 * i));
    FUZZ_CHECK(m.data == mr.mid(4 + 2 * words));
    if (messaging::connectionGone(m)) {
        FUZZ_CHECK(m.generalStatus == cip::ConnectionFailure && !m.ext.isEmpty());
        FUZZ_CHECK(m.ext.first() == cip::ExtConnectionNotFound ||
                   m.ext.first() == cip::ExtConnectionTimedOut);
    } else if (m.generalStatus == cip::ConnectionFailure && !m.ext.isEmpty()) {
        FUZZ_CHECK(m.ext.first() != cip::ExtConnectionNotFound &&
                   m.ext.first() != cip::ExtConnectionTimedOut);
    }
    return m;
}

// Ok exactly when both lengths describe the bytes received and the items are
// those of an unconnected reply; the message is then the rest of the frame.
QByteArray checkUnconnected(const QByteArray &f)
{
    const messaging::Unwrapped u = messaging::unwrapUnconnected(f);
    FUZZ_CHECK((u.verdict == Verdict::Empty) == f.isEmpty());
    const bool items = at16(f, OffItemCount) == 2 && at16(f, OffAddressType) == 0 &&
                       at16(f, OffAddressLength) == 0 &&
                       at16(f, OffRrDataType) == eip::ItemUnconnectedData;
    const bool sized = f.size() >= OffRrMessage && lengthAgrees(f) &&
                       at16(f, OffRrDataLength) == quint32(f.size() - OffRrMessage);
    const bool wellFormed = headerSays(f, eip::SendRRData) && items && sized;
    FUZZ_CHECK((u.verdict == Verdict::Ok) == wellFormed);
    if (u.verdict != Verdict::Ok) {
        FUZZ_CHECK(u.mr.isEmpty());
        FUZZ_CHECK(u.verdict == Verdict::Empty || u.verdict == Verdict::Length ||
                   u.verdict == Verdict::Encapsulation);
        if (u.verdict == Verdict::Encapsulation)
            FUZZ_CHECK(!headerSays(f, eip::SendRRData) || !items);
        if (u.verdict == Verdict::Length)
            FUZZ_CHECK(!sized);
        return QByteArray();
    }
    FUZZ_CHECK(u.mr.size() == f.size() - OffRrMessage);
    FUZZ_CHECK(u.mr == f.mid(OffRrMessage));
    return u.mr;
}

void checkUnit(const QByteArray &f, const unitdata::Expect &e)
{
    const unitdata::Unwrapped u = unitdata::unwrap(f, e);
    FUZZ_CHECK((u.verdict == Verdict::Empty) == f.isEmpty());
    const bool items = at16(f, OffItemCount) == 2 &&
                       at16(f, OffAddressType) == eip::ItemConnectedAddress &&
                       at16(f, OffAddressLength) == eip::ConnectionIdSize &&
                       at16(f, OffUnitDataType) == eip::ItemConnectedData;
    const bool sized = f.size() >= OffUnitMessage && lengthAgrees(f) &&
                       at16(f, OffUnitDataLength) == quint32(f.size() - OffSequence);
    const bool wellFormed = headerSays(f, eip::SendUnitData) && items && sized;
    const bool judged =
        u.verdict == Verdict::Ok || u.verdict == Verdict::Stale || u.verdict == Verdict::Lost;
    FUZZ_CHECK(judged == wellFormed);
    if (!wellFormed) {
        FUZZ_CHECK(u.mr.isEmpty());
        FUZZ_CHECK(u.verdict == Verdict::Empty || u.verdict == Verdict::Length ||
                   u.verdict == Verdict::Encapsulation);
        if (u.verdict == Verdict::Length)
            FUZZ_CHECK(!sized);
        return;
    }
    const quint32 id = at32(f, OffConnectionId);
    const quint16 sequence = quint16(at16(f, OffSequence));
    const QByteArray mr = f.mid(OffUnitMessage);
    FUZZ_CHECK(u.connectionId == id && u.sequence == sequence);
    // Ok only for the T->O id and the sequence just sent.
    FUZZ_CHECK((u.verdict == Verdict::Ok) == (id == e.toConnectionId && sequence == e.sequence));
    if (u.verdict == Verdict::Lost) {
        // Only our O->T id, and only with "connection not found".
        FUZZ_CHECK(id == e.otConnectionId && id != e.toConnectionId);
        const messaging::MrReply m = checkMrReply(mr);
        FUZZ_CHECK(m.verdict == Verdict::Ok && m.generalStatus == cip::ConnectionFailure);
        FUZZ_CHECK(!m.ext.isEmpty() && m.ext.first() == cip::ExtConnectionNotFound);
    } else if (u.verdict == Verdict::Stale && id == e.otConnectionId && id != e.toConnectionId) {
        const messaging::MrReply m = checkMrReply(mr);
        FUZZ_CHECK(m.verdict != Verdict::Ok || m.generalStatus != cip::ConnectionFailure ||
                   m.ext.isEmpty() || m.ext.first() != cip::ExtConnectionNotFound);
    }
    if (u.verdict == Verdict::Stale) {
        FUZZ_CHECK(u.mr.isEmpty());
        return;
    }
    FUZZ_CHECK(u.mr == mr);
    FUZZ_CHECK(u.mr.size() <= f.size() - OffUnitMessage);
    checkMrReply(u.mr);
}

int maxConnectionSize(bool large)
{
    return large ? int(cip::NetSizeMask32) : int(cip::NetSizeMask16);
}

// Requests keep two bytes for the sequence count; replies may use it all.
void checkLimits(int connectionSize)
{
    const messaging::MessageLimits l = messaging::connectedLimits(connectionSize);
    FUZZ_CHECK(l.request >= 0 && l.request <= qMax(0, connectionSize - eip::SequenceCountSize));
    FUZZ_CHECK(l.reply >= 0 && l.reply <= connectionSize);
    FUZZ_CHECK(l.value >= 0 && l.value < qMax(1, l.reply));
}

route::Route routeOf(quint8 which)
{
    route::Route r;
    switch (which % 4) {
    case 1:
        return route::backplane(which >> 2);
    case 2:
        return route::directRoute();
    case 3:
        route::parseRoute(QStringLiteral("1,2,2,10.0.0.7,1,0"), &r);
        return r;
    default:
        return r;
    }
}

// The request the reply answers: its size field holds the size asked for.
connmgr::OpenRequest checkOpenRequest(bool large, quint32 toId, quint16 c, quint16 d)
{
    connmgr::OpenRequest r;
    r.large = large;
    r.toConnectionId = toId;
    r.serial = c;
    r.connectionSize = 1 + d % maxConnectionSize(large);
    r.route = routeOf(quint8(d >> 9));
    const QByteArray q = connmgr::forwardOpenRequest(r);
    // Service, path words, Connection Manager path, then 26 bytes to the
    // O->T parameters; T->O follow after them and the T->O RPI.
    const int width = large ? 4 : 2;
    const int otParams = 6 + 26;
    const int toParams = otParams + width + 4;
    const quint64 mask = large ? cip::NetSizeMask32 : cip::NetSizeMask16;
    FUZZ_CHECK(quint8(q.at(0)) == (large ? cip::LargeForwardOpen : cip::ForwardOpen));
    FUZZ_CHECK((le::getPadded(q, otParams, width) & mask) == quint64(r.connectionSize));
    FUZZ_CHECK((le::getPadded(q, toParams, width) & mask) == quint64(r.connectionSize));
    const QByteArray path = connmgr::connectionPath(r.route);
    const int pathAt = toParams + width + 1;
    FUZZ_CHECK(quint8(q.at(pathAt)) * 2 == path.size());
    FUZZ_CHECK(q.mid(pathAt + 1) == path);
    checkLimits(r.connectionSize);
    return r;
}

void checkOpenReply(const QByteArray &mr, const connmgr::OpenRequest &request)
{
    const connmgr::OpenReply o = connmgr::parseForwardOpenReply(mr, request.large);
    const messaging::MrReply m = checkMrReply(mr);
    const quint8 answer =
        (request.large ? cip::LargeForwardOpen : cip::ForwardOpen) | cip::ReplyBit;
    if (m.verdict != Verdict::Ok) {
        FUZZ_CHECK(o.verdict == Verdict::Length);
    } else if (m.service != answer) {
        FUZZ_CHECK(o.verdict == Verdict::Service);
    } else if (m.generalStatus != cip::Success) {
        FUZZ_CHECK(o.verdict == Verdict::Refused);
    } else {
        const bool complete =
            m.data.size() >= OpenSuccessSize + 2 * int(le::getPadded(m.data, 24, 1));
        FUZZ_CHECK(o.verdict == (complete ? Verdict::Ok : Verdict::Length));
    }
    // A refused or broken reply never gives a connection to use.
    if (o.verdict != Verdict::Ok && o.verdict != Verdict::Length)
        FUZZ_CHECK(o.otConnectionId == 0 && o.toConnectionId == 0);
    if (o.verdict == Verdict::Ok) {
        FUZZ_CHECK(o.otConnectionId == at32(m.data, 0) && o.toConnectionId == at32(m.data, 4));
        FUZZ_CHECK(o.serial == at16(m.data, 8) && o.vendor == at16(m.data, 10));
        FUZZ_CHECK(o.originatorSerial == at32(m.data, 12));
        FUZZ_CHECK(o.otRpiUs == at32(m.data, 16) && o.toRpiUs == at32(m.data, 20));
    }
    if (o.verdict == Verdict::Refused && m.data.size() >= TripletSize)
        FUZZ_CHECK(o.serial == at16(m.data, 0) && o.originatorSerial == at32(m.data, 4));
    // A size to retry with fits the request it would go in.
    FUZZ_CHECK(o.acceptedSize >= 0 && o.acceptedSize <= maxConnectionSize(request.large));
    if (o.acceptedSize != 0) {
        FUZZ_CHECK(o.verdict == Verdict::Refused && o.generalStatus == cip::ConnectionFailure);
        FUZZ_CHECK(o.ext.size() >= 2 && o.ext.first() == cip::ExtInvalidConnectionSize);
        checkLimits(o.acceptedSize);
    }
    if (o.verdict == Verdict::Refused && m.generalStatus == cip::ConnectionFailure &&
        m.ext.size() >= 2 && m.ext.first() == cip::ExtInvalidConnectionSize &&
        m.ext.at(1) <= maxConnectionSize(request.large))
        FUZZ_CHECK(o.acceptedSize == m.ext.at(1));
}

void checkCloseReply(const QByteArray &mr)
{
    const connmgr::CloseReply c = connmgr::parseForwardCloseReply(mr);
    const messaging::MrReply m = checkMrReply(mr);
    const bool echo = m.data.size() >= TripletSize;
    if (m.verdict != Verdict::Ok)
        FUZZ_CHECK(c.verdict == Verdict::Length);
    else if (m.service != (cip::ForwardClose | cip::ReplyBit))
        FUZZ_CHECK(c.verdict == Verdict::Service);
    else if (m.generalStatus != cip::Success)
        FUZZ_CHECK(c.verdict == Verdict::Refused);
    else
        FUZZ_CHECK(c.verdict == (echo ? Verdict::Ok : Verdict::Length));
    if ((c.verdict == Verdict::Ok || c.verdict == Verdict::Refused) && echo) {
        FUZZ_CHECK(c.serial == at16(m.data, 0) && c.vendor == at16(m.data, 2));
        FUZZ_CHECK(c.originatorSerial == at32(m.data, 4));
    }
}

void checkMessage(quint8 mode, const QByteArray &mr, quint32 a, quint16 c, quint16 d)
{
    switch (mode) {
    case ForwardOpen:
    case LargeForwardOpen:
        checkOpenReply(mr, checkOpenRequest(mode == LargeForwardOpen, a, c, d));
        break;
    case ForwardClose:
        checkCloseReply(mr);
        break;
    default:
        checkMrReply(mr);
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::installQuietHandler();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    const quint8 flags = in.u8();
    const quint8 mode = (flags & 0x0F) <= UnitData ? (flags & 0x0F) : Unconnected;
    const bool wrap = flags & 0x80;
    const quint32 a = quint32(in.i32());
    const quint32 b = quint32(in.i32());
    const quint16 c = in.u16();
    const quint16 d = in.u16();
    QByteArray body = in.rest();
    // What one frame's 16-bit length can carry, wrapped.
    if (wrap)
        body.truncate(0xFFFF - (OffUnitMessage - eip::HeaderSize));

    if (mode == UnitData) {
        const unitdata::Expect e{a, b, c};
        if (wrap) {
            // The reply on the id the low bits pick, with the sequence count
            // off by the high bits: Ok only for the T->O id and offset 0.
            const quint32 ids[] = {b, a, a ^ b ^ 0x5A5A5A5A, quint32(d) << 16};
            const quint32 id = ids[d & 3];
            const quint16 sequence = quint16(c + (d >> 2));
            const QByteArray f = unitdata::frame(Session, id, sequence, body);
            const unitdata::Unwrapped u = unitdata::unwrap(f, e);
            FUZZ_CHECK(u.connectionId == id && u.sequence == sequence);
            if (id == b && sequence == c)
                FUZZ_CHECK(u.verdict == Verdict::Ok && u.mr == body);
            checkUnit(f, e);
        } else {
            if (flags & 0x40)
                fixLengths(body, OffUnitDataLength, OffSequence);
            checkUnit(body, e);
        }
        return 0;
    }

    QByteArray mr;
    if (wrap) {
        const QByteArray f = messaging::sendRRData(Session, body);
        mr = checkUnconnected(f);
        FUZZ_CHECK(mr == body);
    } else {
        if (flags & 0x40)
            fixLengths(body, OffRrDataLength, OffRrMessage);
        mr = checkUnconnected(body);
        if (mr.isEmpty())
            return 0;
    }
    checkMessage(mode, mr, a, c, d);
    return 0;
}
