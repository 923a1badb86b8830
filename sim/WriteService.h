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

// Read-Modify-Write (0x4E) on the integer at `path`: mask size, OR mask,
// AND mask; the integer becomes (old | or) & and. Masks of another size
// than the integer's (or missing): 0x13; a target that is no integer:
// 0xFF / 0x2107; without `options.readModifyWrite` (or a store): 0x08.
QByteArray readModifyWrite(const QByteArray &path, const QByteArray &data, const TagDatabase &db,
                           const CipOptions &options);

} // namespace qsim

#endif
