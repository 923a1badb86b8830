#include "PeerStep.h"

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

QByteArray PeerStep::wireBytes() const
{
    QByteArray out = bytes;
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
