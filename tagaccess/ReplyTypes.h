#ifndef QUORVEX_REPLYTYPES_H
#define QUORVEX_REPLYTYPES_H

#include "CLabelVariable.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

// Whether the data type a reply carries can be handed back as the
// DataType the host asked for, and the conversion between integers of
// different widths.
namespace replytypes
{

enum class Fit {
    Same,    // the same bits: decoded as the host's type
    Convert, // integers of another width: each element converted
    Refused  // no value of the reply can be one of the host's type
};

Fit judge(quint16 replyType, DataType asked);

bool isSignedInteger(quint16 replyType);

// Bytes of one element of a host type: 1..8 for numbers, 0 for the rest.
int hostWidth(DataType type);

// "DINT", "REAL", "STRING structure", ...; "0x00e0" for a code it has no
// name for.
QString cipTypeName(quint16 replyType);
// "DT_Int32", ...; "type 13" past the named ones.
QString dataTypeName(DataType type);

struct Converted {
    QVariant values;   // a list of the host's element type; invalid on failure
    int badIndex = -1; // the first element that does not fit
    QString badValue;  // its value, as the reply's type holds it
};

// `count` integers of `replyType` at the start of `bytes` (which holds at
// least count * cip::integerWidth(replyType) bytes), each converted to `asked`,
// an integer type. A BOOL is 0 or 1.
Converted convertIntegers(const QByteArray &bytes, quint16 replyType, DataType asked, int count);

} // namespace replytypes

#endif
