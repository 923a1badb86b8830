#include "Commands.h"
#include "SignalWatcher.h"

#include "FaultControl.h"
#include "SimServer.h"
#include "TagDatabase.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTimer>
#include <cstdio>

namespace tools
{

namespace
{

constexpr quint16 DefaultPort = 44818;

bool intOption(const QCommandLineParser &p, const char *name, int min, int max, int *out)
{
    const QString key = QLatin1String(name);
    if (!p.isSet(key))
        return true;
    bool ok = false;
    const int v = p.value(key).toInt(&ok, 0);
    if (!ok || v < min || v > max) {
        std::fprintf(stderr, "quorvex sim: --%s needs a number from %d to %d\n", name, min, max);
        return false;
    }
    *out = v;
    return true;
}

bool listenOption(const QCommandLineParser &p, qsim::SimOptions *o)
{
    if (!p.isSet(QStringLiteral("listen")))
        return true;
    const QString v = p.value(QStringLiteral("listen"));
    const int colon = v.lastIndexOf(QLatin1Char(':'));
    bool ok = colon > 0;
    const uint port = v.mid(colon + 1).toUInt(&ok);
    if (colon <= 0 || !ok || port > 0xFFFF) {
        std::fprintf(stderr, "quorvex sim: --listen needs HOST:PORT, e.g. 127.0.0.1:0\n");
        return false;
    }
    o->listenHost = v.left(colon);
    o->port = static_cast<quint16>(port);
    return true;
}

// --slot, --bridge, --direct: which routes reach the processor.
bool routeOptions(const QCommandLineParser &p, qsim::SimOptions *o)
{
    if (!intOption(p, "slot", 0, 0xFF, &o->slot))
        return false;
    o->direct = p.isSet(QStringLiteral("direct"));
    if (p.isSet(QStringLiteral("bridge"))) {
        const QString v = p.value(QStringLiteral("bridge"));
        QHostAddress a;
        const QRegularExpression dotted(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
        if (!dotted.match(v).hasMatch() || !a.setAddress(v) ||
            a.protocol() != QAbstractSocket::IPv4Protocol) {
            std::fprintf(stderr, "quorvex sim: --bridge needs an IPv4 address A.B.C.D\n");
            return false;
        }
        o->bridge = v;
    }
    if (o->direct && (o->slot >= 0 || !o->bridge.isEmpty())) {
        std::fprintf(stderr, "quorvex sim: --direct takes no --slot or --bridge\n");
        return false;
    }
    return true;
}

} // namespace

int runSim(const QStringList &args)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral("Runs a simulated controller that answers EtherNet/IP + CIP tag reads.\n"
                       "Prints 'LISTEN HOST:PORT' (or 'SERIAL PATH') once it is ready; stops on\n"
                       "SIGINT or SIGTERM. Reach it with --connect HOST:PORT[;options], e.g.\n"
                       "quorvex read --connect 127.0.0.1:44818 DintTag ('quorvex read --help'\n"
                       "lists the ;options)."));
    p.addHelpOption();
    p.addOptions({
        {QStringLiteral("listen"),
         QStringLiteral("Address to listen on (default 127.0.0.1:44818; "
                        "port 0 picks a free one)."),
         QStringLiteral("host:port")},
        {QStringLiteral("tags"), QStringLiteral("JSON tag database instead of the built-in set."),
         QStringLiteral("file")},
        {QStringLiteral("serial"), QStringLiteral("Serve a pseudo-terminal instead of TCP.")},
        {QStringLiteral("max-seconds"), QStringLiteral("Stop after this many seconds."),
         QStringLiteral("n")},
        {QStringLiteral("delay-ms"),
         QStringLiteral("Hold every reply this long (with --max-outstanding, on TCP: this "
                        "long after its own request came)."),
         QStringLiteral("ms")},
        {QStringLiteral("max-outstanding"),
         QStringLiteral("With --delay-ms, on TCP: requests in flight together are answered "
                        "together, at most n held at once; beyond them tag requests answer "
                        "general status 0x02."),
         QStringLiteral("n")},
        {QStringLiteral("byte-delay-us"),
         QStringLiteral("Write reply bytes this far apart, on the serial line and on TCP "
                        "(1042 for 9600 baud 8N1, 521 for 19200)."),
         QStringLiteral("us")},
        {QStringLiteral("split-gap-ms"),
         QStringLiteral("Write every reply in two halves, this far apart."), QStringLiteral("ms")},
        {QStringLiteral("close-after"),
         QStringLiteral("Close a connection after answering n requests."), QStringLiteral("n")},
        {QStringLiteral("silent-after"),
         QStringLiteral("Stop answering a connection after n requests."), QStringLiteral("n")},
        {QStringLiteral("garbage"), QStringLiteral("Answer with nonsense bytes.")},
        {QStringLiteral("error-status"),
         QStringLiteral("Answer every tag read with this CIP general status (e.g. 0x05)."),
         QStringLiteral("status")},
        {QStringLiteral("reject-register"),
         QStringLiteral("Refuse RegisterSession (status 0x69, handle 0).")},
        {QStringLiteral("slot"),
         QStringLiteral("The processor's backplane slot (0-255): only the route port 1 link n "
                        "is taken, others get status 0x01/0x0312. Without it any route is."),
         QStringLiteral("n")},
        {QStringLiteral("bridge"),
         QStringLiteral("Reached through an Ethernet bridge: only the route port 1 link k, "
                        "port 2 A.B.C.D, port 1 link <slot> (0 without --slot) is taken."),
         QStringLiteral("A.B.C.D")},
        {QStringLiteral("direct"),
         QStringLiteral("Addressed directly: bare requests only; Unconnected Send and a Forward "
                        "Open with a route get status 0x01/0x0311.")},
        {QStringLiteral("max-connection-size"),
         QStringLiteral("Largest connection size a Forward Open may ask for (default 4002; at most "
                        "511 for the 16-bit Forward Open); larger gets 0x01/0x0109."),
         QStringLiteral("bytes")},
        {QStringLiteral("no-large-forward-open"),
         QStringLiteral("Answer Large Forward Open (0x5B) with status 0x08.")},
        {QStringLiteral("no-forward-open"),
         QStringLiteral("Answer Forward Open and Large Forward Open with status 0x08.")},
        {QStringLiteral("connection-timeout-ms"),
         QStringLiteral("Drop a CIP connection idle this long, instead of after its O->T RPI x "
                        "(4 << time-out multiplier)."),
         QStringLiteral("ms")},
        {QStringLiteral("restart-after"),
         QStringLiteral("After every n tag requests close every connection and stop listening "
                        "for --restart-gap-ms, then listen on the same port again."),
         QStringLiteral("n")},
        {QStringLiteral("restart-gap-ms"),
         QStringLiteral("How long a restart keeps the port closed (default 500)."),
         QStringLiteral("ms")},
        {QStringLiteral("blackhole-after"),
         QStringLiteral("After every n tag requests answer nothing, closing nothing, for "
                        "--blackhole-ms."),
         QStringLiteral("n")},
        {QStringLiteral("blackhole-ms"),
         QStringLiteral("How long such an outage lasts (default 2000)."), QStringLiteral("ms")},
        {QStringLiteral("pull-after"),
         QStringLiteral("After every n tag requests act as a pulled cable for --pull-ms: answer "
                        "nothing, close nothing, leave connection attempts unanswered."),
         QStringLiteral("n")},
        {QStringLiteral("pull-ms"),
         QStringLiteral("How long the cable stays pulled (default 3000)."), QStringLiteral("ms")},
        {QStringLiteral("duplicate-every"),
         QStringLiteral("Send every n-th tag reply of a connection twice (1: every reply)."),
         QStringLiteral("n")},
        {QStringLiteral("duplicate-nth"),
         QStringLiteral("Send the n-th tag reply of a connection twice."), QStringLiteral("n")},
        {QStringLiteral("duplicate-forward-open"),
         QStringLiteral("Send the reply of every accepted Forward Open twice.")},
        {QStringLiteral("duplicate-gap-ms"),
         QStringLiteral("Send a reply's copy this long after it (default 0: right behind it)."),
         QStringLiteral("ms")},
        {QStringLiteral("late-every"),
         QStringLiteral("Answer every n-th tag request of a connection --late-ms after it "
                        "came, and the requests after it as usual meanwhile (out of order)."),
         QStringLiteral("n")},
        {QStringLiteral("late-nth"),
         QStringLiteral("The same for the n-th tag request of a connection only."),
         QStringLiteral("n")},
        {QStringLiteral("late-ms"), QStringLiteral("How late such a reply comes (default 800)."),
         QStringLiteral("ms")},
        {QStringLiteral("stall-after"),
         QStringLiteral("After n tag replies on a connection answer nothing for --stall-ms, "
                        "then send every reply held meanwhile at once, in order."),
         QStringLiteral("n")},
        {QStringLiteral("stall-ms"), QStringLiteral("How long such a stall lasts (default 2000)."),
         QStringLiteral("ms")},
        {QStringLiteral("cut-after"),
         QStringLiteral("Answer n requests on a connection, then write half of the next reply "
                        "and close it (a serial line only leaves that reply unfinished)."),
         QStringLiteral("n")},
        {QStringLiteral("ignore-register"),
         QStringLiteral("Leave the first n RegisterSession requests unanswered, as a "
                        "controller still booting."),
         QStringLiteral("n")},
        {QStringLiteral("no-rmw"),
         QStringLiteral("Answer Read-Modify-Write (0x4E) on a tag with status 0x08.")},
        {QStringLiteral("toggle-bit"),
         QStringLiteral("Flip bit N of TAG before answering every tag request, as another "
                        "writer of the controller would."),
         QStringLiteral("TAG.N")},
    });
    if (!p.parse(QStringList{QStringLiteral("quorvex sim")} + args)) {
        std::fprintf(stderr, "quorvex sim: %s\n", qPrintable(p.errorText()));
        return ExitUsage;
    }
    if (p.isSet(QStringLiteral("help"))) {
        QString help = p.helpText();
        help.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                     QStringLiteral("Usage: quorvex sim"));
        std::fputs(qPrintable(help), stdout);
        return ExitOk;
    }
    if (!p.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "quorvex sim: unexpected argument '%s'\n",
                     qPrintable(p.positionalArguments().first()));
        return ExitUsage;
    }

    qsim::SimOptions o;
    o.port = DefaultPort;
    o.tagFile = p.value(QStringLiteral("tags"));
    o.serial = p.isSet(QStringLiteral("serial"));
    o.garbage = p.isSet(QStringLiteral("garbage"));
    o.rejectRegister = p.isSet(QStringLiteral("reject-register"));
    o.noForwardOpen = p.isSet(QStringLiteral("no-forward-open"));
    o.noLargeForwardOpen = p.isSet(QStringLiteral("no-large-forward-open"));
    o.duplicateForwardOpen = p.isSet(QStringLiteral("duplicate-forward-open"));
    o.noRmw = p.isSet(QStringLiteral("no-rmw"));
    o.toggleBit = p.value(QStringLiteral("toggle-bit"));
    const int big = 24 * 3600 * 1000;
    if (!listenOption(p, &o) || !intOption(p, "max-seconds", 0, 24 * 3600, &o.maxSeconds) ||
        !intOption(p, "delay-ms", 0, big, &o.delayMs) ||
        !intOption(p, "max-outstanding", 1, 1 << 16, &o.maxOutstanding) ||
        !intOption(p, "byte-delay-us", 0, big, &o.byteDelayUs) ||
        !intOption(p, "split-gap-ms", 0, big, &o.splitGapMs) ||
        !intOption(p, "close-after", 0, 1 << 30, &o.closeAfter) ||
        !intOption(p, "silent-after", 0, 1 << 30, &o.silentAfter) ||
        !intOption(p, "error-status", 0, 0xFF, &o.errorStatus) || !routeOptions(p, &o) ||
        !intOption(p, "max-connection-size", 1, 0xFFFF, &o.maxConnectionSize) ||
        !intOption(p, "connection-timeout-ms", 1, big, &o.connectionTimeoutMs) ||
        !intOption(p, "restart-after", 1, 1 << 30, &o.restartAfter) ||
        !intOption(p, "restart-gap-ms", 0, big, &o.restartGapMs) ||
        !intOption(p, "blackhole-after", 1, 1 << 30, &o.blackholeAfter) ||
        !intOption(p, "blackhole-ms", 0, big, &o.blackholeMs) ||
        !intOption(p, "pull-after", 1, 1 << 30, &o.pullAfter) ||
        !intOption(p, "pull-ms", 0, big, &o.pullMs) ||
        !intOption(p, "duplicate-every", 1, 1 << 30, &o.duplicateEvery) ||
        !intOption(p, "duplicate-nth", 1, 1 << 30, &o.duplicateNth) ||
        !intOption(p, "duplicate-gap-ms", 0, big, &o.duplicateGapMs) ||
        !intOption(p, "late-every", 1, 1 << 30, &o.lateEvery) ||
        !intOption(p, "late-nth", 1, 1 << 30, &o.lateNth) ||
        !intOption(p, "late-ms", 0, big, &o.lateMs) ||
        !intOption(p, "stall-after", 0, 1 << 30, &o.stallAfter) ||
        !intOption(p, "stall-ms", 0, big, &o.stallMs) ||
        !intOption(p, "cut-after", 0, 1 << 30, &o.cutAfter) ||
        !intOption(p, "ignore-register", 1, 1 << 30, &o.ignoreRegister))
        return ExitUsage;

    qsim::TagDatabase db;
    QString error;
    if (o.tagFile.isEmpty())
        db = qsim::defaultTags();
    else if (!qsim::loadTagFile(o.tagFile, &db, &error)) {
        std::fprintf(stderr, "quorvex sim: %s\n", qPrintable(error));
        return ExitFailure;
    }
    if (!o.toggleBit.isEmpty() && !db.setToggle(o.toggleBit, &error)) {
        std::fprintf(stderr, "quorvex sim: %s\n", qPrintable(error));
        return ExitUsage;
    }

    SignalWatcher watcher;
    qsim::FaultControl faults;
    faults.set(o);
    qsim::SimServer server(db, faults);
    if (!server.listen(o, &error)) {
        std::fprintf(stderr, "quorvex sim: %s\n", qPrintable(error));
        return ExitFailure;
    }
    QObject::connect(&watcher, &SignalWatcher::stopRequested, qApp, &QCoreApplication::quit);
    if (o.maxSeconds > 0)
        QTimer::singleShot(o.maxSeconds * 1000, qApp, &QCoreApplication::quit);

    if (o.serial)
        std::printf("SERIAL %s\n", qPrintable(server.serialPath()));
    else
        std::printf("LISTEN %s\n", qPrintable(server.address()));
    std::fflush(stdout);
    QCoreApplication::exec();
    std::fprintf(stderr, "quorvex sim: stopped after %d requests\n", faults.served.load());
    return ExitOk;
}

} // namespace tools
