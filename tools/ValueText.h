#ifndef QUORVEX_TOOLS_VALUETEXT_H
#define QUORVEX_TOOLS_VALUETEXT_H

#include "CLabelVariable.h"

#include <QDateTime>
#include <QString>
#include <QStringList>

// Text forms of a read result: element texts for tables, and the one-line
// JSON form of `quorvex read --json`.
namespace tools
{

enum class TextStyle { Table, Json };

// One text per element of the list in `values`, by the value's `type`.
// Numbers are exact (shortest round-trip form for float and double); texts
// are quoted; in JSON a non-finite number is null.
QStringList elementTexts(const CLabelVariable &v, TextStyle style);

// At most `limit` elements; a longer list keeps its head and tail around
// an ellipsis and says how many there are.
QString shortList(const QStringList &elements, int limit = 8);

// ISO-8601 with milliseconds and the UTC offset; empty for a null time.
QString isoTimestamp(const QDateTime &t);

// {"tag":...,"type":"int32","count":1,"status":0,"values":[...],"timestamp":...}
QString jsonLine(const CLabelVariable &v);

QString jsonString(const QString &s);

} // namespace tools

#endif
