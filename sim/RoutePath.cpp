#include "RoutePath.h"

#include "ByteOrder.h"
#include "EipProtocol.h"

namespace qsim
{

namespace
{

bool isPortSegment(quint8 b)
{
    return (b & cip::SegTypeMask) == 0;
}

// Segment byte, [address length], [16-bit port], address, [pad to even].
bool readPortSegment(le::Reader &r, PortSegment *seg)
{
    const quint8 b = r.u8();
    seg->longLink = (b & cip::SegPortLongLink) != 0;
    const int linkSize = seg->longLink ? r.u8() : 1;
    const quint16 port = b & cip::SegPortMask;
    seg->port = port == cip::SegPortWide ? r.u16() : port;
    seg->link = r.bytes(linkSize);
    const bool odd =
        (1 + (seg->longLink ? 1 : 0) + (port == cip::SegPortWide ? 2 : 0) + linkSize) % 2;
    if (odd)
        r.skip(1);
    return r.ok() && linkSize > 0;
}

bool isBackplane(const PortSegment &s)
{
    return s.port == cip::BackplanePort && !s.longLink && s.link.size() == 1;
}

bool isBackplaneLink(const PortSegment &s, int slot)
{
    return isBackplane(s) && static_cast<quint8>(s.link.at(0)) == slot;
}

} // namespace

int parsePortSegments(const QByteArray &path, QVector<PortSegment> *out)
{
    out->clear();
    le::Reader r(path);
    while (r.remaining() > 0 && isPortSegment(static_cast<quint8>(path.at(r.position())))) {
        PortSegment seg;
        if (!readPortSegment(r, &seg))
            return -1;
        out->append(seg);
    }
    return r.position();
}

bool parseRoute(const QByteArray &path, QVector<PortSegment> *out)
{
    return parsePortSegments(path, out) == path.size();
}

quint16 checkRoute(const QVector<PortSegment> &route, const RoutePolicy &policy)
{
    if (policy.direct)
        return route.isEmpty() ? 0 : cip::ExtPortNotAvailable;
    if (policy.anyRoute())
        return 0;
    bool ok = false;
    if (!policy.bridge.isEmpty()) {
        ok = route.size() == 3 && isBackplane(route.at(0)) &&
             route.at(1).port == cip::EthernetPort && route.at(1).longLink &&
             route.at(1).link == policy.bridge &&
             isBackplaneLink(route.at(2), qMax(policy.slot, 0));
    } else {
        ok = route.size() == 1 && isBackplaneLink(route.at(0), policy.slot);
    }
    return ok ? 0 : cip::ExtLinkAddressInvalid;
}

} // namespace qsim
