#include "FrameSync.h"

#include "ByteOrder.h"
#include "EipProtocol.h"

namespace framesync
{

namespace
{

bool knownCommand(quint16 command)
{
    switch (command) {
    case eip::ListServices:
    case eip::ListIdentity:
    case eip::ListInterfaces:
    case eip::RegisterSession:
    case eip::UnRegisterSession:
    case eip::SendRRData:
    case eip::SendUnitData:
        return true;
    default:
        return false;
    }
}

// A frame cut to its first byte can only be judged on that byte.
bool knownCommandLowByte(quint8 low)
{
    for (const quint16 c :
         {eip::ListServices, eip::ListIdentity, eip::ListInterfaces, eip::RegisterSession,
          eip::UnRegisterSession, eip::SendRRData, eip::SendUnitData}) {
        if ((c & 0xFF) == low)
            return true;
    }
    return false;
}

} // namespace

bool plausibleStart(const QByteArray &buf, int at, const QByteArray &session4)
{
    const int have = buf.size() - at;
    if (at < 0 || have <= 0)
        return false;
    if (have < 2)
        return knownCommandLowByte(static_cast<quint8>(buf.at(at)));
    const quint16 command = static_cast<quint16>(le::getPadded(buf, at + eip::OffCommand, 2));
    if (!knownCommand(command))
        return false;
    if (have < eip::OffLength + 2)
        return true;
    if (le::getPadded(buf, at + eip::OffLength, 2) > quint64(MaxReplyDataLength))
        return false;
    if (command == eip::RegisterSession)
        return true;
    // As far as the handle has arrived, it must match ours or be zero.
    const int handleBytes = qMin(have - eip::OffSession, eip::SessionHandleSize);
    bool ours = true;
    bool zero = true;
    for (int i = 0; i < handleBytes; ++i) {
        const char b = buf.at(at + eip::OffSession + i);
        ours = ours && i < session4.size() && b == session4.at(i);
        zero = zero && b == '\0';
    }
    return ours || zero;
}

int junkPrefix(const QByteArray &buf, const QByteArray &session4)
{
    for (int at = 0; at < buf.size(); ++at) {
        if (plausibleStart(buf, at, session4))
            return at;
    }
    return buf.size();
}

} // namespace framesync
