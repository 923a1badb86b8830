#ifndef QUORVEX_SIM_WRITESERVICE_H
#define QUORVEX_SIM_WRITESERVICE_H

#include "CipService.h"
#include "TagDatabase.h"

#include <QByteArray>

namespace qsim
{

// Write Tag (0x4D) and Write Tag Fragmented (0x53) at `path`: the data type
// must be the target's (else 0xFF / 0x2107), the elements must lie within it
// (else 0xFF / 0x2105); the data is stored in `options.store`, so that later
// reads return it. A fragmented write stores each part as it comes.
QByteArray writeTag(quint8 service, const QByteArray &path, const QByteArray &data,
                    const TagDatabase &db, const CipOptions &options);

} // namespace qsim

#endif
