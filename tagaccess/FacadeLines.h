#ifndef QUORVEX_FACADELINES_H
#define QUORVEX_FACADELINES_H

#include "CmdQuorvex.h"

#include <QString>

// Warning lines the facade writes itself, in the link's form:
// "lib[Quorvex]TEXT %1:%2  %3 len = %4 ..." (host, port, tag, count). The
// arguments go in in one pass, so a "%" in a tag text stays as it is.
namespace facadelines
{

inline QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

inline QString hexNumber(quint32 v, int digits)
{
    return QStringLiteral("0x%1").arg(v, digits, 16, QLatin1Char('0'));
}

template <typename... Rest>
QString line(const char *format, const CmdQuorvex &link, const QString &tag, int count,
             const Rest &...rest)
{
    return QString::fromUtf8(format).arg(link.hostAddress.toString(), QString::number(link.tcpPort),
                                         tag, QString::number(count), rest...);
}

} // namespace facadelines

#endif
