#ifndef QUORVEX_TAGADDRESS_H
#define QUORVEX_TAGADDRESS_H

#include <QString>

// Tag address text to area string: the bytes of the CIP request path after
// the first symbol's segment type and length, one character per byte.
namespace tagaddress
{

// Address syntax: a name, then any chain of ".member" and "[i]" / "[i,j,..]"
// parts. Names are 1..MaxSymbolLength characters that can stand in a
// symbol; indices are unsigned decimal numbers up to 2^32 - 1. Anything else,
// and any address whose request path would not fit one request, gives the
// empty string.
QString areaString(const QString &address);

// The symbol length travels in one byte.
constexpr int MaxSymbolLength = 255;

bool isSymbolChar(QChar c);

} // namespace tagaddress

#endif
