#include "BrowsedTypes.h"
#include "Commands.h"
#include "ConnectionString.h"
#include "DriverHost.h"
#include "SignalWatcher.h"
#include "StatusText.h"
#include "Table.h"
#include "TagRequest.h"
#include "ValueText.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QVector>
#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace tools
{

namespace
{

struct Row {
    TagRequest request;
    CLabelVariable value;
    QString values; // as shown
    double latencyMs = 0;
    bool changed = false;
    bool seen = false;
    // An outage: from the first failed read to the next good one.
    QElapsedTimer downSince;
    bool down = false;
    bool reopening = false; // down, and the driver reopens the connection by itself
    qint64 lastDownMs = -1; // the last outage's length, once it is over
    bool backNow = false;   // this round ended an outage
};

const char *const Highlight = "\033[1;33m";
const char *const Plain = "\033[0m";
const char *const ClearLine = "\033[K";

void out(const QString &s)
{
    const QByteArray b = s.toUtf8();
    std::fwrite(b.constData(), 1, static_cast<size_t>(b.size()), stdout);
}

QString latencyText(double ms)
{
    return QStringLiteral("%1 ms").arg(ms, 0, 'f', 2);
}

QString secondsText(qint64 ms)
{
    return QStringLiteral("%1 s").arg(ms / 1000.0, 0, 'f', 1);
}

// While down, how long so far; after it, how long the last outage lasted.
QString downCell(const Row &r)
{
    if (r.down)
        return (r.reopening ? QStringLiteral("reopening ") : QString()) +
               secondsText(r.downSince.elapsed());
    if (r.lastDownMs >= 0)
        return QStringLiteral("was ") + secondsText(r.lastDownMs);
    return QString();
}

// With ;reconnect a read that is not connected means that the driver is
// reopening the connection in the background.
void noteOutage(Row &r, bool reconnects)
{
    r.backNow = false;
    r.reopening = reconnects && r.value.status == LR_NotConnected;
    if (r.value.status != 0 && !r.down) {
        r.down = true;
        r.downSince.start();
    } else if (r.value.status == 0 && r.down) {
        r.down = false;
        r.backNow = true;
        r.lastDownMs = r.downSince.elapsed();
    }
}

// The whole table, redrawn in place; changed values stand out.
void drawScreen(const QVector<Row> &rows, const QString &title, bool first, const QString &notice)
{
    if (first)
        out(QStringLiteral("\033[2J"));
    out(QStringLiteral("\033[H") + title + QLatin1String(ClearLine) + QLatin1Char('\n'));
    QVector<QStringList> cells;
    cells.append({QStringLiteral("TAG"), QStringLiteral("TYPE"), QStringLiteral("COUNT"),
                  QStringLiteral("STATUS"), QStringLiteral("DOWN"), QStringLiteral("LATENCY"),
                  QStringLiteral("TIMESTAMP"), QStringLiteral("VALUES")});
    for (const Row &r : rows)
        cells.append({r.request.tag, typeName(r.request.type), QString::number(r.request.count),
                      statusCell(r.value.status), downCell(r), latencyText(r.latencyMs),
                      shortTime(r.value.timestamp), r.values});
    QVector<int> width(cells.first().size(), 0);
    for (const QStringList &c : cells)
        for (int i = 0; i < c.size(); ++i)
            width[i] = qMax(width[i], c.at(i).size());
    for (int n = 0; n < cells.size(); ++n) {
        const QStringList &c = cells.at(n);
        QString line;
        for (int i = 0; i + 1 < c.size(); ++i)
            line += c.at(i).leftJustified(width[i] + 2);
        const bool mark = n > 0 && rows.at(n - 1).changed;
        if (mark)
            line += QLatin1String(Highlight) + c.last() + QLatin1String(Plain);
        else
            line += c.last();
        out(line + QLatin1String(ClearLine) + QLatin1Char('\n'));
    }
    if (!notice.isEmpty())
        out(QLatin1Char('\n') + notice + QLatin1String(ClearLine) + QLatin1Char('\n'));
    out(QStringLiteral("\033[J"));
    std::fflush(stdout);
}

// One line per change, for pipes and files.
void printChanges(const QVector<Row> &rows)
{
    for (const Row &r : rows)
        if (r.changed)
            out(QStringLiteral("%1 %2 = [%3] status %4 latency %5%6\n")
                    .arg(shortTime(r.value.timestamp.isValid() ? r.value.timestamp
                                                               : QDateTime::currentDateTime()),
                         r.request.tag, r.values, statusCell(r.value.status),
                         latencyText(r.latencyMs),
                         r.backNow     ? QStringLiteral(" back after ") + secondsText(r.lastDownMs)
                         : r.reopening ? QStringLiteral(" reopening")
                         : r.down      ? QStringLiteral(" down")
                                       : QString()));
    std::fflush(stdout);
}

} // namespace

int runWatch(const QStringList &args)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral(
            "Polls tags through the driver like an HMI. On a terminal the table is redrawn in\n"
            "place with changed values highlighted; otherwise one line per change.\n"
            "Stops after --times rounds, or on Ctrl-C. Exit status 1 when a read failed.\n"
            "A TAG without TYPE, and every tag --tags-from-controller matches, is polled with\n"
            "the type the controller's tag list gives (a structure member by member).\n"
            "Without ;reconnect a controller that drops stays down; watch says so once.\n"
            "With ;reconnect the driver reopens it in the background (shown as reopening),\n"
            "also when the first connect fails, and watch polls on.\n\n") +
        connectOptionsHelp());
    addHostOptions(p, true);
    p.addOption({QStringLiteral("interval"), QStringLiteral("Polling period (default 1000)."),
                 QStringLiteral("ms"), QStringLiteral("1000")});
    p.addOption({QStringLiteral("times"),
                 QStringLiteral("Number of polling rounds (default: until stopped)."),
                 QStringLiteral("n")});
    p.addOption({QStringLiteral("tags-from-controller"),
                 QStringLiteral("Also every tag whose name matches this glob (Program:Main.*)."),
                 QStringLiteral("PATTERN")});
    p.addPositionalArgument(QStringLiteral("TAG[:TYPE[:COUNT]]"), QStringLiteral("Tags to poll."),
                            QStringLiteral("TAG[:TYPE[:COUNT]]..."));
    int exitCode = 0;
    if (!parseCommandLine(p, "watch", args, &exitCode))
        return exitCode;
    const HostOptions o = hostOptions(p, true);
    if (o.connect.isEmpty())
        return usageError("watch", QStringLiteral("--connect is required"));
    bool ok = false;
    const int interval = p.value(QStringLiteral("interval")).toInt(&ok);
    if (!ok || interval < 1 || interval > 24 * 3600 * 1000)
        return usageError("watch",
                          QStringLiteral("--interval needs milliseconds from 1 to 86400000"));
    int times = 0;
    if (p.isSet(QStringLiteral("times"))) {
        times = p.value(QStringLiteral("times")).toInt(&ok);
        if (!ok || times < 1)
            return usageError("watch", QStringLiteral("--times needs a number of at least 1"));
    }
    const QString pattern = p.value(QStringLiteral("tags-from-controller"));
    if (p.positionalArguments().isEmpty() && pattern.isEmpty())
        return usageError("watch", QStringLiteral("no tag given"));
    QVector<TagRequest> requests;
    for (const QString &a : p.positionalArguments()) {
        TagRequest r;
        QString error;
        if (!parseTagRequest(a, &r, &error))
            return usageError("watch", error);
        requests.append(r);
    }

    DriverHost host("watch");
    if (!host.load(o))
        return ExitFailure;
    const ConnectionString parsed = parseConnectionString(o.connect);
    const bool reconnects = parsed.optionsValid && parsed.options.reconnect;
    if (const int rc = host.connect(o.connect)) {
        // With ;reconnect the driver goes on trying: so does watch.
        if (!reconnects || rc == ExitUsage || !parsed.usable())
            return rc;
        std::fprintf(stderr, "quorvex watch: the driver keeps trying in the background "
                             "(;reconnect); polling on\n");
    }
    // Browsed after the driver connected, so that a failing connection is
    // reported in the driver's words.
    QString browseError;
    bool listed = true;
    if ((!pattern.isEmpty() || std::any_of(requests.cbegin(), requests.cend(),
                                           [](const TagRequest &r) { return !r.typeGiven; })) &&
        !typeFromController(o.connect, pattern, &requests, &browseError, &listed)) {
        std::fprintf(stderr, "quorvex watch: %s\n", qPrintable(browseError));
        if (listed || !pattern.isEmpty() || requests.isEmpty())
            return ExitFailure;
        std::fprintf(stderr, "quorvex watch: tags without a TYPE are read as int32\n");
    }
    QString lostNotice; // said once, when the controller drops without ;reconnect
    bool noticeDue = false;
    QVector<Row> rows;
    for (const TagRequest &request : requests) {
        Row r;
        r.request = request;
        rows.append(r);
    }

    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    SignalWatcher watcher;
    bool stop = false;
    QEventLoop pause;
    QObject::connect(&watcher, &SignalWatcher::stopRequested, &pause, [&] {
        stop = true;
        pause.quit();
    });
    QTimer wake;
    wake.setSingleShot(true);
    QObject::connect(&wake, &QTimer::timeout, &pause, &QEventLoop::quit);

    QStringList failures;
    QStringList failureKeys; // each tag's failure told once, with its first lines
    bool everUp = false;
    for (int round = 1; !stop && (times == 0 || round <= times); ++round) {
        QElapsedTimer period;
        period.start();
        // The driver is called only from here, never from an event handler:
        // its nested event loops would otherwise re-enter it.
        for (Row &r : rows) {
            const int before = r.seen ? r.value.status : -1;
            QElapsedTimer t;
            t.start();
            const Outcome outcome = host.read(r.request.tag, r.request.type, r.request.count);
            r.value = outcome.value;
            r.latencyMs = t.nsecsElapsed() / 1e6;
            noteOutage(r, reconnects);
            everUp = everUp || r.value.status == 0;
            const bool dropped =
                r.value.status == LR_NotConnected ||
                outcome.warnings.filter(QStringLiteral(" Disconnected=")).size() > 0;
            if (dropped && everUp && !reconnects && lostNotice.isEmpty()) {
                lostNotice = QStringLiteral("quorvex watch: the connection to the controller was "
                                            "lost; it stays down without ;reconnect, e.g. "
                                            "--connect \"%1;reconnect\" reopens it by itself")
                                 .arg(o.connect);
                noticeDue = !terminal; // under this round's lines
            }
            const QString shown = valuesCell(r.value);
            r.changed = !r.seen || shown != r.values || before != r.value.status;
            r.values = shown;
            r.seen = true;
            const QString key = r.request.tag + QLatin1Char(' ') + QString::number(r.value.status);
            if (r.value.status != 0 && !failureKeys.contains(key)) {
                failureKeys << key;
                // A read refused while the driver reopens logs nothing of its own.
                const QString why =
                    r.reopening && outcome.warnings.isEmpty()
                        ? QStringLiteral("status %1 (%2): the driver is reopening the connection "
                                         "in the background (;reconnect)")
                              .arg(r.value.status)
                              .arg(statusMeaning(r.value.status))
                        : failureText(outcome);
                failures << QStringLiteral("quorvex watch: %1: %2").arg(r.request.tag, why);
            }
        }
        if (terminal)
            drawScreen(rows,
                       QStringLiteral("quorvex watch %1, every %2 ms, round %3%4")
                           .arg(o.connect)
                           .arg(interval)
                           .arg(round)
                           .arg(times ? QStringLiteral(" of %1").arg(times)
                                      : QStringLiteral(" (Ctrl-C stops)")),
                       round == 1, lostNotice);
        else
            printChanges(rows);
        if (noticeDue) {
            std::fprintf(stderr, "%s\n", lostNotice.toUtf8().constData());
            std::fflush(stderr);
            noticeDue = false;
        }
        if (stop || (times && round == times))
            break;
        wake.start(static_cast<int>(qMax<qint64>(0, interval - period.elapsed())));
        pause.exec();
    }
    for (const QString &f : failures)
        std::fprintf(stderr, "%s\n", f.toUtf8().constData());
    return failures.isEmpty() ? ExitOk : ExitFailure;
}

} // namespace tools
