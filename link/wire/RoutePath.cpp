#include "RoutePath.h"

#include "ByteOrder.h"
#include "DecimalText.h"
#include "EipProtocol.h"

#include <QStringList>

namespace route
{

namespace
{

constexpr quint32 MaxPort = 0xFFFF;
constexpr quint32 MaxLink = 0xFF;
// Ports above this do not fit the segment byte and follow it as 16 bits.
constexpr quint16 MaxInlinePort = 14;
constexpr int Ipv4Parts = 4;

} // namespace

bool Hop::operator==(const Hop &o) const
{
    if (port != o.port || isAddress != o.isAddress)
        return false;
    return isAddress ? address == o.address : link == o.link;
}

Route backplane(quint8 slot)
{
    Route r;
    r.hops.first().link = slot;
    return r;
}

Route directRoute()
{
    Route r;
    r.direct = true;
    r.hops.clear();
    return r;
}

QByteArray encodeHop(const Hop &hop)
{
    const bool wide = hop.port > MaxInlinePort;
    quint8 segment = wide ? static_cast<quint8>(cip::SegPortWide) : static_cast<quint8>(hop.port);
    if (hop.isAddress)
        segment |= cip::SegPortLongLink;
    QByteArray s;
    le::put8(s, segment);
    const QByteArray text = hop.address.toLatin1();
    // The address length comes before a wide port number.
    if (hop.isAddress)
        le::put8(s, static_cast<quint8>(text.size()));
    if (wide)
        le::put16(s, hop.port);
    if (hop.isAddress)
        s.append(text);
    else
        le::put8(s, hop.link);
    if (s.size() % 2)
        le::put8(s, 0);
    return s;
}

QByteArray Route::bytes() const
{
    QByteArray b;
    if (direct)
        return b;
    for (const Hop &h : hops)
        b.append(encodeHop(h));
    return b;
}

QString Route::toText() const
{
    if (direct)
        return QStringLiteral("none");
    QStringList items;
    for (const Hop &h : hops) {
        items << QString::number(h.port);
        items << (h.isAddress ? h.address : QString::number(h.link));
    }
    return items.join(QLatin1Char(','));
}

bool isIpv4Text(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != Ipv4Parts)
        return false;
    for (const QString &p : parts) {
        quint32 v = 0;
        if (!boundedDecimal(p, 0, MaxLink, &v) || (p.size() > 1 && p.startsWith(QLatin1Char('0'))))
            return false;
    }
    return true;
}

bool parseRoute(const QString &text, Route *out)
{
    if (text.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0) {
        *out = directRoute();
        return true;
    }
    const QStringList items = text.split(QLatin1Char(','));
    if (items.size() % 2)
        return false;
    Route r;
    r.hops.clear();
    for (int i = 0; i < items.size(); i += 2) {
        Hop h;
        quint32 port = 0;
        if (!boundedDecimal(items[i].trimmed(), 1, MaxPort, &port))
            return false;
        h.port = static_cast<quint16>(port);
        const QString link = items[i + 1].trimmed();
        quint32 number = 0;
        if (boundedDecimal(link, 0, MaxLink, &number)) {
            h.link = static_cast<quint8>(number);
        } else if (isIpv4Text(link)) {
            h.isAddress = true;
            h.address = link;
        } else {
            return false;
        }
        r.hops.append(h);
    }
    if (r.bytes().size() > MaxRouteBytes)
        return false;
    *out = r;
    return true;
}

} // namespace route
