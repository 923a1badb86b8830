#include "Commands.h"
#include "DriverHost.h"
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
};

// The latencies of one kind of call. Every slot is written before the
// memory is first measured, so that filling it later adds nothing to VmRSS.
struct Samples {
    explicit Samples(int capacity) : ns(static_cast<size_t>(capacity), 0) {}
    std::vector<qint64> ns;
    size_t used = 0;
};

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
    for (int i = 0; i < n && s->used < s->ns.size(); ++i) {
        t.start();
        const bool ok = once();
        s->ns[s->used++] = t.nsecsElapsed();
        if (!ok)
            return false;
    }
    return true;
}

QString us(double v)
{
    return QStringLiteral("%1 us").arg(v, 0, 'f', 1);
}

QString jsonFigures(const Figures &f)
{
    return QStringLiteral("{\"median_us\":%1,\"p99_us\":%2,\"reads_per_s\":%3}")
        .arg(f.medianUs, 0, 'f', 2)
        .arg(f.p99Us, 0, 'f', 2)
        .arg(f.perSecond, 0, 'f', 0);
}

struct Pair {
    Figures driver, raw;
    double ratio() const { return raw.medianUs > 0 ? driver.medianUs / raw.medianUs : 0; }
};

void printPair(const char *title, const Pair &p)
{
    std::printf("%-24s %12s %12s %12s\n", title, "median", "p99", "reads/s");
    std::printf("  %-22s %12s %12s %12.0f\n", "driver", qPrintable(us(p.driver.medianUs)),
                qPrintable(us(p.driver.p99Us)), p.driver.perSecond);
    std::printf("  %-22s %12s %12s %12.0f\n", "raw client", qPrintable(us(p.raw.medianUs)),
                qPrintable(us(p.raw.p99Us)), p.raw.perSecond);
    std::printf("  %-22s %12.2f\n\n", "ratio driver/raw", p.ratio());
}

int positive(const QCommandLineParser &p, const char *name, int fallback, bool *ok)
{
    if (!p.isSet(QLatin1String(name)))
        return fallback;
    const int v = p.value(QLatin1String(name)).toInt(ok);
    *ok = *ok && v >= 1;
    return v;
}

} // namespace

