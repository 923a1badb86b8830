#ifndef QUORVEX_FORWARDOPEN_H
#define QUORVEX_FORWARDOPEN_H

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

#include "EipProtocol.h"
#include "Messaging.h"
#include "RoutePath.h"

// Opening and closing a class 3 connection to the controller's Message
// Router: Forward Open, Large Forward Open and Forward Close requests, sent
// as bare requests to the Connection Manager in SendRRData, and their
// replies.
namespace connmgr
{

// Who we are to the target; the vendor id is none of a real vendor's.
constexpr quint16 OriginatorVendor = 0xFFFE;
constexpr quint32 OriginatorSerial = 0x51560001;
// An HMI may poll every few seconds; the connection should survive that
// and a short pause: 2 s x (4 << 2) = 32 s without traffic.
constexpr quint32 RequestedRpiUs = 2000000;
constexpr quint8 TimeoutMultiplier = 2;
constexpr quint64 IdleLimitUs =
    quint64(RequestedRpiUs) * (cip::TimeoutMultiplierBase << TimeoutMultiplier);
static_assert(IdleLimitUs >= 30000000, "an idle HMI must not lose its connection");
// The largest sizes each request can ask for.
constexpr int SmallConnectionSize = 500;
constexpr int LargeConnectionSize = 4002;

struct OpenRequest {
    bool large = false;
    quint32 toConnectionId = 0; // T->O id, chosen by us
    quint16 serial = 0;         // connection serial, new for each attempt
    // Bytes: 1..511 for Forward Open, 1..65535 for Large Forward Open
    // (the network parameters have no room for more).
    int connectionSize = SmallConnectionSize;
    route::Route route;
};

// The Message Router request; the frame is messaging::sendRRData of it.
QByteArray forwardOpenRequest(const OpenRequest &r);

// The connection path: the route, then the Message Router.
QByteArray connectionPath(const route::Route &route);

struct OpenReply {
    messaging::Verdict verdict = messaging::Verdict::Length; // Ok, Length, Service, Refused
    quint8 generalStatus = 0;
    QVector<quint16> ext;
    // success
    quint32 otConnectionId = 0; // to put in every request
    quint32 toConnectionId = 0;
    quint32 otRpiUs = 0;
    quint32 toRpiUs = 0;
    // both (a failure reply may lack them)
    quint16 serial = 0;
    quint16 vendor = 0;
    quint32 originatorSerial = 0;
    // 0x01 / 0x0109 with a second word: the largest size the target takes
    int acceptedSize = 0;
};

OpenReply parseForwardOpenReply(const QByteArray &mr, bool large);

struct CloseRequest {
    quint16 serial = 0; // of the connection being closed
    route::Route route;
};

QByteArray forwardCloseRequest(const CloseRequest &r);

struct CloseReply {
    messaging::Verdict verdict = messaging::Verdict::Length; // Ok, Length, Service, Refused
    quint8 generalStatus = 0;
    QVector<quint16> ext;
    quint16 serial = 0;
    quint16 vendor = 0;
    quint32 originatorSerial = 0;
};

CloseReply parseForwardCloseReply(const QByteArray &mr);

} // namespace connmgr

#endif
