#ifndef QUORVEX_LINKLOG_H
#define QUORVEX_LINKLOG_H

#include <QByteArray>
#include <QHostAddress>
#include <QString>
#include <QVector>

#include "Line.h"

// The link's traffic and warning lines. Every line names the controller by
// the link's address and port; the lines of one request also name the tag
// and the element count ("%1:%2  %3 len = %4 ..."). All arguments go in in
// one pass, so a "%" in a tag text stays as it is, and each line gets
// exactly as many arguments as it has placeholders.
namespace linklog
{

// Where the lines say the controller is, and whether traffic is traced: the
// link's own fields, read when a line is written.
struct Where {
    const QHostAddress &host;
    const int &port;
    const bool &trace;
    const Line &line;
};

// "%1:%2" of a line: the controller's address and port, or over a serial
// line its port's name and baud rate (the address and port of a TCP link
// say nothing there, and an empty ":0" names no line at all).
QString placeName(const Where &w);
QString placeNumber(const Where &w);

inline QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

inline QString hexNumber(quint32 v, int digits)
{
    return QStringLiteral("0x%1").arg(v, digits, 16, QLatin1Char('0'));
}

// Extended status words as "0x2105,0x0001", or "none".
QString extText(const QVector<quint16> &ext);

// A line of one request: "%1:%2  %3 len = %4" and the rest.
template <typename... Rest>
QString line(const char *format, const Where &w, const QString &tag, int count, const Rest &...rest)
{
    return QString::fromUtf8(format).arg(placeName(w), placeNumber(w), tag, QString::number(count),
                                         rest...);
}

// A line of the link itself: "%1:%2" and the rest.
template <typename... Rest> QString at(const char *format, const Where &w, const Rest &...rest)
{
    return QString::fromUtf8(format).arg(placeName(w), placeNumber(w), rest...);
}

void debug(const QString &text);
void warn(const QString &text);

} // namespace linklog

#endif
