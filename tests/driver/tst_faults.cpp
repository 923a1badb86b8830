#include <QElapsedTimer>
#include <QtTest>

#include <memory>

#include "../reliability/PluginHost.h"
#include "MessageCapture.h"
#include "SimRunner.h"

// Controllers and networks that misbehave the way real ones do: replies
// twice, late and out of order, held back and sent in a burst, cut off by a
// close, a first registration unanswered, a Forward Open answered twice, a
// connection dropped while idle. Through the loaded plug-in, five tags of
// distinct values are read and written over and over while the fault is in
// force, then with it gone. Whatever the fault, a read that says status 0
// carries its own tag's value, a write the controller refuses is never
// reported done, and reads are good again once the fault is over.

namespace
{

// Once the fault is over, reads are good again within this long: a loose
// bound, so that a loaded machine does not fail what works.
constexpr int RecoveryMs = 3000;

struct FaultTag {
    QString name;
    int count;
    QStringList expected;
};

QVector<FaultTag> faultTags()
{
    QList<int> big;
    for (int i = 0; i < 1500; ++i)
        big.append(100 + i);
    // The array first: after an idle pause its first wave of parts is what
    // meets a connection the controller dropped.
    return {
        // in parts, up to four at once with window=4 (13 unconnected, 2 on a
        // large connection)
        {"BigArray[100]", 1500, elementsOf(QVariant::fromValue(big))},
        {"DintTag", 1, elementsOf(QVariant::fromValue(QList<int>{42}))},
        {"DintArray[3]", 1, elementsOf(QVariant::fromValue(QList<int>{30}))},
        {"Motor.Rpm", 1, elementsOf(QVariant::fromValue(QList<int>{1500}))},
        {"Motors[2].Rpm", 1, elementsOf(QVariant::fromValue(QList<int>{1200}))},
    };
}

qsim::SimOptions faultsOf(const QString &fault)
{
    qsim::SimOptions o;
    // A controller that takes a few milliseconds a reply, one after the
    // other: a read is nearly always waiting when a stray reply comes, as on
    // a plant network polled without pause.
    o.delayMs = 5;
    if (fault == "every reply twice") {
        o.duplicateEvery = 1;
        o.duplicateGapMs = 700;
    } else if (fault == "one reply twice") {
        o.duplicateNth = 3;
        o.duplicateGapMs = 700;
    } else if (fault == "late") {
        o.lateEvery = 9;
        o.lateMs = 800;
    } else if (fault == "stall") {
        o.stallAfter = 6;
        o.stallMs = 2000;
    } else if (fault == "cut") {
        o.cutAfter = 12;
    } else if (fault == "register") {
        o.ignoreRegister = 1;
    } else if (fault == "forward open twice") {
        o.duplicateForwardOpen = true;
        o.duplicateGapMs = 300;
    } else if (fault == "idle drop") {
        o.connectionTimeoutMs = 150;
    }
    return o;
}

// How often the simulator did the fault: a row whose fault never happened
// would prove nothing.
int timesDone(const QString &fault, const qsim::SimRunner &sim)
{
    if (fault.contains("twice"))
        return sim.duplicatesSent();
    if (fault == "late")
        return sim.lateRepliesSent();
    if (fault == "stall")
        return sim.stallsBegun();
    if (fault == "cut")
        return sim.repliesCut();
    if (fault == "register")
        return sim.registersIgnored();
    // dropped while idle: the only way to a second Forward Open
    return sim.forwardOpensAccepted() - 1;
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

    PluginHost host;
    const QVector<FaultTag> tags = faultTags();

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(host.load(&error), qPrintable(error));
    }
    void cleanup() { host.releaseAll(); }

    void neverWrongSilently_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("options"); // after the address
        QTest::addColumn<int>("phaseMs");     // how long reads and writes go on under the fault
        QTest::addColumn<int>("pauseMs");     // between rounds
        // The read statuses that may come besides 0: the ones a faultless
        // driver gives under the fault ("" when every read stays good).
        QTest::addColumn<QString>("failures");

