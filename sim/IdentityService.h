#ifndef QUORVEX_SIM_IDENTITYSERVICE_H
#define QUORVEX_SIM_IDENTITYSERVICE_H

#include "Identity.h"

#include <QByteArray>
#include <QJsonValue>
#include <QString>

// The simulated controller's Identity object and its ListIdentity answer.
namespace qsim
{

// What a simulator without an "identity" object in its tag file reports.
identity::DeviceIdentity defaultIdentity();

// The data of a ListIdentity reply (item count, one identity item).
QByteArray listIdentityData(const identity::DeviceIdentity &d);

// True when `path` addresses Identity instance 1 (with an attribute, when
// `attribute` is given: then *attribute is set).
bool isIdentityPath(const QByteArray &path, quint8 *attribute = nullptr);

// Get Attributes All, or Get Attribute Single of attributes 1..7.
QByteArray identityService(quint8 service, const QByteArray &path,
                           const identity::DeviceIdentity &d);

// The tag file's "identity" object over `d`; absent keys keep their value.
bool loadIdentity(const QJsonValue &v, identity::DeviceIdentity *d, QString *error);

} // namespace qsim

#endif
