#ifndef QUORVEX_ROUTEPATH_H
#define QUORVEX_ROUTEPATH_H

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

// Where a request goes beyond the adapter the TCP connection reaches: a
// list of port / link hops, or the adapter's own Message Router (direct).
namespace route
{

struct Hop {
    quint16 port = 1;
    bool isAddress = false; // the link is an IPv4 address, else `link`
    quint8 link = 0;
    QString address; // canonical dotted decimal, when isAddress

    bool operator==(const Hop &o) const;
    bool operator!=(const Hop &o) const { return !(*this == o); }
};

struct Route {
    bool direct = false;
    QVector<Hop> hops = {Hop()}; // port 1, link 0: today's route; empty when direct

    bool operator==(const Route &o) const { return direct == o.direct && hops == o.hops; }
    bool operator!=(const Route &o) const { return !(*this == o); }

    // The encoded port segments, always an even count; empty when direct.
    QByteArray bytes() const;
    // "none", or the hops as "port,link,port,link..." (parseRoute's input).
    QString toText() const;
};

// A route's bytes must leave room for the Message Router path in a
// Forward Open connection path, whose size is one byte of words.
constexpr int MaxRouteBytes = 2 * 255 - 4;

Route backplane(quint8 slot);
Route directRoute();

// One hop's port segment, padded to an even length.
QByteArray encodeHop(const Hop &hop);

// "none" (any case), or an even number of comma-separated items: a port
// 1..65535, then a link 0..255 or an IPv4 address. False on anything else,
// and on a route longer than MaxRouteBytes.
bool parseRoute(const QString &text, Route *out);

// Only the canonical dotted form: four numbers 0..255 without leading
// zeros, as the text travels to the bridge unchanged.
bool isIpv4Text(const QString &text);

} // namespace route

#endif
