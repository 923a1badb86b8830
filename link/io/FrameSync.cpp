#include "FrameSync.h"

#include "ByteOrder.h"
#include "EipProtocol.h"

#include <cstring>

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

// Asked of every frame that comes: each field is read as a whole once the
// bytes it needs are known to be there.
bool plausibleStart(const QByteArray &buf, int at, const QByteArray &session4)
{
    const int have = buf.size() - at;
    if (at < 0 || have <= 0)
        return false;
    const char *p = buf.constData() + at;
    if (have < 2)
        return knownCommandLowByte(static_cast<quint8>(p[0]));
    const quint16 command = le::getUnchecked<quint16>(p + eip::OffCommand);
    if (!knownCommand(command))
        return false;
    if (have < eip::OffLength + 2)
        return true;
    if (le::getUnchecked<quint16>(p + eip::OffLength) > MaxReplyDataLength)
        return false;
    if (command == eip::RegisterSession)
        return true;
    // As far as the handle has arrived, it must match ours or be zero.
    const int handleBytes = qMin(have - eip::OffSession, eip::SessionHandleSize);
    static const char zeros[eip::SessionHandleSize] = {};
    const char *handle = p + eip::OffSession;
    const bool ours = handleBytes <= session4.size() &&
                      std::memcmp(handle, session4.constData(), handleBytes) == 0;
    return ours || std::memcmp(handle, zeros, handleBytes) == 0;
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