int runBench(const QStringList &args)
{
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Measures one-element reads and 10,000-element DINT array reads (in fragments)\n"
        "through the driver and through a minimal raw-socket client, against the same\n"
        "server: median and 99th-percentile latency, reads per second, the ratio\n"
        "driver/raw, and resident memory before and after the reads. Without --connect\n"
        "it runs the bundled simulator in its own thread; a server given by --connect\n"
        "must have DintTag (DINT) and BigArray (DINT[10000] or more). It reports, it\n"
        "does not judge; --trace and --pcap slow it down."));
    addHostOptions(p, true);
    p.addOption({QStringLiteral("reads"),
                 QStringLiteral("One-element reads per client (default 100000)."),
                 QStringLiteral("n")});
    p.addOption({QStringLiteral("array-reads"),
                 QStringLiteral("Array reads per client (default reads/100, at least 10)."),
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
    const bool json = p.isSet(QStringLiteral("json"));
    HostOptions o = hostOptions(p, true);

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
    const QString host = o.connect.section(QLatin1Char(':'), 0, 0);
    const quint16 port = static_cast<quint16>(o.connect.section(QLatin1Char(':'), 1).toUInt());

    DriverHost driverHost("bench");
    if (!driverHost.load(o) || !driverHost.connect(o.connect))
        return ExitFailure;
    CDriveBaseClass *drv = driverHost.driver();

    // The raw client sends what the driver sends: take the driver's first
    // request of each read from its trace.
    TraceTap &tap = TraceTap::instance();
    tap.takeCaptured();
    tap.setCapture(true);
    drv->DebugCmd(DBG_StartDebug);
    const CLabelVariable one = drv->ReadVariable(ScalarTag, DT_Int32, 1);
    const QList<TraceFrame> scalarFrames = tap.takeCaptured();
    const CLabelVariable many = drv->ReadVariable(ArrayTag, DT_Int32, ArrayCount);
    const QList<TraceFrame> arrayFrames = tap.takeCaptured();
    tap.setCapture(false);
    if (!driverHost.traceWanted())
        drv->DebugCmd(DBG_StopDebug);
    if (one.status != 0 || many.status != 0) {
        std::fprintf(stderr, "quorvex bench: the driver cannot read %s and %s[%d]: %s\n",
                     qPrintable(ScalarTag), qPrintable(ArrayTag), ArrayCount,
                     qPrintable(driverHost.failureText(one.status ? one.status : many.status)));
        return ExitFailure;
    }
    int driverArrayFrames = 0;
    for (const TraceFrame &f : arrayFrames)
        driverArrayFrames += f.toController;
    if (scalarFrames.isEmpty() || arrayFrames.isEmpty() || !scalarFrames.first().toController ||
        !arrayFrames.first().toController) {
        std::fprintf(stderr, "quorvex bench: the driver's trace showed no request\n");
        return ExitFailure;
    }
    const QByteArray scalarRequest = scalarFrames.first().bytes;
    const QByteArray arrayRequest = arrayFrames.first().bytes;

    RawClient raw;
    QString error;
    if (!raw.open(host, port, &error)) {
        std::fprintf(stderr, "quorvex bench: %s\n", qPrintable(error));
        return ExitFailure;
    }
    int rawArrayFrames = 0;
    const int arrayBytes = raw.readAll(arrayRequest, &rawArrayFrames);
    if (raw.exchange(scalarRequest).isEmpty() || arrayBytes != ArrayCount * 4) {
        std::fprintf(stderr, "quorvex bench: the raw client's reads failed\n");
        return ExitFailure;
    }

    const auto driverScalar = [&] { return drv->ReadVariable(ScalarTag, DT_Int32, 1).status == 0; };
    const auto rawScalar = [&] { return !raw.exchange(scalarRequest).isEmpty(); };
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
    const long rssBefore = rssKb();
    bool good = true;
    for (int b = 0; b < Blocks && good; ++b) {
        const int n = reads / Blocks + (b < reads % Blocks ? 1 : 0);
        good = timeCalls(n, &dS, driverScalar) && timeCalls(n, &rS, rawScalar);
    }
    const long rssAfter = rssKb();
    for (int b = 0; b < Blocks && good; ++b) {
        const int n = arrayReads / Blocks + (b < arrayReads % Blocks ? 1 : 0);
        good = timeCalls(n, &dA, driverArray) && timeCalls(n, &rA, rawArray);
    }
    const long rssAfterArrays = rssKb();
    if (!good) {
        std::fprintf(stderr, "quorvex bench: a read failed during the measurement\n");
        return ExitFailure;
    }

    const Pair scalar{figures(dS), figures(rS)};
    const Pair array{figures(dA), figures(rA)};
    const QString server =
        sim ? QStringLiteral("bundled simulator at %1").arg(o.connect) : o.connect;
    if (json) {
        std::printf(
            "%s\n",
            qPrintable(QStringLiteral("{\"server\":\"%1\",\"reads\":%2,\"array_reads\":%3,"
                                      "\"array_elements\":%4,\"array_frames\":{\"driver\":%5,"
                                      "\"raw\":%6},\"one_element\":{\"driver\":%7,\"raw\":%8,"
                                      "\"ratio\":%9},")
                           .arg(server)
                           .arg(reads)
                           .arg(arrayReads)
                           .arg(ArrayCount)
                           .arg(driverArrayFrames)
                           .arg(rawArrayFrames)
                           .arg(jsonFigures(scalar.driver), jsonFigures(scalar.raw))
                           .arg(scalar.ratio(), 0, 'f', 3) +
                       QStringLiteral("\"array\":{\"driver\":%1,\"raw\":%2,\"ratio\":%3},"
                                      "\"vmrss_kb\":{\"before\":%4,\"after\":%5,"
                                      "\"after_arrays\":%6}}")
                           .arg(jsonFigures(array.driver), jsonFigures(array.raw))
                           .arg(array.ratio(), 0, 'f', 3)
                           .arg(rssBefore)
                           .arg(rssAfter)
                           .arg(rssAfterArrays)));
        return ExitOk;
    }
    std::printf("quorvex bench against the %s\n", qPrintable(server));
    std::printf("%d one-element reads of %s and %d reads of %s[%d] per client; an array read\n"
                "takes %d frames through the driver and %d through the raw client.\n\n",
                reads, qPrintable(ScalarTag), arrayReads, qPrintable(ArrayTag), ArrayCount,
                driverArrayFrames, rawArrayFrames);
    printPair("one element (DINT)", scalar);
    printPair("10,000 DINT, fragmented", array);
    std::printf("VmRSS %ld kB before the one-element reads, %ld kB after them (%+ld kB), "
                "%ld kB after the array reads\n",
                rssBefore, rssAfter, rssAfter - rssBefore, rssAfterArrays);
    return ExitOk;
}

} // namespace tools
