#ifndef QUORVEX_SIM_CONNECTIONMANAGER_H
#define QUORVEX_SIM_CONNECTIONMANAGER_H

#include "CipService.h"

#include <QByteArray>

// The Connection Manager's connection services (class 6 instance 1): the
// request data after the path in, the whole CIP reply out.
namespace qsim
{

// Forward Open (0x54, 16-bit network parameters) or Large Forward Open
// (0x5B, 32-bit): checks the transport, the connection path (route, then the
// Message Router), the sizes, duplicates and the number of connections, and
// opens a connection in `options.client.connections`.
QByteArray forwardOpen(quint8 service, const QByteArray &data, const CipOptions &options,
                       CipEffects *effects);

// Forward Close (0x4E): closes the client's connection with that serial,
// vendor and originator serial.
QByteArray forwardClose(const QByteArray &data, const CipOptions &options, CipEffects *effects);

// The idle time-out of a connection: the O->T RPI (microseconds) times
// 4 << multiplier, in milliseconds, never below one.
qint64 connectionTimeoutMs(quint32 otRpiUs, quint8 multiplier);

} // namespace qsim

#endif
