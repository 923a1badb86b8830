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

// What tells the requests on a connection and their replies apart: the
// connection id of the address item (ours in a request, the target's in a
// reply) and the sequence count, as far as a SendUnitData frame holds them.
struct Address {
    bool ok = false; // a SendUnitData frame long enough to hold both
    quint32 connectionId = 0;
    quint16 sequence = 0;
};

Address addressOf(const QByteArray &frame);

} // namespace unitdata

#endif
