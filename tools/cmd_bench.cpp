#include "BenchWindow.h"
#include "ByteOrder.h"
#include "Commands.h"
#include "DriverHost.h"
#include "EipProtocol.h"
#include "LinkOptions.h"
#include "RawClient.h"
#include "SimRunner.h"
#include "TraceTap.h"

#include <QElapsedTimer>
#include <QFile>
#include <QVector>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <vector>

namespace tools
{

namespace
{

const QString ScalarTag = QStringLiteral("DintTag");
const QString ArrayTag = QStringLiteral("BigArray");
constexpr int ArrayCount = 10000;
constexpr int Blocks = 10; // driver and raw client take turns, to share any drift
constexpr int Warmup = 200;

struct Figures {
    double medianUs = 0, p99Us = 0, perSecond = 0;
    double cpuUs = 0; // user and system time of the calling thread per call
};

// The latencies of one kind of call. Every slot is written before the
// memory is first measured, so that filling it later adds nothing to VmRSS.
struct Samples {
    explicit Samples(int capacity) : ns(static_cast<size_t>(capacity), 0) {}
    std::vector<qint64> ns;
    size_t used = 0;
    qint64 cpuNs = 0;
};

// CPU time of the calling thread only: the bundled simulator answers from
// its own thread of this process, and its work is not the client's.
qint64 threadCpuNs()
{
    rusage u = {};
    if (::getrusage(RUSAGE_THREAD, &u) != 0)
        return 0;
    const auto ns = [](const timeval &t) {
        return qint64(t.tv_sec) * 1000000000 + t.tv_usec * 1000;
    };
    return ns(u.ru_utime) + ns(u.ru_stime);
}

Figures figures(const Samples &s)
{
    std::vector<qint64> ns(s.ns.begin(), s.ns.begin() + static_cast<long>(s.used));
    Figures f;
    if (ns.empty())
        return f;
    qint64 total = 0;
    for (const qint64 x : ns)
        total += x;
    std::sort(ns.begin(), ns.end());
    const size_t n = ns.size();
    f.medianUs = ns[n / 2] / 1e3;
    const size_t p99 = static_cast<size_t>(std::ceil(n * 0.99));
    f.p99Us = ns[qMin(n, qMax<size_t>(p99, 1)) - 1] / 1e3;
    f.perSecond = total > 0 ? n * 1e9 / total : 0;
    f.cpuUs = s.cpuNs / 1e3 / n;
    return f;
}

long rssKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (QByteArray line = f.readLine(); !line.isEmpty(); line = f.readLine())
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

// Times `n` calls of `once`, each on its own; false as soon as one fails.
bool timeCalls(int n, Samples *s, const std::function<bool()> &once)
{
    QElapsedTimer t;
    const qint64 cpuStart = threadCpuNs();
    bool ok = true;
    for (int i = 0; i < n && ok && s->used < s->ns.size(); ++i) {
        t.start();
        ok = once();
        s->ns[s->used++] = t.nsecsElapsed();
    }
    s->cpuNs += threadCpuNs() - cpuStart;
    return ok;
}

QString us(double v)
{
    return QStringLiteral("%1 us").arg(v, 0, 'f', 1);
}

QString jsonFigures(const Figures &f)
{
    return QStringLiteral("{\"median_us\":%1,\"p99_us\":%2,\"reads_per_s\":%3,\"cpu_us\":%4}")
        .arg(f.medianUs, 0, 'f', 2)
        .arg(f.p99Us, 0, 'f', 2)
        .arg(f.perSecond, 0, 'f', 0)
        .arg(f.cpuUs, 0, 'f', 2);
}

struct Pair {
    Figures driver, raw;
    double ratio() const { return raw.medianUs > 0 ? driver.medianUs / raw.medianUs : 0; }
    double cpuRatio() const { return raw.cpuUs > 0 ? driver.cpuUs / raw.cpuUs : 0; }
};

void printPair(const char *title, const Pair &p)
{
    std::printf("%-24s %12s %12s %12s %12s\n", title, "median", "p99", "reads/s", "CPU/read");
    std::printf("  %-22s %12s %12s %12.0f %12s\n", "driver", qPrintable(us(p.driver.medianUs)),
                qPrintable(us(p.driver.p99Us)), p.driver.perSecond, qPrintable(us(p.driver.cpuUs)));
    std::printf("  %-22s %12s %12s %12.0f %12s\n", "raw client", qPrintable(us(p.raw.medianUs)),
                qPrintable(us(p.raw.p99Us)), p.raw.perSecond, qPrintable(us(p.raw.cpuUs)));
    std::printf("  %-22s %12.2f %12s %12s %12.2f\n\n", "ratio driver/raw", p.ratio(), "", "",
                p.cpuRatio());
}

int positive(const QCommandLineParser &p, const char *name, int fallback, bool *ok, int least = 1)
{
    if (!p.isSet(QLatin1String(name)))
        return fallback;
    const int v = p.value(QLatin1String(name)).toInt(ok);
    *ok = *ok && v >= least;
    return v;
}

// The first request of a kind the driver sent during one read.
QByteArray firstRequest(const QList<TraceFrame> &frames, quint16 command)
{
    for (const TraceFrame &f : frames)
        if (f.toController && le::getPadded(f.bytes, eip::OffCommand, 2) == command)
            return f.bytes;
    return QByteArray();
}

int requestCount(const QList<TraceFrame> &frames)
{
    int n = 0;
    for (const TraceFrame &f : frames)
        n += f.toController;
    return n;
}

struct Mode {
    const char *name;
    bool connected;
};

struct ModeResult {
    int driverArrayFrames = 0, rawArrayFrames = 0;
    Pair scalar, array;
    long rssBefore = -1, rssAfter = -1, rssAfterArrays = -1;
};

// One mode: the driver already connected in it, the raw client too. The raw
// client sends the Message Router requests the driver sent, taken from its
// trace, each in its own envelope.
bool measure(const Mode &mode, DriverHost &host, RawClient &raw, int reads, int arrayReads,
             ModeResult *out)
{
    CDriveBaseClass *drv = host.driver();
    TraceTap &tap = TraceTap::instance();
    tap.takeCaptured();
    tap.setCapture(true);
    drv->DebugCmd(DBG_StartDebug);
    const Outcome one = host.read(ScalarTag, DT_Int32, 1);
    const QList<TraceFrame> scalarFrames = tap.takeCaptured();
    const Outcome many = host.read(ArrayTag, DT_Int32, ArrayCount);
    const QList<TraceFrame> arrayFrames = tap.takeCaptured();
    tap.setCapture(false);
    if (!host.traceWanted())
        drv->DebugCmd(DBG_StopDebug);
    if (one.value.status != 0 || many.value.status != 0) {
        std::fprintf(stderr, "quorvex bench: %s: the driver cannot read %s and %s[%d]: %s\n",
                     mode.name, qPrintable(ScalarTag), qPrintable(ArrayTag), ArrayCount,
                     failureText(one.value.status ? one : many).toUtf8().constData());
        return false;
    }
    const quint16 command = mode.connected ? eip::SendUnitData : eip::SendRRData;
    const QByteArray scalarRequest = messageRouterRequest(firstRequest(scalarFrames, command));
    const QByteArray arrayRequest = messageRouterRequest(firstRequest(arrayFrames, command));
    if (scalarRequest.isEmpty() || arrayRequest.isEmpty()) {
        std::fprintf(stderr, "quorvex bench: %s: the driver's trace showed no %s request\n",
                     mode.name, mode.connected ? "SendUnitData" : "SendRRData");
        return false;
    }
    out->driverArrayFrames = requestCount(arrayFrames);

    if (raw.readAll(arrayRequest, &out->rawArrayFrames) != ArrayCount * 4 ||
        raw.request(scalarRequest).isEmpty()) {
        std::fprintf(stderr, "quorvex bench: %s: the raw client's reads failed\n", mode.name);
        return false;
    }

    const auto driverScalar = [&] { return drv->ReadVariable(ScalarTag, DT_Int32, 1).status == 0; };
    const auto rawScalar = [&] { return !raw.request(scalarRequest).isEmpty(); };
    const auto driverArray = [&] {
        return drv->ReadVariable(ArrayTag, DT_Int32, ArrayCount).status == 0;
    };
    const auto rawArray = [&] {
        int frames = 0;
        return raw.readAll(arrayRequest, &frames) == ArrayCount * 4;
    };

    Samples warm(2 * Warmup);
    timeCalls(Warmup, &warm, driverScalar);
    timeCalls(Warmup, &warm, rawScalar);

    Samples dS(reads), rS(reads), dA(arrayReads), rA(arrayReads);
    out->rssBefore = rssKb();
    bool good = true;
    for (int b = 0; b < Blocks && good; ++b) {
        const int n = reads / Blocks + (b < reads % Blocks ? 1 : 0);
        good = timeCalls(n, &dS, driverScalar) && timeCalls(n, &rS, rawScalar);
    }
    out->rssAfter = rssKb();
    for (int b = 0; b < Blocks && good; ++b) {
        const int n = arrayReads / Blocks + (b < arrayReads % Blocks ? 1 : 0);
        good = timeCalls(n, &dA, driverArray) && timeCalls(n, &rA, rawArray);
    }
    out->rssAfterArrays = rssKb();
    if (!good) {
        std::fprintf(stderr, "quorvex bench: %s: a read failed during the measurement\n",
                     mode.name);
        return false;
    }
    out->scalar = Pair{figures(dS), figures(rS)};
    out->array = Pair{figures(dA), figures(rA)};
    return true;
}

// How many times less time the connected array read takes.
double speedup(const Figures &unconnected, const Figures &connected)
{
    return connected.medianUs > 0 ? unconnected.medianUs / connected.medianUs : 0;
}

QString jsonMode(const ModeResult &m)
{
    return QStringLiteral("{\"array_frames\":{\"driver\":%1,\"raw\":%2},"
                          "\"one_element\":{\"driver\":%3,\"raw\":%4,\"ratio\":%5,"
                          "\"cpu_ratio\":%6},")
               .arg(m.driverArrayFrames)
               .arg(m.rawArrayFrames)
               .arg(jsonFigures(m.scalar.driver), jsonFigures(m.scalar.raw))
               .arg(m.scalar.ratio(), 0, 'f', 3)
               .arg(m.scalar.cpuRatio(), 0, 'f', 3) +
           QStringLiteral("\"array\":{\"driver\":%1,\"raw\":%2,\"ratio\":%3,"
                          "\"cpu_ratio\":%4}}")
               .arg(jsonFigures(m.array.driver), jsonFigures(m.array.raw))
               .arg(m.array.ratio(), 0, 'f', 3)
               .arg(m.array.cpuRatio(), 0, 'f', 3);
}

} // namespace

int runBench(const QStringList &args)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral(
            "Measures one-element reads and 10,000-element DINT array reads (in fragments)\n"
            "through the driver and through a minimal raw-socket client, against the same\n"
            "server, twice: unconnected, and over a connection (the --connect string plus\n"
            "\";connected=large\"; the raw client opens its own). Median and 99th-percentile\n"
            "latency, reads per second, CPU time per read (user and system time of the\n"
            "calling thread), frames per array read, the ratios driver/raw, and\n"
            "resident memory before and after the reads. Without --connect it runs the\n"
            "bundled simulator in its own thread; a server given by --connect must have\n"
            "DintTag (DINT) and BigArray (DINT[10000] or more) and take Large Forward Open.\n"
            "It reports, it does not judge; --trace and --pcap slow it down.\n\n") +
        connectOptionsHelp());
    addHostOptions(p, true);
    p.addOption({QStringLiteral("reads"),
                 QStringLiteral("One-element reads per client and mode (default 100000)."),
                 QStringLiteral("n")});
    p.addOption(
        {QStringLiteral("array-reads"),
         QStringLiteral("Array reads per client and mode (default reads/100, at least 10)."),
         QStringLiteral("n")});
    p.addOption({QStringLiteral("delay-ms"),
                 QStringLiteral("The bundled simulator holds every reply this long (default 0); "
                                "not with --connect."),
                 QStringLiteral("ms")});
    p.addOption({QStringLiteral("window"),
                 QStringLiteral("Also compare window=1 with window=N (2..8) on the array read, "
                                "unconnected and connected=large, array-reads reads each."),
                 QStringLiteral("n")});
    p.addOption({QStringLiteral("json"), QStringLiteral("The figures as one JSON object.")});
    int exitCode = 0;
    if (!parseCommandLine(p, "bench", args, &exitCode))
        return exitCode;
    if (!p.positionalArguments().isEmpty())
        return usageError(
            "bench",
            QStringLiteral("unexpected argument '%1'").arg(p.positionalArguments().first()));
    bool ok = true;
    const int reads = positive(p, "reads", 100000, &ok);
    if (!ok)
        return usageError("bench", QStringLiteral("--reads needs a number of at least 1"));
    const int arrayReads = positive(p, "array-reads", qMax(10, reads / 100), &ok);
    if (!ok)
        return usageError("bench", QStringLiteral("--array-reads needs a number of at least 1"));
    const int delayMs = positive(p, "delay-ms", 0, &ok, 0);
    if (!ok)
        return usageError("bench", QStringLiteral("--delay-ms needs a number of at least 0"));
    const int window = positive(p, "window", 0, &ok, 2);
    if (!ok || window > MaxWindow)
        return usageError("bench",
                          QStringLiteral("--window needs a number from 2 to %1").arg(MaxWindow));
    const bool json = p.isSet(QStringLiteral("json"));
    HostOptions o = hostOptions(p, true);
    if (!o.connect.isEmpty() && p.isSet(QStringLiteral("delay-ms")))
        return usageError("bench",
                          QStringLiteral("--delay-ms sets the bundled simulator's latency; a "
                                         "server given by --connect has its own"));

    // Only the text before the first ";" names the server; the options in
    // the rest decide the route the raw client's connection takes.
    LinkOptions linkOptions;
    OptionError optionError;
    if (o.connect.contains(QLatin1Char(';')) &&
        !parseLinkOptions(o.connect.section(QLatin1Char(';'), 1), &linkOptions, &optionError))
        return usageError("bench", QStringLiteral("--connect: option '%1': %2")
                                       .arg(optionError.option, optionError.reason));
    if (linkOptions.connected != ConnectedMode::Off || linkOptions.window != 1)
        return usageError("bench",
                          QStringLiteral("--connect: leave connected= and window= out, the bench "
                                         "runs both unconnected and connected=large"));

    std::unique_ptr<qsim::SimRunner> sim;
    if (o.connect.isEmpty()) {
        sim = std::make_unique<qsim::SimRunner>();
        if (!sim->start()) {
            std::fprintf(stderr, "quorvex bench: the simulator did not start: %s\n",
                         qPrintable(sim->errorString()));
            return ExitFailure;
        }
        o.connect = sim->address();
    }
    const QString endpoint = o.connect.section(QLatin1Char(';'), 0, 0);
    const QString host = endpoint.section(QLatin1Char(':'), 0, 0);
    const quint16 port = static_cast<quint16>(endpoint.section(QLatin1Char(':'), 1).toUInt());
    const QString connectedString = o.connect + QStringLiteral(";connected=large");

    DriverHost driverHost("bench");
    if (!driverHost.load(o))
        return ExitFailure;
    if (const int rc = driverHost.connect(o.connect))
        return rc;
    RawClient raw;
    QString error;
    if (!raw.open(host, port, &error)) {
        std::fprintf(stderr, "quorvex bench: %s\n", qPrintable(error));
        return ExitFailure;
    }
    if (sim) {
        qsim::SimFaults f = sim->faults();
        f.delayMs = delayMs;
        // Requests in flight together are answered together.
        if (window > 0)
            f.maxOutstanding = MaxWindow;
        sim->setFaults(f);
    }

    const Mode unconnectedMode{"unconnected", false};
    const Mode connectedMode{"connected=large", true};
    ModeResult u, c;
    if (!measure(unconnectedMode, driverHost, raw, reads, arrayReads, &u))
        return ExitFailure;
    driverHost.driver()->DisConnectDrive();
    if (const int rc = driverHost.connect(connectedString))
        return rc;
    if (!raw.openConnection(linkOptions.route, true, &error)) {
        std::fprintf(stderr, "quorvex bench: %s\n", qPrintable(error));
        return ExitFailure;
    }
    if (!measure(connectedMode, driverHost, raw, reads, arrayReads, &c))
        return ExitFailure;
    if (!raw.closeConnection())
        std::fprintf(stderr, "quorvex bench: note: the raw client's Forward Close was not "
                             "confirmed\n");
    const long rssEnd = rssKb();
    WindowComparison windows;
    if (window > 0 &&
        !compareWindows(driverHost, o.connect, ArrayTag, ArrayCount, window, arrayReads, &windows))
        return ExitFailure;

    const QString server =
        sim ? QStringLiteral("bundled simulator at %1").arg(o.connect) : o.connect;
    const double driverGain = speedup(u.array.driver, c.array.driver);
    const double rawGain = speedup(u.array.raw, c.array.raw);
    if (json) {
        // The top-level figures are the unconnected ones, as before.
        QString text = QStringLiteral("{\"server\":\"%1\",\"delay_ms\":%2,\"reads\":%3,"
                                      "\"array_reads\":%4,\"array_elements\":%5,")
                           .arg(server)
                           .arg(sim ? QString::number(delayMs) : QStringLiteral("null"))
                           .arg(reads)
                           .arg(arrayReads)
                           .arg(ArrayCount) +
                       jsonMode(u).mid(1).chopped(1) +
                       QStringLiteral(",\"connected\":%1,\"array_speedup\":{\"driver\":%2,"
                                      "\"raw\":%3},\"vmrss_kb\":{\"before\":%4,\"after\":%5,"
                                      "\"after_arrays\":%6,\"end\":%7}}")
                           .arg(jsonMode(c))
                           .arg(driverGain, 0, 'f', 2)
                           .arg(rawGain, 0, 'f', 2)
                           .arg(u.rssBefore)
                           .arg(u.rssAfter)
                           .arg(u.rssAfterArrays)
                           .arg(rssEnd);
        if (window > 0)
            text.insert(text.size() - 1, QLatin1Char(',') + jsonWindowComparison(windows));
        std::printf("%s\n", qPrintable(text));
        return ExitOk;
    }
    std::printf("quorvex bench against the %s", qPrintable(server));
    if (sim)
        std::printf(", every reply held %d ms", delayMs);
    std::printf("\n%d one-element reads of %s and %d reads of %s[%d] per client and mode.\n\n",
                reads, qPrintable(ScalarTag), arrayReads, qPrintable(ArrayTag), ArrayCount);
    std::printf("%-24s %12s %12s\n", "frames per array read", "driver", "raw client");
    std::printf("  %-22s %12d %12d\n", unconnectedMode.name, u.driverArrayFrames, u.rawArrayFrames);
    std::printf("  %-22s %12d %12d\n\n", connectedMode.name, c.driverArrayFrames, c.rawArrayFrames);
    printPair("one element, unconn.", u.scalar);
    printPair("one element, connected", c.scalar);
    printPair("10,000 DINT, unconn.", u.array);
    printPair("10,000 DINT, connected", c.array);
    std::printf("10,000 DINT median, unconnected / connected=large: driver %.2f, raw client "
                "%.2f\n\n",
                driverGain, rawGain);
    std::printf("VmRSS %ld kB before the one-element reads, %ld kB after them (%+ld kB), "
                "%ld kB after the array reads, %ld kB at the end\n",
                u.rssBefore, u.rssAfter, u.rssAfter - u.rssBefore, u.rssAfterArrays, rssEnd);
    if (window > 0) {
        std::printf("\n");
        printWindowComparison(windows, ArrayCount);
    }
    return ExitOk;
}

} // namespace tools
