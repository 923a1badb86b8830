#ifndef QUORVEX_CIPENVELOPE_H
#define QUORVEX_CIPENVELOPE_H

#include <QByteArray>
#include <QtGlobal>

#include "ReadFrames.h"

// The envelope that carries one Message Router request to the controller
// and brings its reply back: a SendRRData frame holding an Unconnected Send
// routed through backplane port 1 to slot 0, laid out as the reads lay
// theirs out. Plain functions over byte arrays.
namespace cipenvelope
{

// Unconnected Send bytes around the embedded request: service, path size,
// Connection Manager path, tick, ticks, embedded size, a pad byte for an
// odd size, route path size, reserved, route path.
constexpr int UnconnectedSendOverhead = 1 + 1 + 4 + 1 + 1 + 2 + 1 + 1 + 1 + 2;
// The largest Message Router request that keeps the whole unconnected CIP
// message within the size the reads assume.
constexpr int MaxUnconnectedRequest = tagread::MaxUnconnectedMessage - UnconnectedSendOverhead;

QByteArray unconnectedFrame(const QByteArray &session, const QByteArray &mrRequest);

enum class Verdict {
    Accepted,
    Empty,        // no byte came
    Length,       // lengths that do not describe the bytes that came
    Encapsulation // not a SendRRData reply, or an encapsulation status
};

struct Reply {
    Verdict verdict = Verdict::Empty;
    quint16 command = 0;
    quint32 encapStatus = 0;
    QByteArray mrReply; // the unconnected data item, when accepted
};

Reply takeReply(const QByteArray &frame);

} // namespace cipenvelope

#endif
