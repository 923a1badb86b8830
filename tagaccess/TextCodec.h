#ifndef QUORVEX_TEXTCODEC_H
#define QUORVEX_TEXTCODEC_H

#include "WriteEncoding.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Texts as controllers hold them: a structure of a 4-byte LEN and a DATA
// array of characters (the standard STRING, and every type made like it,
// each with its own handle and size), or a short string of a one-byte
// length and its characters (type 0xDA).
namespace textcodec
{

struct Layout {
    int size = 0; // bytes of one structure; 0: not known
    int room = 0; // characters its DATA holds
};

struct Decoded {
    QList<QString> texts;
    qint64 need = 0;   // > 0: the bytes fall short, this many were needed
    int badIndex = -1; // a structure whose LEN its DATA cannot hold
    qint64 badLength = 0;
    int room = 0;
};

// `count` structures after their 2-byte handle, of `layout`, or, when its
// size is not known, of the size the bytes divide into. A LEN below 0 or
// above the room is a corrupt reply, not a text.
Decoded decodeStructures(const QByteArray &bytes, int count, Layout layout);
// `count` short strings, one after the other.
Decoded decodeShort(const QByteArray &bytes, int count);

// The first `count` texts of `values` (a list of QString) as structures of
// `handle` and `layout`: status 11 for another list type or a text longer
// than the room in UTF-8 (longTextIndex, longTextBytes, limit), 10 for
// fewer texts than `count`.
writeencoding::Encoded encodeStructures(const QVariant &values, int count, quint16 handle,
                                        Layout layout);
// The same as short strings, of at most 255 bytes each.
writeencoding::Encoded encodeShort(const QVariant &values, int count);

constexpr int LenSize = 4;
constexpr int HandleSize = 2;
constexpr int MaxShortText = 0xFF;

} // namespace textcodec

#endif
