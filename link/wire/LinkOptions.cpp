#include "LinkOptions.h"

#include "DecimalText.h"

#include <QStringList>

namespace
{

constexpr quint32 MaxSlot = 0xFF;

struct ModeName {
    ConnectedMode mode;
    const char *name;
};
constexpr ModeName ModeNames[] = {{ConnectedMode::Off, "off"},
                                  {ConnectedMode::Auto, "auto"},
                                  {ConnectedMode::Large, "large"},
                                  {ConnectedMode::Small, "small"}};

// A route the slot option can say: port 1 to a numbered link.
bool isSlotRoute(const route::Route &r)
{
    return !r.direct && r.hops.size() == 1 && r.hops.first().port == 1 && !r.hops.first().isAddress;
}

bool parseSlot(const QString &value, LinkOptions &o)
{
    quint32 slot = 0;
    if (!boundedDecimal(value, 0, MaxSlot, &slot))
        return false;
    o.route = route::backplane(static_cast<quint8>(slot));
    return true;
}

QString writeSlot(const LinkOptions &o)
{
    if (!isSlotRoute(o.route) || o.route == route::Route())
        return QString();
    return QString::number(o.route.hops.first().link);
}

bool parsePath(const QString &value, LinkOptions &o)
{
    return route::parseRoute(value, &o.route);
}

QString writePath(const LinkOptions &o)
{
    if (isSlotRoute(o.route))
        return QString();
    return o.route.toText();
}

bool parseConnected(const QString &value, LinkOptions &o)
{
    for (const ModeName &m : ModeNames) {
        if (value.compare(QLatin1String(m.name), Qt::CaseInsensitive) == 0) {
            o.connected = m.mode;
            return true;
        }
    }
    return false;
}

QString writeConnected(const LinkOptions &o)
{
    if (o.connected == ConnectedMode::Off)
        return QString();
    for (const ModeName &m : ModeNames) {
        if (m.mode == o.connected)
            return QLatin1String(m.name);
    }
    return QString();
}

bool parseTimeout(const QString &value, LinkOptions &o)
{
    quint32 ms = 0;
    if (!boundedDecimal(value, MinReplyTimeoutMs, MaxReplyTimeoutMs, &ms))
        return false;
    o.replyTimeoutMs = static_cast<int>(ms);
    return true;
}

QString writeTimeout(const LinkOptions &o)
{
    return o.replyTimeoutMs ? QString::number(o.replyTimeoutMs) : QString();
}

// A switch: its bare name, or name=on / name=off.
bool parseSwitch(const QString &value, bool *on)
{
    if (value.isNull() || value.compare(QLatin1String("on"), Qt::CaseInsensitive) == 0) {
        *on = true;
        return true;
    }
    if (value.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0) {
        *on = false;
        return true;
    }
    return false;
}

bool parseWrite(const QString &value, LinkOptions &o)
{
    return parseSwitch(value, &o.write);
}

QString writeWrite(const LinkOptions &o)
{
    return o.write ? QStringLiteral("on") : QString();
}

bool parseReconnect(const QString &value, LinkOptions &o)
{
    return parseSwitch(value, &o.reconnect);
}

QString writeReconnect(const LinkOptions &o)
{
    return o.reconnect ? QStringLiteral("on") : QString();
}

bool parseWindow(const QString &value, LinkOptions &o)
{
    quint32 n = 0;
    if (!boundedDecimal(value, MinWindow, MaxWindow, &n))
        return false;
    o.window = static_cast<int>(n);
    return true;
}

QString writeWindow(const LinkOptions &o)
{
    return o.window != MinWindow ? QString::number(o.window) : QString();
}

bool parseBitWrite(const QString &value, LinkOptions &o)
{
    if (value.compare(QLatin1String("rmw"), Qt::CaseInsensitive) == 0)
        o.bitWrite = BitWrite::Rmw;
    else if (value.compare(QLatin1String("readwrite"), Qt::CaseInsensitive) == 0)
        o.bitWrite = BitWrite::ReadWrite;
    else
        return false;
    return true;
}

QString writeBitWrite(const LinkOptions &o)
{
    return o.bitWrite == BitWrite::ReadWrite ? QStringLiteral("readwrite") : QString();
}

// One row per option. Options of one group set the same thing, so a string
// may name only one of them, once. A row's writer gives its value text, or
// a null text when the option has nothing to say beyond the defaults.
struct OptionRow {
    const char *name;
    const char *group;
    const char *syntax;
    const char *help;
    bool (*parse)(const QString &value, LinkOptions &o);
    QString (*write)(const LinkOptions &o);
};

const OptionRow Rows[] = {
    {"slot", "route", "N (0..255)", "route through port 1 to link N", parseSlot, writeSlot},
    {"path", "route", "P,L[,P,L...] | none",
     "the whole route as port/link pairs (link 0..255 or IPv4); none: the controller itself",
     parsePath, writePath},
    {"connected", "connected", "auto|large|small|off",
     "connected messaging: Large Forward Open, Forward Open, or none", parseConnected,
     writeConnected},
    {"timeout", "timeout", "MS (10..60000)", "the whole wait for one reply, in milliseconds",
     parseTimeout, writeTimeout},
    {"write", "write", "[on|off]", "writes reach the controller (otherwise they are echoed)",
     parseWrite, writeWrite},
    {"reconnect", "reconnect", "[on|off]",
     "reopen a lost connection by itself, in the background (reads meanwhile: not "
     "connected); give up a controller that stopped answering",
     parseReconnect, writeReconnect},
    {"window", "window", "N (1..8)",
     "fragmented reads keep up to N part requests outstanding at once; 1: one at a time",
     parseWindow, writeWindow},
    {"bitwrite", "bitwrite", "rmw|readwrite",
     "bit writes: Read-Modify-Write only, or read, set and write when the controller has none "
     "(not atomic)",
     parseBitWrite, writeBitWrite},
};

const OptionRow *findRow(const QString &name)
{
    for (const OptionRow &row : Rows) {
        if (name.compare(QLatin1String(row.name), Qt::CaseInsensitive) == 0)
            return &row;
    }
    return nullptr;
}

} // namespace

