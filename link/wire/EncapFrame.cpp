#include "EncapFrame.h"

#include "ByteOrder.h"
#include "EipProtocol.h"

namespace encap
{

QByteArray sessionBytes(const QByteArray &stored)
{
    // Before any registration was answered there is no handle to copy; the
    // controller then refuses the session rather than us reading past the end.
    if (stored.size() < eip::SessionHandleSize)
        return QByteArray(eip::SessionHandleSize, '\0');
    return stored.left(eip::SessionHandleSize);
}

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

quint64 contextOf(const QByteArray &frame)
{
    // Asked several times of every request and reply: read as one field
    // when the frame holds it whole.
    if (frame.size() >= eip::OffContext + eip::ContextSize)
        return le::getUnchecked<quint64>(frame.constData() + eip::OffContext);
    return le::getPadded(frame, eip::OffContext, eip::ContextSize);
}

void setContext(QByteArray &frame, quint64 context)
{
    if (frame.size() < eip::HeaderSize)
        return;
    le::Writer w(frame.data() + eip::OffContext, eip::ContextSize);
    w.put32(static_cast<quint32>(context & 0xFFFFFFFFu));
    w.put32(static_cast<quint32>(context >> 32));
}

void putHeader(le::Writer &w, quint16 command, quint16 length, const QByteArray &session)
{
    w.put16(command);
    w.put16(length);
    if (session.size() >= eip::SessionHandleSize)
        w.putBytes(session.constData(), eip::SessionHandleSize);
    else
        w.putZeros(eip::SessionHandleSize);
    w.put32(eip::StatusSuccess);
    w.putZeros(eip::ContextSize);
    w.put32(0); // options
}

} // namespace encap
