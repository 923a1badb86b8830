// The option grammar of connection strings and the routes in it. What a
// parse accepts is printed back and parsed again, and must give the same
// settings (and for a route the same bytes, which are also taken apart
// here as port segments); what it refuses leaves the output untouched.
//
// Input: mode, then text. Mode & 3: 0 (and 3) an option list, 1 a route, 2
// an option list behind a network connection string. With mode & 4 the text
// is assembled from the bytes out of the grammar's own words, so that most
// inputs get past the names and the number checks.

#include "ByteOrder.h"
#include "ConnectionString.h"
#include "EipProtocol.h"
#include "FuzzSupport.h"
#include "LinkOptions.h"
#include "RoutePath.h"

#include <QStringList>

#include <algorithm>

namespace
{

// Every option of the table, and one that is not.
const char *const Names[] = {"slot",      "path",  "connected", "timeout", "write",
                             "reconnect", "route", "window",    "bitwrite"};
const char *const Words[] = {"none", "NoNe", "auto", "large", "small",     "off",
                             "Off",  "on",   "ON",   "rmw",   "ReadWrite", ""};

QString mixedCase(const char *word, quint8 mask)
{
    QString s = QString::fromLatin1(word);
    for (int i = 0; i < s.size() && i < 8; ++i) {
        if (mask & (1 << i))
            s[i] = s[i].toUpper();
    }
    return s;
}

QString blanks(quint8 how)
{
    static const char *const b[] = {"", "", " ", "\t", "  ", " \n"};
    return QLatin1String(b[how % 6]);
}

QString number(fuzz::Input &in)
{
    switch (in.u8() % 4) {
    case 0:
        return QString::number(in.u8());
    case 1:
        return QString::number(in.u16());
    case 2:
        return QStringLiteral("0") + QString::number(in.u8());
    default:
        return QString::number(quint32(in.i32()));
    }
}

QString address(fuzz::Input &in)
{
    QStringList parts;
    for (int i = 0; i < 4; ++i)
        parts << QString::number(in.u8());
    if (in.u8() % 8 == 0)
        parts[in.u8() % 4].prepend(QLatin1Char('0'));
    return parts.join(QLatin1Char('.'));
}

QString routeText(fuzz::Input &in)
{
    const int hops = in.u8() % 40;
    QStringList items;
    for (int i = 0; i < hops && !in.empty(); ++i) {
        const quint8 how = in.u8();
        items << (how & 1 ? QString::number(in.u16()) : QString::number(how >> 4));
        items << (how & 2 ? address(in) : number(in));
    }
    return items.join(QLatin1Char(','));
}

QString value(fuzz::Input &in)
{
    const quint8 how = in.u8();
    switch (how % 5) {
    case 0:
        return number(in);
    case 1:
        return routeText(in);
    case 2:
        return mixedCase(Words[(how >> 3) % (sizeof Words / sizeof *Words)], in.u8());
    case 3:
        return QString::fromUtf8(in.bytes(in.u8() % 8));
    default:
        return QString();
    }
}

QString assembledList(fuzz::Input &in)
{
    QStringList items;
    const int count = in.u8() % 6;
    for (int i = 0; i < count; ++i) {
        const quint8 how = in.u8();
        QString item = blanks(how >> 5) +
                       mixedCase(Names[how % (sizeof Names / sizeof *Names)], in.u8()) +
                       blanks(how >> 3);
        if (!(how & 0x80) || (how & 0x40))
            item += QLatin1Char('=') + blanks(how >> 6) + value(in) + blanks(how);
        items << item;
    }
    return items.join(QLatin1Char(';'));
}

// The port segments of the published layout: port in the low nibble, 15
// for a 16-bit port after the length byte, 0x10 for a link address with a
// length byte; each segment padded to an even size.
QVector<route::Hop> segmentsOf(const QByteArray &b)
{
    QVector<route::Hop> hops;
    int i = 0;
    while (i < b.size()) {
        const quint8 seg = quint8(b.at(i));
        FUZZ_CHECK((seg & 0xE0) == 0); // port segments only
        route::Hop h;
        const bool wide = (seg & 0x0F) == cip::SegPortWide;
        h.isAddress = seg & cip::SegPortLongLink;
        int at = i + 1;
        int linkSize = 1;
        if (h.isAddress)
            linkSize = quint8(b.at(at++));
        h.port = wide ? quint16(le::getPadded(b, at, 2)) : (seg & 0x0F);
        if (wide) {
            FUZZ_CHECK(h.port > 14); // small ports go inline
            at += 2;
        }
        FUZZ_CHECK(h.port != 0 && at + linkSize <= b.size());
        if (h.isAddress)
            h.address = QString::fromLatin1(b.mid(at, linkSize));
        else
            h.link = quint8(b.at(at));
        at += linkSize;
        if ((at - i) % 2) {
            FUZZ_CHECK(at < b.size() && b.at(at) == 0);
            ++at;
        }
        hops.append(h);
        i = at;
    }
    return hops;
}

// The text travels to the bridge unchanged: four numbers 0..255 written
// the one way QString::number writes them.
bool isCanonicalAddress(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString &p : parts) {
        bool ok = false;
        const uint v = p.toUInt(&ok, 10);
        if (!ok || v > 255 || QString::number(v) != p)
            return false;
    }
    return true;
}

