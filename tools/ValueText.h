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

// A BOOL read of n elements brings the 8·(n + 1) bits of n + 1 bytes: the
// texts are of the n asked for, and this is how many more came.
int boolPadding(const CLabelVariable &v);
// The values as a table shows them, with the padding said.
QString valuesCell(const CLabelVariable &v);

// At most `limit` elements; a longer list keeps its head and tail around
// an ellipsis and says how many there are.
QString shortList(const QStringList &elements, int limit = 8);

// ISO-8601 with milliseconds and the UTC offset; empty for a null time.
QString isoTimestamp(const QDateTime &t);

// {"tag":...,"type":"int32","count":1,"status":0,"values":[...],"timestamp":...},
// with "padding_bits":N before the timestamp for a BOOL read that has them.
QString jsonLine(const CLabelVariable &v);

QString jsonString(const QString &s);

} // namespace tools

#endif
