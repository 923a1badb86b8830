#include "TagAddress.h"

#include <cstring>

#include "EipProtocol.h"
#include "LibQuorvex.h"
#include "ReadFrames.h"

namespace tagaddress
{

namespace
{

// Characters with a meaning in the address syntax or in other controllers'
// address forms, and blanks: none of them can be part of a symbol, and
// letting them through would send a path the controller cannot resolve or,
// worse, one that names a different tag.
const char NotInSymbol[] = " !\"#%&'()*+,-./;<=>?[\\]^`{|}~";

void appendSymbol(QByteArray &area, const QString &name, bool first)
{
    if (!first) {
        le::put8(area, cip::SegSymbolic);
        le::put8(area, static_cast<quint8>(name.size()));
    }
    area.append(name.toLatin1());
    if (name.size() % 2)
        le::put8(area, 0);
}

void appendElement(QByteArray &area, quint32 index)
{
    // Indices beyond 8 bits take the wider segments instead of being cut.
    if (index <= 0xFF) {
        le::put8(area, cip::SegElement8);
        le::put8(area, static_cast<quint8>(index));
    } else if (index <= 0xFFFF) {
        le::put8(area, cip::SegElement16);
        le::put8(area, 0);
        le::put16(area, static_cast<quint16>(index));
    } else {
        le::put8(area, cip::SegElement32);
        le::put8(area, 0);
        le::put32(area, index);
    }
}

// Reads a symbol starting at `pos`; empty when none starts there or when it
// is too long for its length byte.
QString readName(const QString &text, int &pos)
{
    const int start = pos;
    while (pos < text.size() && isSymbolChar(text.at(pos)))
        ++pos;
    if (pos - start > MaxSymbolLength)
        return QString();
    return text.mid(start, pos - start);
}

// Reads an unsigned decimal index starting at `pos`.
bool readIndex(const QString &text, int &pos, quint32 &index)
{
    quint64 v = 0;
    const int start = pos;
    while (pos < text.size() && text.at(pos) >= QLatin1Char('0') &&
           text.at(pos) <= QLatin1Char('9')) {
        v = v * 10 + quint64(text.at(pos).unicode() - '0');
        if (v > 0xFFFFFFFFull)
            return false;
        ++pos;
    }
    index = static_cast<quint32>(v);
    return pos > start;
}

} // namespace

bool isSymbolChar(QChar c)
{
    const ushort u = c.unicode();
    // Above U+00FF there is no byte to send; C0/C1 controls and the
    // no-break space are never part of a name.
    if (u > 0xFF || u < 0x20 || (u >= 0x7F && u <= 0xA0))
        return false;
    if (u < 0x80 && std::strchr(NotInSymbol, static_cast<char>(u)))
        return false;
    return true;
}

QString areaString(const QString &address)
{
    QByteArray area;
    int pos = 0;
    const QString first = readName(address, pos);
    if (first.isEmpty())
        return QString();
    appendSymbol(area, first, true);
    while (pos < address.size()) {
        const QChar c = address.at(pos++);
        if (c == QLatin1Char('.')) {
            const QString member = readName(address, pos);
            if (member.isEmpty())
                return QString();
            appendSymbol(area, member, false);
        } else if (c == QLatin1Char('[')) {
            // One element segment per dimension, "[2,3]" and "[2][3]" alike.
            for (;;) {
                quint32 index = 0;
                if (!readIndex(address, pos, index) || pos >= address.size())
                    return QString();
                appendElement(area, index);
                const QChar sep = address.at(pos++);
                if (sep == QLatin1Char(']'))
                    break;
                if (sep != QLatin1Char(','))
                    return QString();
            }
        } else {
            return QString();
        }
    }
    if (area.size() > tagread::MaxAreaBytes)
        return QString();
    // The sized form: the area holds pad and index bytes of value 0.
    return QString::fromLatin1(area.constData(), area.size());
}

} // namespace tagaddress

QString LibQuorvex::getArea(QString address)
{
    return tagaddress::areaString(address);
}

int LibQuorvex::getBytelen(DataType, int count)
{
    return count;
}
