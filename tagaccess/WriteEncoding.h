#ifndef QUORVEX_WRITEENCODING_H
#define QUORVEX_WRITEENCODING_H

#include "CLabelVariable.h"

#include <QByteArray>
#include <QString>
#include <QVariant>

// A host value as the controller takes it in a write: the CIP data type of
// the element type and the elements as little-endian bytes (texts as the
// standard STRING structure).
namespace writeencoding
{

struct Encoded {
    int status = LR_Success; // otherwise the value's refusal code
    QByteArray typeBytes;    // the data type field of the request
    QByteArray data;
    int elementSize = 0;
    // A text too long for the structure: its index and UTF-8 length, and
    // the room there was.
    int longTextIndex = -1;
    int longTextBytes = 0;
    int textLimit = 0;
};

// The CIP type code for an element type; 0 for codes that have none.
quint16 cipType(DataType type);

// The first `count` elements of `values`, which must hold the list type of
// `type`: status 2 for a type without a CIP type, 11 for a list of another
// element type or a text over the structure's 82 data bytes, 10 for fewer
// than `count` elements. Nothing is ever cut short.
Encoded encode(DataType type, const QVariant &values, int count);

} // namespace writeencoding

#endif
