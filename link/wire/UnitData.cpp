#include "UnitData.h"

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "EncapFrame.h"

namespace unitdata
{

namespace
{

// Interface handle, time-out, item count, the address item, the data item
// header.
constexpr int CpfSize = 4 + 2 + 2 + 4 + eip::ConnectionIdSize + 4;
// SendUnitData waits for nothing: the connection's own time-out governs.
constexpr quint16 UnitTimeout = 0;

using messaging::Verdict;

} // namespace

QByteArray frame(const QByteArray &session, quint32 otConnectionId, quint16 sequence,
                 const QByteArray &mrRequest)
{
    const int dataLength = eip::SequenceCountSize + mrRequest.size();
    // Written into one buffer of the final size, no append: every
    // connected request builds one.
    QByteArray f(eip::HeaderSize + CpfSize + dataLength, Qt::Uninitialized);
    le::Writer w(f.data(), f.size());
    encap::putHeader(w, eip::SendUnitData, static_cast<quint16>(CpfSize + dataLength), session);
    w.put32(0); // interface handle: CIP
    w.put16(UnitTimeout);
    w.put16(eip::CpfItemCount);
    w.put16(eip::ItemConnectedAddress);
    w.put16(eip::ConnectionIdSize);
    w.put32(otConnectionId);
    w.put16(eip::ItemConnectedData);
    w.put16(static_cast<quint16>(dataLength));
    w.put16(sequence);
    w.putBytes(mrRequest.constData(), mrRequest.size());
    return f;
}

Unwrapped unwrap(const QByteArray &frame, const Expect &expect)
{
    Unwrapped u;
    if (frame.isEmpty())
        return u;
    u.verdict = Verdict::Length;
    le::Reader r(frame);
    const messaging::FrameHead head = messaging::readFrameHead(r, frame, eip::SendUnitData);
    if (head.verdict != Verdict::Ok) {
        u.verdict = head.verdict;
        return u;
    }
    const quint16 items = head.items;
    const quint16 addressType = r.u16();
    const quint16 addressLength = r.u16();
    u.connectionId = r.u32();
    const quint16 dataType = r.u16();
    const quint16 dataLength = r.u16();
    if (!r.ok())
        return u;
    if (items != eip::CpfItemCount || addressType != eip::ItemConnectedAddress ||
        addressLength != eip::ConnectionIdSize || dataType != eip::ItemConnectedData) {
        u.verdict = Verdict::Encapsulation;
        return u;
    }
    if (dataLength != r.remaining() || dataLength < eip::SequenceCountSize)
        return u;
    u.sequence = r.u16();
    const QByteArray mr = r.bytes(r.remaining());
    if (u.connectionId == expect.toConnectionId) {
        u.verdict = u.sequence == expect.sequence ? Verdict::Ok : Verdict::Stale;
    } else {
        const messaging::MrReply m = messaging::parseMrReply(mr);
        const bool notFound = m.verdict == Verdict::Ok &&
                              m.generalStatus == cip::ConnectionFailure && !m.ext.isEmpty() &&
                              m.ext.first() == cip::ExtConnectionNotFound;
        u.verdict =
            u.connectionId == expect.otConnectionId && notFound ? Verdict::Lost : Verdict::Stale;
    }
    if (u.verdict != Verdict::Stale)
        u.mr = mr;
    return u;
}

Address addressOf(const QByteArray &frame)
{
    Address a;
    le::Reader r(frame);
    const quint16 command = r.u16();
    r.skip(eip::OffConnectionId - eip::OffLength);
    a.connectionId = r.u32();
    r.skip(eip::OffSequence - eip::OffConnectionId - eip::ConnectionIdSize);
    a.sequence = r.u16();
    a.ok = r.ok() && command == eip::SendUnitData;
    return a;
}

} // namespace unitdata
