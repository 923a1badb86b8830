#ifndef QUORVEX_MESSAGING_H
#define QUORVEX_MESSAGING_H

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

#include "ByteOrder.h"
#include "RoutePath.h"

// Message Router requests and replies, and the unconnected envelope that
// carries them: plain functions over byte arrays, no transport.
namespace messaging
{

// What a reply is found to be, by whichever parser judged it: the frame,
// the Message Router reply, a read, a write or an identity reply.
enum class Verdict {
    Ok,
    Partial,       // a read's general status 0x06: more follows at a larger offset
    Empty,         // no byte came
    Length,        // shorter or longer than its lengths say
    Encapsulation, // another command, an encapsulation status, other items
    Service,       // the reply service does not answer the request
    Refused,       // a well-formed reply with an error status
    Stale,         // another connection id or sequence count: drop it
    Lost           // the target no longer knows the connection
};

// Service, path size in words, path, data.
QByteArray mrRequest(quint8 service, const QByteArray &path, const QByteArray &data);

// `20 06 24 01` and `20 02 24 01`.
QByteArray connectionManagerPath();
QByteArray messageRouterPath();

// A SendRRData frame whose unconnected data item is `cipMessage`.
QByteArray sendRRData(const QByteArray &session, const QByteArray &cipMessage);

// A Message Router request to the controller at the end of `route`: inside
// an Unconnected Send to the Connection Manager, or as it is when direct.
QByteArray unconnectedFrame(const QByteArray &session, const route::Route &route,
                            const QByteArray &mrRequest);
// The same with the route's encoded bytes at hand (route.bytes()), as a
// link keeps them for its requests.
QByteArray unconnectedFrame(const QByteArray &session, bool direct, const QByteArray &routeBytes,
                            const QByteArray &mrRequest);

struct Unwrapped {
    Verdict verdict = Verdict::Empty;
    quint16 command = 0;
    quint32 encapStatus = 0;
    QByteArray mr; // the Message Router reply, when Ok
};

struct FrameHead {
    Verdict verdict = Verdict::Length; // Ok, Length or Encapsulation
    quint16 command = 0;
    quint32 encapStatus = 0;
    quint16 items = 0; // the packet's item count
};

// Reads a reply's encapsulation header and the packet header after it
// from `r` (at the frame's start): Ok when it is `command` with status 0 and
// a length that matches the frame's size.
FrameHead readFrameHead(le::Reader &r, const QByteArray &frame, quint16 command);

// A SendRRData reply with status 0 whose encapsulation length and data item
// length describe exactly the bytes received.
Unwrapped unwrapUnconnected(const QByteArray &frame);

struct MrReply {
    Verdict verdict = Verdict::Length; // Ok, or Length
    quint8 service = 0;
    quint8 generalStatus = 0;
    QVector<quint16> ext;
    QByteArray data;
};

MrReply parseMrReply(const QByteArray &mr);
// The reply's head (service, general and extended status) from `r`, which
// is left at the reply's data; false when the head runs past the end.
bool readMrHeader(le::Reader &r, MrReply *m);

// The target has forgotten the connection or let it time out: reopen.
bool connectionGone(const MrReply &reply);

struct MessageLimits {
    int request = 0; // largest Message Router request
    int reply = 0;   // largest Message Router reply accepted
    int value = 0;   // value bytes one reply carries, after type code and handle
};

// Unconnected: one message of at most 504 bytes, less the Unconnected Send
// around a routed request.
MessageLimits unconnectedLimits(const route::Route &route);
MessageLimits unconnectedLimits(bool direct, int routeBytes);
// Connected: the connection size, less the sequence count for requests.
MessageLimits connectedLimits(int connectionSize);

} // namespace messaging

#endif
