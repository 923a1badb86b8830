#include "LinkLog.h"

#include <QDebug>
#include <QSerialPort>
#include <QStringList>

namespace linklog
{

QString extText(const QVector<quint16> &ext)
{
    if (ext.isEmpty())
        return QStringLiteral("none");
    QStringList words;
    for (const quint16 w : ext)
        words << hexNumber(w, 4);
    return words.join(QLatin1Char(','));
}

QString placeName(const Where &w)
{
    const QSerialPort *serial = w.line.serial();
    if (serial == nullptr)
        return w.host.toString();
    // Qt keeps a device's name without its "/dev/"; the line names the
    // device as it was given.
    const QString name = serial->portName();
    return name.startsWith(QLatin1Char('/')) ? name : QStringLiteral("/dev/") + name;
}

QString placeNumber(const Where &w)
{
    const QSerialPort *serial = w.line.serial();
    return QString::number(serial != nullptr ? serial->baudRate() : w.port);
}

void debug(const QString &text)
{
    qDebug().noquote() << text;
}

void warn(const QString &text)
{
    qWarning().noquote() << text;
}

} // namespace linklog
