#ifndef QUORVEX_IDENTITY_H
#define QUORVEX_IDENTITY_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include "Messaging.h"

// Who the controller says it is: the ListIdentity reply and the Identity
// object's Get Attributes All reply, built and read over plain byte arrays.
namespace identity
{

struct DeviceIdentity {
    quint16 vendor = 0;
    quint16 deviceType = 0;
    quint16 productCode = 0;
    quint8 revisionMajor = 0;
    quint8 revisionMinor = 0;
    quint16 status = 0;
    quint32 serialNumber = 0;
    QByteArray productName; // as sent: a short string, up to 255 bytes
};

// What a ListIdentity reply adds around the identity fields.
struct ListedIdentity {
    DeviceIdentity device;
    quint16 encapVersion = 0;
    quint16 sinFamily = 0;
    quint16 sinPort = 0;
    quint32 sinAddress = 0;
    quint8 state = 0;
};

// Ok, Empty, Length, Encapsulation (another command, an encapsulation
// status, another item), Refused (the Identity object answered an error).
using Verdict = messaging::Verdict;

// The header-only ListIdentity request; `session` may be empty (zeros).
QByteArray listIdentityRequest(const QByteArray &session);

// A ListIdentity reply: status 0, a length that matches the frame, at least
// one item, the first an identity item whose fields fill it exactly. Only
// when Ok is `out` written.
Verdict parseListIdentity(const QByteArray &frame, ListedIdentity *out);

// Get Attributes All of Identity instance 1, as a Message Router request.
QByteArray identityRequest();

// The Message Router reply to identityRequest(): only when Ok is `out`
// written; extra bytes after the product name are allowed, as newer
// revisions of the object append attributes.
Verdict parseIdentityReply(const QByteArray &mrReply, DeviceIdentity *out);

} // namespace identity

#endif
