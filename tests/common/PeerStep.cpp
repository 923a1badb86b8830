#include "PeerStep.h"

#include "ByteOrder.h"
#include "EipProtocol.h"

PeerStep PeerStep::reply(const QByteArray &b, int delayMs)
{
    PeerStep s;
    s.bytes = b;
    s.delayMs = delayMs;
    return s;
}

PeerStep PeerStep::split(const QByteArray &b, int at, int gapMs, int delayMs)
{
    PeerStep s = reply(b, delayMs);
    s.splitAt = at;
    s.splitGapMs = gapMs;
    return s;
}

PeerStep PeerStep::duplicated(const QByteArray &b, int delayMs, int gapMs)
{
    PeerStep s = reply(b, delayMs);
    s.duplicate = true;
    s.duplicateGapMs = gapMs;
    return s;
}

PeerStep PeerStep::cut(const QByteArray &b, int at, int delayMs)
{
    PeerStep s = reply(b, delayMs);
    s.cutAt = at;
    return s;
}

PeerStep PeerStep::garbled(const QByteArray &b, int delayMs)
{
    PeerStep s = reply(b, delayMs);
    s.garble = true;
    return s;
}

PeerStep PeerStep::paced(const QByteArray &b, int byteGapUs, int delayMs)
{
    PeerStep s = reply(b, delayMs);
    s.byteGapUs = byteGapUs;
    return s;
}

PeerStep PeerStep::silent()
{
    PeerStep s;
    s.kind = Silent;
    return s;
}

PeerStep PeerStep::close(int delayMs)
{
    PeerStep s;
    s.kind = Close;
    s.delayMs = delayMs;
    return s;
}

// Every whole frame in the bytes gets the context; bytes before, between or
// after them (a cut frame's tail) stay as they are.
QByteArray PeerStep::echoed(const QByteArray &bytes, const QByteArray &request)
{
    QByteArray out = bytes;
    if (request.size() < eip::OffContext + eip::ContextSize)
        return out;
    const QByteArray context = request.mid(eip::OffContext, eip::ContextSize);
    for (int at = 0; at + eip::OffContext + eip::ContextSize <= out.size();) {
        const quint16 command = quint16(le::getPadded(out, at, 2));
        const bool known = command == eip::RegisterSession || command == eip::SendRRData ||
                           command == eip::SendUnitData || command == eip::ListIdentity;
        if (!known) {
            ++at;
            continue;
        }
        out.replace(at + eip::OffContext, eip::ContextSize, context);
        const int size = eip::completeFrameSize(out.mid(at));
        if (size == 0)
            break; // cut short: the rest of the bytes is this frame's
        at += size;
    }
    return out;
}

QByteArray PeerStep::wireBytes(const QByteArray &request) const
{
    QByteArray out = echoContext ? echoed(bytes, request) : bytes;
    if (garble) {
        for (int i = 4; i < out.size(); ++i)
            out[i] = static_cast<char>(~static_cast<unsigned char>(out.at(i)));
    }
    return out;
}

int peerFrameSize(const QByteArray &buf)
{
    return eip::completeFrameSize(buf);
}
