#include "TagAddress.h"

#include <cstring>

#include "ByteOrder.h"
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

namespace
{

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

QString areaOf(const QByteArray &area)
{
    // The sized form: the area holds pad and index bytes of value 0.
    return QString::fromLatin1(area.constData(), area.size());
}

} // namespace

Address parse(const QString &address)
{
    Address a;
    QByteArray area;
    int pos = 0;
    const QString first = readName(address, pos);
    if (first.isEmpty())
        return Address();
    appendSymbol(area, first, true);
    int lastIndexAt = -1; // where the last run of indices began in `area`
    int indicesInRun = 0;
    while (pos < address.size()) {
        const QChar c = address.at(pos++);
        if (c == QLatin1Char('.')) {
            const QString member = readName(address, pos);
            if (member.isEmpty())
                return Address();
            if (isDigit(member.at(0))) {
                // A number is the bit of the integer before it, and ends
                // the address; a member name never starts with a digit.
                int at = 0;
                quint32 bit = 0;
                if (pos < address.size() || !readIndex(member, at, bit) || at != member.size())
                    return Address();
                a.bit = bit;
                break;
            }
            appendSymbol(area, member, false);
            indicesInRun = 0;
        } else if (c == QLatin1Char('[')) {
            // One element segment per dimension, "[2,3]" and "[2][3]" alike.
            if (indicesInRun == 0)
                lastIndexAt = area.size();
            for (;;) {
                quint32 index = 0;
                if (!readIndex(address, pos, index) || pos >= address.size())
                    return Address();
                appendElement(area, index);
                a.index = index;
                ++indicesInRun;
                const QChar sep = address.at(pos++);
                if (sep == QLatin1Char(']'))
                    break;
                if (sep != QLatin1Char(','))
                    return Address();
            }
        } else {
            return Address();
        }
    }
    if (area.size() > tagread::MaxAreaBytes)
        return Address();
    a.area = areaOf(area);
    a.indexed = indicesInRun == 1;
    if (a.indexed)
        a.arrayArea = areaOf(area.left(lastIndexAt));
    else
        a.index = 0;
    return a;
}

QString areaString(const QString &address)
{
    return parse(address).area;
}

QString elementArea(const QString &arrayArea, quint32 index)
{
    QByteArray area = arrayArea.toLatin1();
    appendElement(area, index);
    return areaOf(area);
}

QString memberArea(const QString &area, const QString &member)
{
    QByteArray bytes = area.toLatin1();
    appendSymbol(bytes, member, false);
    return areaOf(bytes);
}

QString addressText(const QString &area, int firstNameLength, qint64 bit)
{
    const QByteArray b = area.toLatin1();
    if (firstNameLength < 1 || firstNameLength > b.size())
        return QString();
    QString text = QString::fromLatin1(b.constData(), firstNameLength);
    le::Reader r(b, firstNameLength + (firstNameLength % 2));
    while (r.ok() && r.remaining() > 0) {
        switch (r.u8()) {
        case cip::SegSymbolic: {
            const int len = r.u8();
            const QByteArray name = r.bytes(len);
            if (len % 2)
                r.skip(1);
            text += QLatin1Char('.') + QString::fromLatin1(name);
            break;
        }
        case cip::SegElement8:
            text += QStringLiteral("[%1]").arg(r.u8());
            break;
        case cip::SegElement16:
            r.skip(1);
            text += QStringLiteral("[%1]").arg(r.u16());
            break;
        case cip::SegElement32:
            r.skip(1);
            text += QStringLiteral("[%1]").arg(r.u32());
            break;
        default:
            return QString();
        }
    }
    if (!r.ok())
        return QString();
    if (bit >= 0)
        text += QLatin1Char('.') + QString::number(bit);
    return text;
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
