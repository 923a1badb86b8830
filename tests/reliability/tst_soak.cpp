#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <memory>
#include <unistd.h>

#include "PluginHost.h"
#include "SimRunner.h"

// A long run of reads through the plug-in while the simulated controller
// misbehaves at random: every read must come back with the status its fault
// calls for, never with another tag's value, the driver must connect again
// when asked after the controller dropped it, and memory must level off.

namespace
{

struct SoakTag {
    QString name;
    DataType type;
    int count;
    QStringList expected;
};

template <typename T> QStringList listText(QList<T> l)
{
    return elementsOf(QVariant::fromValue(l));
}

template <typename T, typename F> QStringList generated(int n, F f)
{
    QList<T> l;
    for (int i = 0; i < n; ++i)
        l.append(T(f(i)));
    return listText(l);
}

// Distinct values and types, single elements and parts of several replies.
QVector<SoakTag> soakTags()
{
    return {
        {"DintTag", DT_Int32, 1, listText(QList<int>{42})},
        {"RealTag", DT_Float, 1, listText(QList<float>{1.5f})},
        {"IntTag", DT_Int16, 1, listText(QList<short>{-1234})},
        {"LrealTag", DT_Double, 1, listText(QList<double>{2.25})},
        {"UdintTag", DT_UInt32, 1, listText(QList<unsigned>{4000000000u})},
        {"SintTag", DT_Int8, 1, listText(QList<char>{-5})},
        {"StringTag", DT_String, 1, listText(QList<QString>{"Hello, PLC"})},
        {"DintArray", DT_Int32, 10, generated<int>(10, [](int i) { return i * 10; })},
        {"DintArray[4]", DT_Int32, 3, listText(QList<int>{40, 50, 60})},
        {"IntArray", DT_Int16, 300, generated<short>(300, [](int i) { return i - 150; })},
        {"Names[2]", DT_String, 2, listText(QList<QString>{"Charlie", "Delta"})},
        {"Motor.Rpm", DT_Int32, 1, listText(QList<int>{1500})},
        // Bits, BOOL array elements and text types: learned once a connection.
        {"DintTag.1", DT_Bool, 5, listText(QList<bool>{true, false, true, false, true})},
        {"IntArray[150].14", DT_Bool, 4, listText(QList<bool>{false, false, true, false})},
        {"BoolArray[30]", DT_Bool, 4, listText(QList<bool>{true, false, false, true})},
        {"Motors[1].Rpm.2", DT_Int16, 1, listText(QList<short>{1})},
        {"Text20", DT_String, 1, listText(QList<QString>{"Twenty at the most"})},
        {"ShortText", DT_String, 1, listText(QList<QString>{"Short"})},
        {"Texts20[1]", DT_String, 2, listText(QList<QString>{"two", "three"})},
    };
}

enum class Fault {
    None,
    ShortDelay,
    Split,
    Garbage,
    ErrorStatus,
    Silence,
    LateReply,
    Close,
    // not in the random schedule: a phase of their own
    Duplicate,
    OutOfOrder
};
constexpr int FaultKinds = 8; // the kinds of the random schedule

const char *faultName(Fault f)
{
    switch (f) {
    case Fault::None:
        return "none";
    case Fault::ShortDelay:
        return "short delay";
    case Fault::Split:
        return "split reply";
    case Fault::Garbage:
        return "garbage";
    case Fault::ErrorStatus:
        return "error status";
    case Fault::Silence:
        return "silence";
    case Fault::LateReply:
        return "reply after the time-out";
    case Fault::Close:
        return "connection closed";
    case Fault::Duplicate:
        return "reply twice";
    case Fault::OutOfOrder:
        return "reply late, out of order";
    }
    return "?";
}

// How often each fault comes, per 100000 reads. Silence and a late reply
// each cost a whole time-out (about 0.55 s), so they stay rare.
int faultsPer100k(Fault f)
{
    switch (f) {
    case Fault::ShortDelay:
        return 500;
    case Fault::Split:
        return 1000;
    case Fault::Garbage:
        return 150;
    case Fault::ErrorStatus:
        return 2000;
    case Fault::Silence:
        return 20;
    case Fault::LateReply:
        return 20;
    case Fault::Close:
        return 100;
    case Fault::None:
    case Fault::Duplicate:
    case Fault::OutOfOrder:
        break;
    }
    return 0;
}

// Every fault at least a few times, the rest fault-free, in random order.
QVector<Fault> schedule(int total, QRandomGenerator &rng)
{
    QVector<Fault> s;
    for (int k = 1; k < FaultKinds; ++k) {
        const Fault f = Fault(k);
        const int n = std::max(3, int(qint64(total) * faultsPer100k(f) / 100000));
        s.insert(s.end(), n, f);
    }
    while (s.size() < total)
        s.append(Fault::None);
    std::shuffle(s.begin(), s.end(), rng);
    return s;
}

qsim::SimFaults simFaults(Fault f, QRandomGenerator &rng)
{
    static const int statuses[] = {0x01, 0x04, 0x05, 0x06, 0x08, 0x13, 0x1E, 0x26, 0xFF};
    qsim::SimFaults s;
    switch (f) {
    case Fault::ShortDelay:
        s.delayMs = 1 + rng.bounded(10);
        break;
    case Fault::Split:
        s.splitGapMs = rng.bounded(4);
        break;
    case Fault::Garbage:
        s.garbage = true;
        break;
    case Fault::ErrorStatus:
        s.errorStatus = statuses[rng.bounded(int(std::size(statuses)))];
        break;
    case Fault::Silence:
        s.silentAfter = 0;
        break;
    case Fault::LateReply:
        s.delayMs = 700;
        break; // the driver gives up after about 550 ms
    case Fault::Close:
        s.closeAfter = 0;
        break;
    case Fault::Duplicate: // this read's first reply, the copy right behind or up to 0.7 s later
        s.duplicateNth = 1;
        s.duplicateGapMs = rng.bounded(701);
        break;
    case Fault::OutOfOrder: // late, mostly within the wait, now and then past it
        s.lateNth = 1;
        s.lateMs = rng.bounded(10) == 0 ? 650 + rng.bounded(251) : 50 + rng.bounded(251);
        break;
    case Fault::None:
        break;
    }
    return s;
}

QVector<int> expectedStatuses(Fault f)
{
    switch (f) {
    case Fault::None:
    case Fault::ShortDelay:
    case Fault::Split:
        return {LR_Success};
    case Fault::Garbage:
        // Nonsense that cannot start a frame is dropped unread, as if
        // nothing came; what looks like a frame start is judged and refused.
        return {LR_LinkFailed, LR_NoReply};
    case Fault::ErrorStatus:
        return {LR_LinkFailed};
    case Fault::Silence:
    case Fault::LateReply:
        return {LR_NoReply};
    case Fault::Close:
        // The close may be seen while waiting (no reply) or before sending.
        return {LR_NoReply, LR_NotConnected};
    case Fault::Duplicate:
        return {LR_Success};
    case Fault::OutOfOrder:
        return {LR_Success, LR_NoReply}; // as it comes within the wait or not
    }
    return {};
}

qint64 residentBytes()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = f.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

bool sanitized()
{
    return qEnvironmentVariableIntValue("QUORVEX_SANITIZED") == 1;
}

int readCount()
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("QUORVEX_SOAK_READS", &ok);
    if (ok && n > 0)
        return n;
    return sanitized() ? 10000 : 100000;
}

