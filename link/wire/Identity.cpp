#include "Identity.h"

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "EncapFrame.h"
#include "Messaging.h"

namespace identity
{

namespace
{

bool readIdentity(le::Reader &r, DeviceIdentity *d)
{
    d->vendor = r.u16();
    d->deviceType = r.u16();
    d->productCode = r.u16();
    d->revisionMajor = r.u8();
    d->revisionMinor = r.u8();
    d->status = r.u16();
    d->serialNumber = r.u32();
    const int nameSize = r.u8();
    d->productName = r.bytes(nameSize);
    return r.ok();
}

} // namespace

QByteArray listIdentityRequest(const QByteArray &session)
{
    QByteArray f;
    f.reserve(eip::HeaderSize);
    le::put16(f, eip::ListIdentity);
    le::put16(f, 0);
    f.append(session.isEmpty() ? QByteArray(eip::SessionHandleSize, '\0')
                               : encap::sessionBytes(session));
    le::put32(f, eip::StatusSuccess);
    f.append(eip::ContextSize, '\0');
    le::put32(f, 0); // options
    return f;
}

Verdict parseListIdentity(const QByteArray &frame, ListedIdentity *out)
{
    if (frame.isEmpty())
        return Verdict::Empty;
    le::Reader r(frame);
    const quint16 command = r.u16();
    const quint16 length = r.u16();
    r.skip(eip::SessionHandleSize);
    const quint32 status = r.u32();
    r.skip(eip::ContextSize + 4);
    if (!r.ok())
        return Verdict::Length;
    if (command != eip::ListIdentity || status != eip::StatusSuccess)
        return Verdict::Encapsulation;
    if (length != frame.size() - eip::HeaderSize)
        return Verdict::Length;
    const quint16 items = r.u16();
    const quint16 itemType = r.u16();
    const quint16 itemLength = r.u16();
    if (!r.ok())
        return Verdict::Length;
    if (items == 0 || itemType != eip::ItemCipIdentity)
        return Verdict::Encapsulation;
    if (itemLength > r.remaining())
        return Verdict::Length;
    // The item is read on its own, so no field can come from past its end.
    const QByteArray item = r.bytes(itemLength);
    le::Reader ir(item);
    ListedIdentity l;
    l.encapVersion = ir.u16();
    l.sinFamily = ir.be16();
    l.sinPort = ir.be16();
    l.sinAddress = ir.be32();
    ir.skip(eip::SocketAddressPadding);
    if (!readIdentity(ir, &l.device))
        return Verdict::Length;
    l.state = ir.u8();
    if (!ir.ok() || ir.remaining() != 0)
        return Verdict::Length;
    *out = l;
    return Verdict::Ok;
}

QByteArray identityRequest()
{
    QByteArray path;
    le::put8(path, cip::SegClass8);
    le::put8(path, cip::IdentityClass);
    le::put8(path, cip::SegInstance8);
    le::put8(path, cip::IdentityInstance);
    return messaging::mrRequest(cip::GetAttributesAll, path, QByteArray());
}

Verdict parseIdentityReply(const QByteArray &mrReply, DeviceIdentity *out)
{
    if (mrReply.isEmpty())
        return Verdict::Empty;
    const messaging::MrReply m = messaging::parseMrReply(mrReply);
    if (m.verdict != messaging::Verdict::Ok)
        return Verdict::Length;
    if (m.service != (cip::GetAttributesAll | cip::ReplyBit))
        return Verdict::Encapsulation;
    if (m.generalStatus != cip::Success)
        return Verdict::Refused;
    le::Reader r(m.data);
    DeviceIdentity d;
    if (!readIdentity(r, &d))
        return Verdict::Length;
    *out = d;
    return Verdict::Ok;
}

} // namespace identity
