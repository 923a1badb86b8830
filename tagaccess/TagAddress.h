#ifndef QUORVEX_TAGADDRESS_H
#define QUORVEX_TAGADDRESS_H

#include <QString>

// Tag address text to area string: the bytes of the CIP request path after
// the first symbol's segment type and length, one character per byte.
namespace tagaddress
{

// Address syntax: a name, then any chain of ".member" and "[i]" / "[i,j,..]"
// parts, and at the end, optionally, ".N": bit N of the integer addressed
// (a controller's names never start with a digit). Names are
// 1..MaxSymbolLength characters that can stand in a symbol; indices and bit
// numbers are unsigned decimal numbers up to 2^32 - 1.
struct Address {
    // The data addressed (for a bit, its integer); empty when the text is
    // no address or its request path would not fit one request.
    QString area;
    qint64 bit = -1; // >= 0: bit `bit` of the integer at `area`
    // The area ends in one element index after a name or member (`A[i]`,
    // `B.C[i]`, not `D[i,j]`): of a BOOL array, that index names a bit.
    bool indexed = false;
    quint32 index = 0;
    QString arrayArea; // the area without that index: the array itself

    bool operator==(const Address &o) const
    {
        return area == o.area && bit == o.bit && indexed == o.indexed && index == o.index &&
               arrayArea == o.arrayArea;
    }
};

Address parse(const QString &address);

// parse(address).area: the integer's area for a bit.
QString areaString(const QString &address);

// The area of element `index` of the array at `arrayArea`.
QString elementArea(const QString &arrayArea, quint32 index);
// The area of member `member` of the structure at `area`.
QString memberArea(const QString &area, const QString &member);

// The address text of an area (whose first name is `firstNameLength`
// characters) and a bit (-1: none), indices as "[i]" each; parsing it gives
// the same area and bit. Empty when the area is not one this parser makes.
QString addressText(const QString &area, int firstNameLength, qint64 bit);

// The symbol length travels in one byte.
constexpr int MaxSymbolLength = 255;
// The widest integer has 64 bits.
constexpr int MaxBitNumber = 63;

bool isSymbolChar(QChar c);

} // namespace tagaddress

#endif