// The driver warns on every failed read; thousands of lines would only slow
// the run down. They are counted instead.
std::atomic<int> warningLines{0};
void countingHandler(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (type == QtWarningMsg)
        ++warningLines;
    if (type == QtFatalMsg || type == QtCriticalMsg) {
        fprintf(stderr, "%s\n", qPrintable(msg));
        if (type == QtFatalMsg)
            abort();
    }
}

// The run takes minutes and says nothing until it ends: a line every 10 s
// shows it moving (the message handler above swallows qInfo meanwhile).
class Progress
{
public:
    Progress() { clock.start(); }
    void tick(int reads, int total, int faults)
    {
        if (clock.elapsed() < nextMs)
            return;
        nextMs += 10000;
        fprintf(stderr, "soak: %d of %d reads done, %d faults survived, %lld s\n", reads, total,
                faults, qint64(clock.elapsed() / 1000));
    }

private:
    QElapsedTimer clock;
    qint64 nextMs = 10000;
};

struct Tally {
    int reads = 0;
    int ofFault[FaultKinds] = {};
    int wrongStatus = 0;
    int foreignAfterLate = 0; // not its own value, on the read after a late reply
    int foreignElsewhere = 0;
    int corrupt = 0; // a value that belongs to no tag
    int badLabel = 0;
    int reconnects = 0;
    int rejectedRegistrations = 0;
    QStringList examples;