void checkRoute(const QString &text)
{
    route::Route r = route::backplane(77);
    const route::Route untouched = r;
    if (!route::parseRoute(text, &r)) {
        FUZZ_CHECK(r == untouched);
        return;
    }
    const QByteArray bytes = r.bytes();
    FUZZ_CHECK(bytes.size() % 2 == 0 && bytes.size() <= route::MaxRouteBytes);
    FUZZ_CHECK(r.direct == (text.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0));
    FUZZ_CHECK(r.direct ? r.hops.isEmpty() && bytes.isEmpty() : !r.hops.isEmpty());
    FUZZ_CHECK(r.hops.size() * 2 == (r.direct ? 0 : text.count(QLatin1Char(',')) + 1));
    for (const route::Hop &h : r.hops) {
        FUZZ_CHECK(h.port != 0);
        if (h.isAddress)
            FUZZ_CHECK(isCanonicalAddress(h.address));
    }
    FUZZ_CHECK(segmentsOf(bytes) == r.hops);

    const QString printed = r.toText();
    route::Route again;
    FUZZ_CHECK(route::parseRoute(printed, &again));
    FUZZ_CHECK(again == r);
    FUZZ_CHECK(again.bytes() == bytes);
    FUZZ_CHECK(again.toText() == printed);
}

LinkOptions sentinel()
{
    LinkOptions o;
    o.route = route::backplane(201);
    o.connected = ConnectedMode::Small;
    o.replyTimeoutMs = 4321;
    o.bitWrite = BitWrite::ReadWrite;
    return o;
}

bool accepted(const QString &list, LinkOptions *o)
{
    OptionError error;
    const LinkOptions before = *o;
    if (parseLinkOptions(list, o, &error))
        return true;
    FUZZ_CHECK(*o == before);
    FUZZ_CHECK(!error.option.isEmpty() && !error.reason.isEmpty());
    FUZZ_CHECK(error.option == error.option.trimmed());
    FUZZ_CHECK(list.contains(error.option));
    return false;
}

void checkOptions(const QString &list)
{
    LinkOptions o = sentinel();
    if (!accepted(list, &o))
        return;
    FUZZ_CHECK(o.replyTimeoutMs == 0 ||
               (o.replyTimeoutMs >= MinReplyTimeoutMs && o.replyTimeoutMs <= MaxReplyTimeoutMs));
    FUZZ_CHECK(o.window >= MinWindow && o.window <= MaxWindow);
    FUZZ_CHECK(o.route.bytes().size() <= route::MaxRouteBytes);
    FUZZ_CHECK(o.route.direct == o.route.hops.isEmpty());

    const QString printed = o.toString();
    FUZZ_CHECK(printed.isEmpty() == (o == LinkOptions()));
    LinkOptions again = sentinel();
    FUZZ_CHECK(accepted(printed, &again));
    FUZZ_CHECK(again == o);
    FUZZ_CHECK(again.route.bytes() == o.route.bytes());
    FUZZ_CHECK(again.toString() == printed);

    // Each option sets its own thing: their order does not matter.
    QStringList items = list.split(QLatin1Char(';'));
    std::reverse(items.begin(), items.end());
    LinkOptions reversed = sentinel();
    FUZZ_CHECK(accepted(items.join(QLatin1Char(';')), &reversed));
    FUZZ_CHECK(reversed == o);
}

void checkBehindAddress(const QString &list)
{
    const ConnectionString c = parseConnectionString(QStringLiteral("192.168.1.20:44818;") + list);
    LinkOptions o;
    OptionError error;
    const bool ok = parseLinkOptions(list, &o, &error);
    FUZZ_CHECK(c.form == ConnectionString::Form::Network && !c.semicolonFirst);
    FUZZ_CHECK(c.optionsValid == ok && c.usable() == ok);
    if (ok)
        FUZZ_CHECK(c.options == o);
    else
        FUZZ_CHECK(c.optionError.option == error.option);
    checkOptions(list);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::installQuietHandler();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    const quint8 mode = in.u8();
    const bool assembled = mode & 4;
    switch (mode & 3) {
    case 1:
        checkRoute(assembled ? routeText(in) : QString::fromUtf8(in.rest()));
        break;
    case 2:
        checkBehindAddress(assembled ? assembledList(in) : QString::fromUtf8(in.rest()));
        break;
    default:
        checkOptions(assembled ? assembledList(in) : QString::fromUtf8(in.rest()));
        break;
    }
    return 0;
}
