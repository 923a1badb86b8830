#include "EncapFrame.h"

#include "ByteOrder.h"
#include "EipProtocol.h"

namespace encap
{

QByteArray registerSessionRequest()
{
    QByteArray f;
    f.reserve(eip::RegisterSessionFrameSize);
    le::put16(f, eip::RegisterSession);
    le::put16(f, eip::RegisterSessionDataSize);
    le::put32(f, 0); // no session yet
    le::put32(f, eip::StatusSuccess);
    le::put8(f, eip::RegisterSessionContext);
    f.append(eip::ContextSize - 1, '\0');
    le::put32(f, 0); // options
    le::put16(f, eip::ProtocolVersion);
    le::put16(f, 0); // option flags
    return f;
}

RegisterReply judgeRegisterReply(const QByteArray &reply)
{
    RegisterReply r;
    r.command = static_cast<quint16>(le::getPadded(reply, eip::OffCommand, 2));
    r.status = static_cast<quint32>(le::getPadded(reply, eip::OffStatus, 4));
    const quint16 length = static_cast<quint16>(le::getPadded(reply, eip::OffLength, 2));
    r.ok = reply.size() >= eip::RegisterSessionFrameSize && r.command == eip::RegisterSession &&
           r.status == eip::StatusSuccess && length >= eip::RegisterSessionDataSize;
    if (r.ok)
        r.handle = reply.mid(eip::OffSession, eip::SessionHandleSize);
    return r;
}

} // namespace encap
