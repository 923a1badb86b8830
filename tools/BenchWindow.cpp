#include "BenchWindow.h"
#include "Commands.h"

#include <QElapsedTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace tools
{

namespace
{

bool timeReads(DriverHost &host, const QString &tag, int count, int reads, WindowRun *run)
{
    CDriveBaseClass *drv = host.driver();
    // One read first, so that the connection's setup is not in the figures.
    if (drv->ReadVariable(tag, DT_Int32, count).status != 0)
        return false;
    std::vector<qint64> ns;
    ns.reserve(static_cast<size_t>(reads));
    QElapsedTimer t;
    for (int i = 0; i < reads; ++i) {
        t.start();
        const int status = drv->ReadVariable(tag, DT_Int32, count).status;
        ns.push_back(t.nsecsElapsed());
        if (status != 0)
            return false;
    }
    std::sort(ns.begin(), ns.end());
    const size_t n = ns.size();
    run->reads = static_cast<int>(n);
    run->medianUs = ns[n / 2] / 1e3;
    run->minUs = ns.front() / 1e3;
    const size_t p99 = static_cast<size_t>(std::ceil(n * 0.99));
    run->p99Us = ns[qMin(n, qMax<size_t>(p99, 1)) - 1] / 1e3;
    return true;
}

double ratio(const WindowRun &one, const WindowRun &many)
{
    return one.medianUs > 0 ? many.medianUs / one.medianUs : 0;
}

} // namespace

bool compareWindows(DriverHost &host, const QString &connect, const QString &tag, int count,
                    int window, int reads, WindowComparison *out)
{
    out->window = window;
    out->runs.clear();
    for (const bool connected : {false, true}) {
        for (const int w : {1, window}) {
            WindowRun run;
            run.connected = connected;
            run.window = w;
            run.name = QStringLiteral("%1window=%2")
                           .arg(connected ? QStringLiteral("connected=large;") : QString())
                           .arg(w);
            host.driver()->DisConnectDrive();
            if (host.connect(connect + QLatin1Char(';') + run.name) != ExitOk)
                return false;
            if (!timeReads(host, tag, count, reads, &run)) {
                std::fprintf(stderr, "quorvex bench: %s: a read of %s[%d] failed\n",
                             qPrintable(run.name), qPrintable(tag), count);
                return false;
            }
            out->runs.append(run);
        }
    }
    out->unconnectedRatio = ratio(out->runs.at(0), out->runs.at(1));
    out->connectedRatio = ratio(out->runs.at(2), out->runs.at(3));
    return true;
}

void printWindowComparison(const WindowComparison &c, int count)
{
    std::printf("%d DINT, window comparison %12s %12s %12s\n", count, "median", "p99", "fastest");
    for (const WindowRun &r : c.runs)
        std::printf("  %-32s %9.1f us %9.1f us %9.1f us\n", qPrintable(r.name), r.medianUs, r.p99Us,
                    r.minUs);
    std::printf("  median window=%d / window=1: unconnected %.2f, connected=large %.2f\n\n",
                c.window, c.unconnectedRatio, c.connectedRatio);
}

QString jsonWindowComparison(const WindowComparison &c)
{
    QStringList runs;
    for (const WindowRun &r : c.runs)
        runs << QStringLiteral("{\"options\":\"%1\",\"connected\":%2,\"window\":%3,\"reads\":%4,"
                               "\"median_us\":%5,\"p99_us\":%6,\"min_us\":%7}")
                    .arg(r.name, r.connected ? QStringLiteral("true") : QStringLiteral("false"))
                    .arg(r.window)
                    .arg(r.reads)
                    .arg(r.medianUs, 0, 'f', 2)
                    .arg(r.p99Us, 0, 'f', 2)
                    .arg(r.minUs, 0, 'f', 2);
    return QStringLiteral("\"window\":{\"n\":%1,\"runs\":[%2],\"ratio\":{\"unconnected\":%3,"
                          "\"connected\":%4}}")
        .arg(c.window)
        .arg(runs.join(QLatin1Char(',')))
        .arg(c.unconnectedRatio, 0, 'f', 3)
        .arg(c.connectedRatio, 0, 'f', 3);
}

} // namespace tools
