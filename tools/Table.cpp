#include "Table.h"
#include "StatusText.h"
#include "TagRequest.h"
#include "ValueText.h"

namespace tools
{

QStringList Table::lines() const
{
    QVector<int> width;
    for (const QStringList &r : rows)
        for (int i = 0; i < r.size(); ++i) {
            if (width.size() <= i)
                width.append(0);
            width[i] = qMax(width[i], r.at(i).size());
        }
    QStringList out;
    for (const QStringList &r : rows) {
        QString line;
        for (int i = 0; i < r.size(); ++i)
            line += i + 1 < r.size() ? r.at(i).leftJustified(width[i] + 2) : r.at(i);
        out << line;
    }
    return out;
}

QStringList readHeader()
{
    return {QStringLiteral("TAG"),    QStringLiteral("TYPE"),   QStringLiteral("COUNT"),
            QStringLiteral("STATUS"), QStringLiteral("VALUES"), QStringLiteral("TIMESTAMP")};
}

QString shortTime(const QDateTime &t)
{
    return t.isValid() ? t.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"))
                       : QStringLiteral("-");
}

QString statusCell(int status)
{
    return QStringLiteral("%1 %2").arg(status).arg(statusMeaning(status));
}

QStringList readRow(const CLabelVariable &v)
{
    return {v.tagName,     typeName(v.type),      QString::number(v.count), statusCell(v.status),
            valuesCell(v), shortTime(v.timestamp)};
}

} // namespace tools
