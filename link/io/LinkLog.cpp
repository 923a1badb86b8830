#include "LinkLog.h"

#include <QDebug>
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

void debug(const QString &text)
{
    qDebug().noquote() << text;
}

void warn(const QString &text)
{
    qWarning().noquote() << text;
}

} // namespace linklog
