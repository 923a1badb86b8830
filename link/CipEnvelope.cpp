#include "CipEnvelope.h"

#include "ByteOrder.h"
#include "EipProtocol.h"

namespace cipenvelope
{

namespace
{

// Header and Common Packet Format fields the reply check steps over.
constexpr int OptionsSize = 4;
constexpr int InterfaceHandleSize = 4;
constexpr int CpfTimeoutSize = 2;

} // namespace

QByteArray unconnectedFrame(const QByteArray &session, const QByteArray &mrRequest)
{
    QByteArray cipMsg;
    cipMsg.reserve(mrRequest.size() + UnconnectedSendOverhead);
    le::put8(cipMsg, cip::UnconnectedSend);
    le::put8(cipMsg, tagread::UcsPathWords);
    le::put8(cipMsg, cip::SegClass8);
    le::put8(cipMsg, cip::ConnectionManagerClass);
    le::put8(cipMsg, cip::SegInstance8);
    le::put8(cipMsg, cip::ConnectionManagerInstance);
    le::put8(cipMsg, tagread::PriorityTick);
    le::put8(cipMsg, tagread::TimeoutTicks);
    le::put16(cipMsg, static_cast<quint16>(mrRequest.size()));
    cipMsg.append(mrRequest);
    if (mrRequest.size() % 2)
        le::put8(cipMsg, 0);
    le::put8(cipMsg, tagread::RouteWords);
    le::put8(cipMsg, 0);
    le::put8(cipMsg, cip::SegPort1);
    le::put8(cipMsg, tagread::RouteSlot);

    QByteArray frame;
    frame.reserve(eip::OffCipMessage + cipMsg.size());
    le::put16(frame, eip::SendRRData);
    le::put16(frame, static_cast<quint16>(eip::OffCipMessage - eip::HeaderSize + cipMsg.size()));
    frame.append(tagread::sessionBytes(session));
    le::put32(frame, eip::StatusSuccess);
    frame.append(eip::ContextSize, '\0');
    le::put32(frame, 0); // options
    le::put32(frame, 0); // interface handle: CIP
    le::put16(frame, tagread::CpfTimeout);
    le::put16(frame, tagread::CpfItemCount);
    le::put16(frame, eip::ItemNullAddress);
    le::put16(frame, 0);
    le::put16(frame, eip::ItemUnconnectedData);
    le::put16(frame, static_cast<quint16>(cipMsg.size()));
    frame.append(cipMsg);
    return frame;
}

Reply takeReply(const QByteArray &frame)
{
    Reply r;
    if (frame.isEmpty())
        return r;
    r.verdict = Verdict::Length;
    le::Reader in(frame);
    r.command = in.u16();
    const quint16 length = in.u16();
    in.skip(eip::SessionHandleSize);
    r.encapStatus = in.u32();
    in.skip(eip::ContextSize + OptionsSize);
    if (!in.ok())
        return r;
    if (r.command != eip::SendRRData || r.encapStatus != eip::StatusSuccess) {
        r.verdict = Verdict::Encapsulation;
        return r;
    }
    in.skip(InterfaceHandleSize + CpfTimeoutSize);
    const quint16 items = in.u16();
    const quint16 addressType = in.u16();
    const quint16 addressLength = in.u16();
    in.skip(addressLength);
    const quint16 dataType = in.u16();
    const quint16 dataLength = in.u16();
    // The lengths must describe exactly the bytes that came, or a cut reply
    // would be judged by whatever follows it.
    if (!in.ok() || length != frame.size() - eip::HeaderSize || items != tagread::CpfItemCount ||
        addressType != eip::ItemNullAddress || dataType != eip::ItemUnconnectedData ||
        dataLength != in.remaining())
        return r;
    r.mrReply = in.bytes(dataLength);
    r.verdict = Verdict::Accepted;
    return r;
}

} // namespace cipenvelope