    void note(const QString &what)
    {
        if (examples.size() < 12)
            examples.append(what);
    }
};

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

    PluginHost host;
    std::unique_ptr<qsim::SimRunner> sim;
    QVector<SoakTag> tags = soakTags();
    int lastStatus = 0;

    // One read, checked against what its fault calls for.
    void readAndCheck(CDriveBaseClass *d, int tagIndex, Fault fault, bool afterLate, Tally &t,
                      QVector<int> expected = {})
    {
        const SoakTag &tag = tags.at(tagIndex);
        const CLabelVariable v = d->ReadVariable(tag.name, tag.type, tag.count);
        lastStatus = v.status;
        ++t.reads;
        if (expected.isEmpty())
            expected = expectedStatuses(fault);
        // Right after a late reply the driver may still meet it: a refusal
        // is acceptable there, another tag's value never.
        if (afterLate)
            expected << LR_LinkFailed << LR_NoReply;
        if (v.tagName != tag.name || v.type != tag.type || v.count != tag.count) {
            ++t.badLabel;
            t.note(QStringLiteral("read %1 of %2 came back labelled %3/%4/%5")
                       .arg(t.reads)
                       .arg(tag.name, v.tagName)
                       .arg(v.type)
                       .arg(v.count));
        }
        if (!expected.contains(v.status)) {
            ++t.wrongStatus;
            t.note(QStringLiteral("read %1 of %2 under '%3'%4: status %5")
                       .arg(t.reads)
                       .arg(tag.name, QLatin1String(faultName(fault)),
                            afterLate ? QStringLiteral(" (after a late reply)") : QString())
                       .arg(v.status));
        }
        if (v.status != LR_Success)
            return;
        const QStringList got = elementsOf(v.values);
        if (got == tag.expected)
            return;
        const bool foreign = std::any_of(tags.begin(), tags.end(), [&](const SoakTag &o) {
            return o.name != tag.name && o.expected == got;
        });
        // Right after a late reply, a wrong value is that reply's, decoded as
        // this tag's type (so it need not equal another tag's list).
        if (afterLate)
            ++t.foreignAfterLate;
        else if (foreign)
            ++t.foreignElsewhere;
        else
            ++t.corrupt;
        t.note(QStringLiteral("read %1 of %2 under '%3'%4 returned %5 (%6)")
                   .arg(t.reads)
                   .arg(tag.name, QLatin1String(faultName(fault)),
                        afterLate ? QStringLiteral(" (after a late reply)") : QString(),
                        got.mid(0, 4).join(QLatin1Char(' ')),
                        foreign ? QStringLiteral("another tag's value")
                                : QStringLiteral("no tag's value")));
    }

    // After the controller dropped the connection: refused until the host
    // connects again; sometimes the controller first refuses the session.
    void reconnect(CDriveBaseClass *d, QRandomGenerator &rng, Tally &t)
    {
        readAndCheck(d, rng.bounded(tags.size()), Fault::Close, false, t, {LR_NotConnected});
        if (rng.bounded(4) == 0) {
            qsim::SimFaults reject;
            reject.rejectRegister = true;
            sim->setFaults(reject);
            const int rc = d->ConnectDrive(sim->address());
            if (rc != -3) {
                ++t.wrongStatus;
                t.note(QStringLiteral("connect with the session refused gave %1").arg(rc));
            }
            // No socket is kept without a session: reads are refused unsent.
            readAndCheck(d, rng.bounded(tags.size()), Fault::None, false, t, {LR_NotConnected});
            sim->setFaults(qsim::SimFaults());
            ++t.rejectedRegistrations;
        }
        const int rc = d->ConnectDrive(sim->address());
        ++t.reconnects;
        if (rc != 0) {
            ++t.wrongStatus;
            t.note(QStringLiteral("connect again after a close gave %1").arg(rc));
        }
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(host.load(&error), qPrintable(error));
        sim = std::make_unique<qsim::SimRunner>();
        QVERIFY2(sim->start(), qPrintable(sim->errorString()));
    }

    void cleanupTestCase()
    {
        host.releaseAll();
        sim.reset();
    }

    void readsUnderRandomFaults()
    {
        const int total = readCount();
        const quint32 seed = qEnvironmentVariableIsSet("QUORVEX_SOAK_SEED")
                                 ? quint32(qEnvironmentVariableIntValue("QUORVEX_SOAK_SEED"))
                                 : 20240517u;
        QRandomGenerator rng(seed);
        const QVector<Fault> plan = schedule(total, rng);

        CDriveBaseClass *d = host.newDriver();
        QCOMPARE(d->ConnectDrive(sim->address()), 0);

        const QtMessageHandler previous = qInstallMessageHandler(countingHandler);
        QElapsedTimer clock;
        clock.start();
        Tally t;
        qint64 rssAtQuarter = 0;
        qint64 rssAtHalf = 0;
        bool afterLate = false;
        int lastTag = -1;
        Progress progress;
        for (int i = 0; i < plan.size(); ++i) {
            progress.tick(i, plan.size(), i - t.ofFault[int(Fault::None)]);
            if (i == plan.size() / 4)
                rssAtQuarter = residentBytes();
            if (i == plan.size() / 2)
                rssAtHalf = residentBytes();
            const Fault fault = plan.at(i);
            ++t.ofFault[int(fault)];
            int tag = rng.bounded(tags.size());
            // A different tag right after a late reply, so that taking that
            // reply would show as a wrong value.
            if (afterLate && tag == lastTag)
                tag = (tag + 1) % tags.size();
            if (fault != Fault::None)
                sim->setFaults(simFaults(fault, rng));
            readAndCheck(d, tag, fault, afterLate, t);
            if (fault != Fault::None)
                sim->setFaults(qsim::SimFaults());
            if (fault == Fault::Close)
                reconnect(d, rng, t);
            afterLate = fault == Fault::LateReply;
            lastTag = tag;
        }
        const qint64 rssAtEnd = residentBytes();
        qInstallMessageHandler(previous);

        QStringList mix;
        for (int k = 0; k < FaultKinds; ++k)
            mix << QStringLiteral("%1 %2")
                       .arg(t.ofFault[k])
                       .arg(QLatin1String(faultName(Fault(k))));
        qInfo("%d reads in %lld ms (seed %u): %s; %d reconnects (%d after a refused session); "
              "%d warning lines",
              t.reads, qint64(clock.elapsed()), seed, qPrintable(mix.join(QStringLiteral(", "))),
              t.reconnects, t.rejectedRegistrations, warningLines.load());
        qInfo("resident memory: %lld KiB at a quarter, %lld KiB at half, %lld KiB at the end",
              rssAtQuarter / 1024, rssAtHalf / 1024, rssAtEnd / 1024);
        for (const QString &e : qAsConst(t.examples))
            qInfo("%s", qPrintable(e));

        QVERIFY(t.reads >= total);
        QCOMPARE(t.badLabel, 0);
        QCOMPARE(t.corrupt, 0);
        QCOMPARE(t.foreignElsewhere, 0);
        QVERIFY2(t.foreignAfterLate == 0,
                 qPrintable(QStringLiteral("%1 read(s) right after a reply came too late returned "
                                           "a value not their own: the late reply, taken for "
                                           "theirs")
                                .arg(t.foreignAfterLate)));
        QCOMPARE(t.wrongStatus, 0);
        // Memory levels off: a leak of even a few dozen bytes per read would
        // add megabytes over the second three quarters of the run. The
        // sanitizers keep freed memory in quarantine, so not there.
        if (!sanitized()) {
            QVERIFY2(rssAtEnd - rssAtQuarter < 4 * 1024 * 1024,
                     qPrintable(QStringLiteral("resident memory grew by %1 KiB")
                                    .arg((rssAtEnd - rssAtQuarter) / 1024)));
        }
    }

    // A slow controller: every reply takes 300 ms +- 250 ms. Replies inside
    // the wait are read; one past it is missed, and the read after it still
    // gets its own value or a refusal, never the late one.
    void readsFromASlowController()
    {
        QRandomGenerator rng(20261208u);
        CDriveBaseClass *d = host.newDriver();
        QCOMPARE(d->ConnectDrive(sim->address()), 0);
        const QtMessageHandler previous = qInstallMessageHandler(countingHandler);
        Tally t;
        bool afterLate = false;
        int lastTag = -1;
        const int reads = sanitized() ? 15 : 40;
        for (int i = 0; i < reads; ++i) {
            qsim::SimFaults f;
            f.delayMs = 50 + rng.bounded(501);
            // the wait is 550 ms from the send; near it, either outcome
            const bool nearTheEnd = f.delayMs > 520;
            sim->setFaults(f);
            int tag = rng.bounded(tags.size());
            if (afterLate && tag == lastTag)
                tag = (tag + 1) % tags.size();
            readAndCheck(d, tag, Fault::None, afterLate, t,
                         nearTheEnd ? QVector<int>{LR_Success, LR_NoReply}
                                    : QVector<int>{LR_Success});
            afterLate = nearTheEnd;
            lastTag = tag;
        }
        sim->setFaults(qsim::SimFaults());
        qInstallMessageHandler(previous);
        for (const QString &e : qAsConst(t.examples))
            qInfo("%s", qPrintable(e));
        QCOMPARE(t.badLabel, 0);
        QCOMPARE(t.corrupt, 0);
        QCOMPARE(t.foreignElsewhere, 0);
        QCOMPARE(t.foreignAfterLate, 0);
        QCOMPARE(t.wrongStatus, 0);
    }

    // Replies sent twice and late ones, out of order, while the reads go on
    // without pause: a copy or a late reply comes while another read waits,
    // and is never taken for that read's reply. The read that got the copy
    // or whose reply came late within the wait is good; one past the wait
    // gets no reply.
    void readsWithDuplicatedAndLateReplies()
    {
        QRandomGenerator rng(20261210u);
        CDriveBaseClass *d = host.newDriver();
        QCOMPARE(d->ConnectDrive(sim->address()), 0);
        const QtMessageHandler previous = qInstallMessageHandler(countingHandler);
        Tally t;
        const int reads = sanitized() ? 400 : 1500;
        const int copiesBefore = sim->duplicatesSent();
        const int lateBefore = sim->lateRepliesSent();
        bool faulty = false;
        for (int i = 0; i < reads; ++i) {
            const int dice = rng.bounded(100);
            const Fault fault = dice < 6   ? Fault::Duplicate
                                : dice < 8 ? Fault::OutOfOrder
                                           : Fault::None;
            ++t.ofFault[fault == Fault::None ? 0 : fault == Fault::Duplicate ? 1 : 2];
            if (fault != Fault::None || faulty)
                sim->setFaults(simFaults(fault, rng));
            faulty = fault != Fault::None;
            readAndCheck(d, rng.bounded(tags.size()), fault, false, t);
        }
        sim->setFaults(qsim::SimFaults());
        qInstallMessageHandler(previous);
        qInfo("%d reads: %d with a reply twice, %d with a late reply", t.reads, t.ofFault[1],
              t.ofFault[2]);
        for (const QString &e : qAsConst(t.examples))
            qInfo("%s", qPrintable(e));
        QCOMPARE(t.badLabel, 0);
        QCOMPARE(t.corrupt, 0);
        QCOMPARE(t.foreignElsewhere, 0);
        QCOMPARE(t.wrongStatus, 0);
        // The last copies may still be on their way; all of them were sent.
        QTRY_VERIFY_WITH_TIMEOUT(sim->duplicatesSent() - copiesBefore >= t.ofFault[1] &&
                                     sim->lateRepliesSent() - lateBefore >= t.ofFault[2],
                                 2000);
    }

    // The controller restarts, or falls silent, every so many reads; with
    // reconnect the driver comes back by itself: every read right or
    // refused, good again after every outage, memory level.
    void readsThroughOutages_data()
    {
        QTest::addColumn<bool>("blackhole"); // else restarts
        QTest::addColumn<int>("every");      // tag requests between outages
        const int every = sanitized() ? 150 : 1000;
        QTest::newRow("restarts") << false << every;
        QTest::newRow("blackholes") << true << every * 3 / 2;
    }

    void readsThroughOutages()
    {
        QFETCH(bool, blackhole);
        QFETCH(int, every);
        qsim::SimRunner runner;
        QVERIFY2(runner.start(), qPrintable(runner.errorString()));
        CDriveBaseClass *d = host.newDriver();
        QCOMPARE(d->ConnectDrive(runner.address() + QStringLiteral(";reconnect")), 0);
        qsim::SimFaults f;
        (blackhole ? f.blackholeAfter : f.restartAfter) = every;
        f.blackholeMs = 800;
        f.restartGapMs = 200;
        runner.setFaults(f);
        QVector<int> allowed{LR_Success, LR_NotConnected};
        if (blackhole)
            allowed << LR_NoReply;
        QRandomGenerator rng(20261209u);
        const QtMessageHandler previous = qInstallMessageHandler(countingHandler);
        Tally t;
        qint64 rssAtQuarter = 0;
        int recoveries = 0;
        bool down = false;
        // Counted in reads that succeeded: an outage's failed reads must not
        // eat up the run, or a slow (sanitized) build sees fewer outages.
        for (int i = 0, good = 0; good < every * 4 || down; ++i) {
            if (i == every)
                rssAtQuarter = residentBytes();
            if (good == every * 4)
                runner.setFaults(qsim::SimFaults()); // and on until it is good again
            QVERIFY(i < every * 4 + 5000);
            readAndCheck(d, rng.bounded(tags.size()), Fault::None, false, t, allowed);
            good += lastStatus == LR_Success;
            recoveries += down && lastStatus == LR_Success;
            down = lastStatus != LR_Success;
            if (down)
                QTest::qWait(2); // a polling host, not a spinning one
        }
        const qint64 rssAtEnd = residentBytes();
        qInstallMessageHandler(previous);
        const int outages = blackhole ? runner.blackholesDone() : runner.restartsDone();
        qInfo("%d reads, %d outages, %d recoveries; resident memory %lld KiB after the first "
              "outage, %lld KiB at the end",
              t.reads, outages, recoveries, rssAtQuarter / 1024, rssAtEnd / 1024);
        for (const QString &e : qAsConst(t.examples))
            qInfo("%s", qPrintable(e));
        QVERIFY(outages >= 3);
        QCOMPARE(recoveries, outages);
        QCOMPARE(t.badLabel + t.corrupt + t.foreignElsewhere + t.wrongStatus, 0);
        if (!sanitized())
            QVERIFY2(rssAtEnd - rssAtQuarter < 4 * 1024 * 1024,
                     qPrintable(QStringLiteral("resident memory grew by %1 KiB")
                                    .arg((rssAtEnd - rssAtQuarter) / 1024)));
    }

    // A serial line at 19200 baud, paced byte by byte, with split replies
    // and short delays now and then: every read right.
    void readsOverAPacedSerialLine()
    {
        qsim::SimOptions o;
        o.serial = true;
        o.byteDelayUs = 521;
        qsim::SimRunner line(o);
        QVERIFY2(line.start(), qPrintable(line.errorString()));
        QRandomGenerator rng(19200u);
        CDriveBaseClass *d = host.newDriver();
        QCOMPARE(d->ConnectDrive(line.serialPath() + QStringLiteral(",19200,8,1,N")), 0);
        const QtMessageHandler previous = qInstallMessageHandler(countingHandler);
        Tally t;
        const int reads = sanitized() ? 20 : 60;
        for (int i = 0; i < reads; ++i) {
            qsim::SimFaults f = o;
            const Fault fault = rng.bounded(4) == 0 ? Fault::Split : Fault::ShortDelay;
            if (fault == Fault::Split)
                f.splitGapMs = rng.bounded(4);
            else
                f.delayMs = rng.bounded(10);
            line.setFaults(f);
            readAndCheck(d, rng.bounded(tags.size()), fault, false, t);
        }
        qInstallMessageHandler(previous);
        for (const QString &e : qAsConst(t.examples))
            qInfo("%s", qPrintable(e));
        QCOMPARE(t.reads, reads);
        QCOMPARE(t.badLabel, 0);
        QCOMPARE(t.corrupt, 0);
        QCOMPARE(t.foreignElsewhere, 0);
        QCOMPARE(t.wrongStatus, 0);
    }
};

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
