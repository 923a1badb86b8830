#ifndef QUORVEX_TOOLS_TABLE_H
#define QUORVEX_TOOLS_TABLE_H

#include "CLabelVariable.h"

#include <QString>
#include <QStringList>
#include <QVector>

namespace tools
{

// A plain text table, columns padded to their widest cell.
class Table
{
public:
    explicit Table(const QStringList &header) : rows{header} {}
    void add(const QStringList &row) { rows.append(row); }
    QStringList lines() const;

private:
    QVector<QStringList> rows;
};

// The columns of a read result: tag, type, count, status, values, timestamp.
QStringList readHeader();
QStringList readRow(const CLabelVariable &v);
// "2024-03-17 09:05:30.123", or "-" for a null time.
QString shortTime(const QDateTime &t);
QString statusCell(int status);

} // namespace tools

#endif