        const QStringList modes{"", ";connected=large", ";window=4"};
        const QStringList connectedModes{";connected=large", ";connected=large;window=4"};
        auto add = [](const char *fault, const QStringList &modes, const QString &extra,
                      int phaseMs, int pauseMs, const char *failures) {
            for (const QString &mode : modes) {
                const QString options = ";write" + mode + extra;
                QTest::addRow("%s%s", fault, qPrintable(QString(mode).replace(';', ' ')))
                    << fault << options << phaseMs << pauseMs << QString(failures);
            }
        };
        // A copy 700 ms after its reply lands while a later request waits;
        // it answers nothing and is dropped.
        add("every reply twice", modes, "", 1200, 1, "");
        add("one reply twice", modes, "", 1200, 1, "");
        // Every 9th reply 800 ms late, past the wait, the others at once: the
        // late read fails (a late part is asked again), the late reply is dropped.
        add("late", modes, "", 1500, 1, "8");
        // 2 s of silence with a 50 ms wait: about 40 requests owed, then all
        // their replies in one burst.
        add("stall", modes, ";timeout=50", 2500, 1, "8");
        // A reply cut by the close is a lost transport: sent again after
        // reopening, never judged as a malformed reply.
        add("cut", modes, ";reconnect", 1000, 1, "9");
        // Not registered is not connected: status 9 until a later attempt
        // registers, never a request sent without a session.
        add("register", modes, ";reconnect", 600, 1, "9");
        // The copy of the Forward Open's reply answers no read.
        add("forward open twice", connectedModes, "", 1000, 1, "");
        // Idle pauses longer than the controller keeps a connection: opened
        // again transparently, the first wave of a windowed read included.
        add("idle drop", connectedModes + QStringList{";connected=small;window=8"}, "", 1500, 250,
            "");
    }

    void neverWrongSilently()
    {
        QFETCH(QString, fault);
        QFETCH(QString, options);
        QFETCH(int, phaseMs);
        QFETCH(int, pauseMs);
        QFETCH(QString, failures);
        qsim::SimRunner sim(faultsOf(fault));
        QVERIFY2(sim.start(), qPrintable(sim.errorString()));
        CDriveBaseClass *d = host.newDriver();
        const int rc = d->ConnectDrive(sim.address() + options);
        QVERIFY2(rc == 0 || (fault == "register" && rc == -3), qPrintable(QString::number(rc)));

        QMap<int, int> readStatuses, refusedWrites;
        int wrong = 0;
        int unexpected = 0; // failed reads of a status the fault does not call for
        QStringList examples;
        auto note = [&](const QString &what) {
            if (examples.size() < 5)
                examples << what;
        };
        // One round: the five reads, a write of a tag's own value, a write the
        // controller refuses. True when every read was good.
        auto round = [&] {
            bool good = true;
            for (const FaultTag &t : tags) {
                const CLabelVariable v = d->ReadVariable(t.name, DT_Int32, t.count);
                ++readStatuses[v.status];
                good = good && v.status == LR_Success;
                unexpected +=
                    v.status != LR_Success && !failures.contains(QString::number(v.status));
                if (v.status != LR_Success)
                    continue;
                const QStringList got = elementsOf(v.values);
                if (got != t.expected) {
                    good = false;
                    ++wrong;
                    note(QStringLiteral("%1 read %2...").arg(t.name, got.mid(1, 3).join(' ')));
                }
            }
            CLabelVariable in;
            in.values = QVariant::fromValue(QList<int>{42});
            d->WriteVariable("DintTag", DT_Int32, in);
            const CLabelVariable refused = d->WriteVariable("NoSuchTag", DT_Int32, in);
            ++refusedWrites[refused.status];
            return good;
        };

        // The driver warns at every failed request: counted, not printed.
        auto capture = std::make_unique<MessageCapture>();
        QElapsedTimer clock;
        clock.start();
        int rounds = 0;
        for (; clock.elapsed() < phaseMs; ++rounds) {
            round();
            QTest::qWait(pauseMs);
        }
        const int done = timesDone(fault, sim);
        // The fault is over: replies still on their way may come, and the
        // reads must be good again, a whole round in a row.
        sim.setFaults(qsim::SimFaults());
        QElapsedTimer since;
        since.start();
        bool recovered = false;
        while (!recovered && since.elapsed() < RecoveryMs) {
            recovered = round();
            QTest::qWait(10);
        }
        const int warnings = capture->count(QtWarningMsg);
        capture.reset();
        auto text = [](const QMap<int, int> &m) {
            QStringList l;
            for (auto it = m.begin(); it != m.end(); ++it)
                l << QStringLiteral("%1 x status %2").arg(it.value()).arg(it.key());
            return l.join(", ");
        };
        qInfo("%d rounds under the fault (done %d times); reads: %s; refused writes: %s; "
              "%d wrong values; %d warning lines; %s",
              rounds, done, qPrintable(text(readStatuses)), qPrintable(text(refusedWrites)), wrong,
              warnings,
              recovered
                  ? qPrintable(QStringLiteral("good again after %1 ms").arg(since.elapsed()))
                  : qPrintable(QStringLiteral("not good again within %1 ms").arg(RecoveryMs)));
        for (const QString &e : qAsConst(examples))
            qInfo("  %s", qPrintable(e));

        QVERIFY2(done > 0, "the fault never happened");
        QStringList broken;
        if (wrong > 0)
            broken << QStringLiteral("%1 status-0 reads carried another value").arg(wrong);
        if (refusedWrites.value(LR_Success) > 0)
            broken << QStringLiteral("%1 refused writes reported done")
                          .arg(refusedWrites.value(LR_Success));
        if (unexpected > 0)
            broken << QStringLiteral("%1 reads failed with a status the fault does not call for")
                          .arg(unexpected);
        if (!recovered)
            broken << QStringLiteral("reads not good again");
        QVERIFY2(broken.isEmpty(), qPrintable(broken.join("; ")));
    }
};

QTEST_GUILESS_MAIN(TestFaults)
#include "tst_faults.moc"
