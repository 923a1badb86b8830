#ifndef QUORVEX_TOOLS_WRITEREQUEST_H
#define QUORVEX_TOOLS_WRITEREQUEST_H

#include "CLabelVariable.h"
#include "TagRequest.h"

#include <QString>

// One tag argument of `quorvex write`: TAG[:TYPE[:COUNT]]=VALUE[,VALUE...].
namespace tools
{

struct WriteRequest {
    QString text;         // the argument as given
    TagRequest target;    // the count is the number of values unless given
    QStringList items;    // the values as written
    CLabelVariable value; // `values` holds the list of the type's elements
};

// Values are separated by ","; a value in double quotes may hold "," and
// "\"" or "\\" escapes (texts). Booleans are true/false/1/0, integers are
// decimal and checked against their type's range. On failure returns false
// and puts a one-line reason in *error. A target without a TYPE keeps its
// values as texts until the controller has told the type.
bool parseWriteRequest(const QString &text, WriteRequest *out, QString *error);
// The values as elements of the target's type, as parseWriteRequest does
// when the type was given.
bool convertValues(WriteRequest *w, QString *error);

// The connection string with the write option, added when it has none.
QString withWriteOption(const QString &connection);
// Whether the string's own write option switches writes off.
bool writesOff(const QString &connection);

} // namespace tools

#endif
