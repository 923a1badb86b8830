#ifndef QUORVEX_UNITDATA_H
#define QUORVEX_UNITDATA_H

#include <QByteArray>
#include <QtGlobal>

#include "Messaging.h"

// Requests over an open class 3 connection: SendUnitData frames, and the
// checking that a reply belongs to this connection and to this request.
namespace unitdata
{

QByteArray frame(const QByteArray &session, quint32 otConnectionId, quint16 sequence,
                 const QByteArray &mrRequest);

struct Expect {
    quint32 otConnectionId = 0; // the id our requests carry
    quint32 toConnectionId = 0; // the id the target's replies carry
    quint16 sequence = 0;       // of the request just sent
};

struct Unwrapped {
    // Ok, Empty, Length, Encapsulation, Stale, Lost
    messaging::Verdict verdict = messaging::Verdict::Empty;
    quint32 connectionId = 0;
    quint16 sequence = 0;
    QByteArray mr; // the Message Router reply, when Ok or Lost
};

// Lost: the target answered on our O->T id with 0x01 / 0x0107, as for a
// connection it does not know.
Unwrapped unwrap(const QByteArray &frame, const Expect &expect);

// Whether `reply`, a whole frame, is a reply on the connection whose
// replies carry `toConnectionId` to another request than `request`: owed to
// a request that timed out, or a duplicate. Such a reply is dropped unread.
bool answersAnother(const QByteArray &request, const QByteArray &reply, quint32 toConnectionId);

// Whether `reply` is the reply on that connection to `request` itself.
bool answersRequest(const QByteArray &request, const QByteArray &reply, quint32 toConnectionId);

// The sequence count a SendUnitData frame carries, 0 when it holds none.
quint16 sequenceOf(const QByteArray &frame);

} // namespace unitdata

#endif
