#ifndef QUORVEX_FACADEWARNINGS_H
#define QUORVEX_FACADEWARNINGS_H

#include "CLabelVariable.h"
#include "CmdQuorvex.h"

#include <QByteArray>
#include <QString>

// The warning lines the facade writes itself, in the link's form:
// "lib[Quorvex]TEXT %1:%2  %3 len = %4 ..." (host, port, tag, count).
namespace facadewarn
{

// The reply's data type holds no value of the host's type.
void typeMismatch(const CmdQuorvex &link, const QString &tag, int count, quint16 replyType,
                  DataType asked);
// Fewer value bytes than `need`; `data` is the reply's type code and value.
void tooShort(const CmdQuorvex &link, const QString &tag, int count, qint64 need,
              const QByteArray &data);
// Element `index`, `value` in the reply's type, does not fit the host's.
void outOfRange(const CmdQuorvex &link, const QString &tag, int count, int index,
                const QString &value, quint16 replyType, DataType asked);
// Bit `bit` of an integer of `widthBits` bits.
void bitOutOfRange(const CmdQuorvex &link, const QString &tag, int count, quint64 bit,
                   int widthBits);
// Text structure `index` has a length `length` its DATA cannot hold.
void textLength(const CmdQuorvex &link, const QString &tag, int count, int index, qint64 length,
                int room);
// Text `index` of `bytes` in UTF-8 is longer than `limit`.
void longText(const CmdQuorvex &link, const QString &tag, int count, int index, int bytes,
              int limit);
// The controller refused a write; `frame` the reply as it came.
void writeRefused(const CmdQuorvex &link, const QString &tag, int count, quint8 status,
                  const QVector<quint16> &ext, const QByteArray &frame);

} // namespace facadewarn

#endif
