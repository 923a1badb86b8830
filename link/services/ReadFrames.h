#ifndef QUORVEX_READFRAMES_H
#define QUORVEX_READFRAMES_H

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>
#include <functional>

#include "EipProtocol.h"
#include "EncapFrame.h"
#include "Messaging.h"
#include "RoutePath.h"

// Tag read frames as plain functions over byte arrays: the request builder,
// the reply judge and the fragment loop, so that all of it can be exercised
// with canned replies and without a transport.
namespace tagread
{

// SendRRData / Unconnected Send framing of a tag read.
using eip::CpfItemCount;
using eip::CpfTimeout;
using eip::PriorityTick;
using eip::TimeoutTicks;
constexpr quint8 UcsPathWords = 2;
constexpr quint8 RouteWords = 1;
constexpr quint8 RouteSlot = 0;

using eip::MaxUnconnectedMessage;
// Unconnected Send bytes around the embedded request path: service, path
// size, class/instance path, tick, ticks, embedded size, embedded service,
// embedded path size, element count, fragment offset, route path.
constexpr int UcsOverhead = 2 + 4 + 2 + 2 + 2 + 2 + 4 + 4;
// The longest request path (0x91, first-name length, area bytes) that keeps
// even a fragmented request within one unconnected message.
constexpr int MaxRequestPathBytes = MaxUnconnectedMessage - UcsOverhead;
// The same bound for an area string, which lacks the first two path bytes.
constexpr int MaxAreaBytes = MaxRequestPathBytes - 2;

// Reply layout: service, reserved, general status, additional status size
// follow the 40 bytes of encapsulation header and packet items.
constexpr int OffItemLength = 38;
constexpr int OffReplyService = 40;
constexpr int OffGeneralStatus = 42;
constexpr int OffExtSize = 43;
constexpr int OffExtStatus = 44;
constexpr int OffEmbeddedService = 50;

using encap::sessionBytes;

// Length of the first symbol: the tag text before its first "." or "[",
// never longer than the area string.
int firstNameLength(const QString &tag, const QString &area);

// 0x91, the first-name length, then each area character as one byte
// (characters above U+00FF go as 0x00).
QByteArray requestPath(const QString &area, int firstNameLen);

// The Message Router request: Read Tag, or, when `fragmented`, Read Tag
// Fragmented at `offset`, for `count` elements.
QByteArray readRequest(const QByteArray &pathBytes, quint16 count, bool fragmented, quint32 offset);

// One SendRRData frame with that request, routed through port 1 to slot 0.
QByteArray buildReadFrame(const QByteArray &session4, const QByteArray &pathBytes, quint16 count,
                          bool fragmented, quint32 offset);

// Ok: general status 0, the value bytes are complete; Partial: 0x06, more
// follows; Empty, Length, Encapsulation, Service; Refused: the controller
// reported an error.
using Verdict = messaging::Verdict;

struct ReadReply {
    Verdict verdict = Verdict::Empty;
    quint16 command = 0;
    quint32 encapStatus = 0;
    quint8 service = 0;
    quint8 generalStatus = 0;
    QVector<quint16> extStatus;
    quint16 dataType = 0;
    bool hasHandle = false;
    quint16 handle = 0;
    QByteArray value; // after the type code and, for structures, the handle
};

// A reply frame to an unconnected read.
ReadReply judgeReadReply(const QByteArray &reply, quint8 requestService);
// What an envelope took out of a reply frame, judged as a read reply; the
// value is taken from its Message Router reply.
ReadReply judgeUnwrapped(messaging::Unwrapped unwrapped, quint8 requestService);

// How requests travel: the frame around a Message Router request, and the
// Message Router reply taken out of a reply frame.
struct Envelope {
    std::function<QByteArray(const QByteArray &mrRequest)> wrap;
    std::function<messaging::Unwrapped(const QByteArray &frame)> unwrap;
    // The same for the reply to `request` when several are in flight; unset:
    // unwrap, which expects the reply to the request wrapped last.
    std::function<messaging::Unwrapped(const QByteArray &request, const QByteArray &frame)>
        unwrapFor;
};

// SendRRData, through `route` (or to the controller itself when direct).
Envelope unconnectedEnvelope(const QByteArray &session, const route::Route &route);

// The exchange of one request: 0 when reply bytes came (appended to reply).
using Exchange = std::function<int(const QByteArray &request, QByteArray &reply)>;

enum class Failure {
    None,
    NoReply,     // the exchange brought no byte
    Rejected,    // the reply failed judgeReadReply; see `judged`
    EmptyPart,   // a partial reply that carries no value bytes
    PartChanged, // a later part announces another data type or structure
    TooLarge,    // the value bytes would exceed the caller's bound
    TooShort     // fewer value bytes than the elements asked for need
};

struct ReadOutcome {
    int rc = 0; // 0 done, -1 rejected, -2 no reply
    Failure failure = Failure::None;
    ReadReply judged;   // the last reply judged
    QByteArray reply;   // the last reply as received
    quint32 offset = 0; // byte offset of the last request
    int parts = 0;
};

// Reads `count` elements at `pathBytes`, following partial transfers until
// the controller reports the data complete. On success `out` gains the
// first part's structure handle (if any) and all value bytes, as a single
// reply would carry them; on failure `out` is untouched. `maxValueBytes`
// bounds the fragments followed (a single reply is taken whole, as it
// comes); fewer than `minValueBytes` value bytes in all is a failure.
ReadOutcome readTag(const Envelope &envelope, const QByteArray &pathBytes, quint16 count,
                    int maxValueBytes, const Exchange &exchange, QByteArray *out,
                    int minValueBytes = 0);
// The same, unconnected through port 1 to slot 0.
ReadOutcome readTag(const QByteArray &session, const QByteArray &pathBytes, quint16 count,
                    int maxValueBytes, const Exchange &exchange, QByteArray *out,
                    int minValueBytes = 0);

} // namespace tagread

#endif