bool parseLinkOptions(const QString &list, LinkOptions *out, OptionError *error)
{
    LinkOptions o;
    QStringList groups;
    QStringList names;
    for (const QString &item : list.split(QLatin1Char(';'))) {
        const QString text = item.trimmed();
        if (text.isEmpty())
            continue;
        const int eq = text.indexOf(QLatin1Char('='));
        const QString name = (eq < 0 ? text : text.left(eq)).trimmed();
        // A bare name reaches its parser as a null value.
        const QString value = eq < 0 ? QString() : text.mid(eq + 1).trimmed();
        const OptionRow *row = findRow(name);
        if (!row) {
            *error = {text, QStringLiteral("未知参数")};
            return false;
        }
        const int seen = groups.indexOf(QLatin1String(row->group));
        if (seen >= 0) {
            *error = {text, names[seen] == QLatin1String(row->name)
                                ? QStringLiteral("重复")
                                : QStringLiteral("与 %1 冲突").arg(names[seen])};
            return false;
        }
        groups << QLatin1String(row->group);
        names << QLatin1String(row->name);
        if (!row->parse(value, o)) {
            *error = {text, QStringLiteral("取值无效, 应为 %1=%2")
                                .arg(QLatin1String(row->name), QLatin1String(row->syntax))};
            return false;
        }
    }
    *out = o;
    return true;
}

QString LinkOptions::toString() const
{
    QStringList items;
    for (const OptionRow &row : Rows) {
        const QString value = row.write(*this);
        if (!value.isNull())
            items << QStringLiteral("%1=%2").arg(QLatin1String(row.name), value);
    }
    return items.join(QLatin1Char(';'));
}

QString linkOptionsHelp()
{
    QStringList lines;
    for (const OptionRow &row : Rows)
        lines << QStringLiteral("%1=%2  %3")
                     .arg(QLatin1String(row.name), QLatin1String(row.syntax),
                          QLatin1String(row.help));
    return lines.join(QLatin1Char('\n'));
}
