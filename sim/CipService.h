#ifndef QUORVEX_SIM_CIPSERVICE_H
#define QUORVEX_SIM_CIPSERVICE_H

#include "TagDatabase.h"

#include <QByteArray>

// The simulated controller's Message Router: answers one CIP request
// (service, path size in words, path, data) with one CIP reply.
namespace qsim
{

// Value bytes one reply carries at most; larger data comes in parts.
constexpr int MaxReplyValueBytes = 480;

struct CipOptions {
    int forcedStatus = -1; // >= 0: every tag read or write answers this general status
    // Write Tag and Write Tag Fragmented store their data here, the database
    // served; without one they are refused.
    TagDatabase *store = nullptr;
};

// Unconnected Send to the Connection Manager is unwrapped (any route path is
// accepted) and its embedded request answered; Read Tag and Read Tag
// Fragmented are served from `db`, the writes go to `options.store`;
// anything else is refused as a controller would refuse it. Never fails:
// malformed input gets an error reply.
QByteArray handleCip(const QByteArray &request, const TagDatabase &db,
                     const CipOptions &options = CipOptions());

// A reply without data: service | 0x80, reserved, status, additional status.
QByteArray cipError(quint8 service, quint8 status, quint16 extStatus = 0);

} // namespace qsim

#endif
