#include <QElapsedTimer>
#include <QtTest>

#include <cstdio>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <QTcpSocket>
#include <QTemporaryDir>

#include <memory>

#include "../reliability/PluginHost.h"
#include "MessageCapture.h"
#include "SimRunner.h"

// Controllers that go away and come back, through the loaded plug-in: every
// read either succeeds with its own value or fails with the status the
// outage calls for, and with the reconnect option reads succeed again soon
// after the controller is back, without the host connecting again.

namespace
{

int socketOption(int fd, int level, int name)
{
    int v = -1;
    socklen_t len = sizeof v;
    return ::getsockopt(fd, level, name, &v, &len) == 0 ? v : -1;
}

// A host's polling interval between reads.
constexpr int PollMs = 5;
constexpr int OutageBoundMs = 15000;

} // namespace

class TestReconnect : public QObject
{
    Q_OBJECT

    PluginHost host;
    bool writesToo = false; // every other operation writes DintTag's own value

    // One read of an alternating tag; false when it came back with a status
    // not allowed, or with a value not its own.
    bool readOnce(CDriveBaseClass *d, int n, const QVector<int> &allowed, int *status, double *ms)
    {
        if (writesToo && n % 2 == 0) {
            CLabelVariable same;
            same.values = QVariant::fromValue(QList<int>{42});
            QElapsedTimer t;
            t.start();
            *status = d->WriteVariable("DintTag", DT_Int32, same).status;
            *ms = t.nsecsElapsed() / 1e6;
            // A write lost while it waited is not sent again: it may have been done.
            return *status == LR_Success || *status == LR_NoReply || allowed.contains(*status);
        }
        const bool array = n % 2;
        QElapsedTimer t;
        t.start();
        const CLabelVariable v =
            d->ReadVariable(array ? "DintArray" : "DintTag", DT_Int32, array ? 10 : 1);
        *ms = t.nsecsElapsed() / 1e6;
        *status = v.status;
        if (v.status != LR_Success)
            return allowed.contains(v.status);
        QList<int> want{42};
        if (array) {
            want.clear();
            for (int i = 0; i < 10; ++i)
                want << i * 10;
        }
        return v.values.value<QList<int>>() == want;
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(host.load(&error), qPrintable(error));
    }
    void cleanup()
    {
        host.releaseAll();
        writesToo = false;
    }

    void outages_data()
    {
        QTest::addColumn<QString>("options"); // after the connection string's ";"
        QTest::addColumn<bool>("blackhole");  // else the controller restarts
        QTest::addColumn<int>("outageMs");    // restart gap or blackhole length
        QTest::addColumn<int>("outages");
        QTest::addColumn<bool>("disconnect"); // DisConnectDrive once the outage began
        QTest::addColumn<bool>("recovers");

        QTest::newRow("three restarts") << "reconnect" << false << 300 << 3 << false << true;
        QTest::newRow("three restarts, connected=large")
            << "reconnect;connected=large" << false << 300 << 3 << false << true;
        QTest::newRow("three restarts, writes between the reads")
            << "reconnect;write" << false << 300 << 3 << false << true;
        QTest::newRow("blackhole") << "reconnect=on" << true << 1500 << 1 << false << true;
        QTest::newRow("disconnect during a restart")
            << "reconnect" << false << 1000 << 1 << true << false;
        QTest::newRow("restart without the option") << "" << false << 300 << 1 << false << false;
        QTest::newRow("restart with reconnect=off")
            << "reconnect=off" << false << 300 << 1 << false << false;
    }

    void outages()
    {
        QFETCH(QString, options);
        QFETCH(bool, blackhole);
        QFETCH(int, outageMs);
        QFETCH(int, outages);
        QFETCH(bool, disconnect);
        QFETCH(bool, recovers);
        const bool reconnect = options.startsWith("reconnect") && options != "reconnect=off";
        const bool connected = options.contains("connected=");
        writesToo = options.contains("write");
        qsim::SimRunner runner;
        QVERIFY2(runner.start(), qPrintable(runner.errorString()));
        CDriveBaseClass *d = host.newDriver();
        QCOMPARE(d->ConnectDrive(runner.address() + ';' + options), 0);

        const int fd = int(PluginHost::facade(d)->link.tcpSocket->socketDescriptor());
        QCOMPARE(socketOption(fd, SOL_SOCKET, SO_KEEPALIVE), reconnect ? 1 : 0);
        if (reconnect) {
            QCOMPARE(socketOption(fd, IPPROTO_TCP, TCP_KEEPIDLE), 10);
            QCOMPARE(socketOption(fd, IPPROTO_TCP, TCP_KEEPINTVL), 2);
            QCOMPARE(socketOption(fd, IPPROTO_TCP, TCP_KEEPCNT), 3);
        }

        qsim::SimFaults f;
        if (blackhole) {
            f.blackholeAfter = 40;
            f.blackholeMs = outageMs;
        } else {
            f.restartAfter = 40;
            f.restartGapMs = outageMs;
        }
        runner.setFaults(f);
        const auto begun = [&] {
            return blackhole ? runner.blackholesDone()
                             : runner.restartsDone() + (runner.isListening() ? 0 : 1);
        };
        // Without the option the close may also be met while waiting.
        const QVector<int> allowed = blackhole || !reconnect
                                         ? QVector<int>{LR_NoReply, LR_NotConnected}
                                         : QVector<int>{LR_NotConnected};
        MessageCapture log;
        int n = 0;
        int status = 0;
        double ms = 0;
        for (int k = 0; k < outages; ++k) {
            // Up to the outage: every read right.
            for (int i = 0; i < 200 && begun() <= k; ++i) {
                QVERIFY2(readOnce(d, n++, {}, &status, &ms), qPrintable(QString::number(status)));
                if (i == 0 && k > 0)
                    QCOMPARE(status, int(LR_Success));
            }
            QVERIFY(begun() > k);
            QElapsedTimer outage;
            outage.start();
            if (blackhole) {
                // Two reads wait out their time-out; then the controller is
                // given up and reads fail at once.
                for (int i = 0; i < 2; ++i) {
                    QVERIFY(readOnce(d, n++, allowed, &status, &ms));
                    QCOMPARE(status, int(LR_NoReply));
                }
                for (int i = 0; i < 5; ++i) {
                    QVERIFY(readOnce(d, n++, allowed, &status, &ms));
                    QCOMPARE(status, int(LR_NotConnected));
                    // Past the message capture, so the times show in the test's output.
                    std::printf("read %d after the second time-out: status 9 in %.3f ms\n", i + 1,
                                ms);
                    QVERIFY2(ms < 100, qPrintable(QString::number(ms)));
                }
            }
            if (disconnect) {
                QVERIFY(readOnce(d, n++, allowed, &status, &ms));
                QCOMPARE(d->DisConnectDrive(), 0);
                const int accepted = runner.connectionsAccepted();
                QTRY_VERIFY_WITH_TIMEOUT(runner.restartsDone() > k, OutageBoundMs);
                for (int i = 0; i < 40; ++i) {
                    QVERIFY(readOnce(d, n++, allowed, &status, &ms));
                    QCOMPARE(status, int(LR_NotConnected));
                    QTest::qWait(PollMs);
                }
                QCOMPARE(runner.connectionsAccepted(), accepted);
                return;
            }
            // Through the outage and back: refusals until a read succeeds.
            QElapsedTimer sinceBack;
            bool back = false;
            while (outage.elapsed() < OutageBoundMs) {
                QVERIFY2(readOnce(d, n++, allowed, &status, &ms),
                         qPrintable(QString::number(status)));
                if (status == LR_Success)
                    break;
                if (!back &&
                    (blackhole ? outage.elapsed() > outageMs : runner.restartsDone() > k)) {
                    back = true;
                    sinceBack.start();
                }
                QTest::qWait(PollMs);
                // Without the option the link stays down: look only a while.
                if (!recovers && back && sinceBack.elapsed() > 500)
                    break;
            }
            if (!recovers) {
                QCOMPARE(status, int(LR_NotConnected));
                QCOMPARE(runner.connectionsAccepted(), 1);
                QVERIFY(log.lines(QtWarningMsg).filter("连接中断").isEmpty());
                return;
            }
            QCOMPARE(status, int(LR_Success));
            // One back-off step (at most about twice the outage) plus a round trip.
            const qint64 recovered = back ? sinceBack.elapsed() : 0;
            std::printf("outage %d: %lld ms long, reads back %lld ms after the controller\n", k + 1,
                        qint64(outage.elapsed()), recovered);
            QVERIFY2(recovered < 2 * outageMs + 1000, qPrintable(QString::number(recovered)));
        }
        QCOMPARE(runner.connectionsAccepted() > outages, true);
        if (connected)
            QVERIFY(runner.forwardOpensAccepted() >= outages + 1);
        const QStringList warnings = log.lines(QtWarningMsg);
        QCOMPARE(warnings.filter("lib[Quorvex]连接中断").size(), outages);
        QCOMPARE(warnings.filter("lib[Quorvex]重新连接成功").size(), outages);
        QVERIFY(warnings.filter(QRegularExpression("重新连接成功 127.0.0.1:\\d+ down = \\d+ ms"))
                    .size() == outages);
    }

    // A USB adapter unplugged and plugged back: the port (here a link to a
    // simulator's line) vanishes and comes back under the same name, and is
    // opened again on the same settings.
    void serialPortReopened()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString port = dir.filePath("ttyPLC");
        qsim::SimOptions o;
        o.serial = true;
        auto first = std::make_unique<qsim::SimRunner>(o);
        QVERIFY2(first->start(), qPrintable(first->errorString()));
        QVERIFY(QFile::link(first->serialPath(), port));
        CDriveBaseClass *d = host.newDriver();
        QCOMPARE(d->ConnectDrive(port + ",115200,8,1,N;reconnect"), 0);
        int status = 0;
        double ms = 0;
        QVERIFY(readOnce(d, 1, {}, &status, &ms));
        MessageCapture log;
        first.reset();
        QFile::remove(port);
        // Unplugged: refused at once, none waits out its time-out.
        for (int i = 0; i < 5; ++i) {
            QVERIFY(readOnce(d, i, {LR_NotConnected}, &status, &ms));
            QCOMPARE(status, int(LR_NotConnected));
        }
        qsim::SimRunner second(o);
        QVERIFY2(second.start(), qPrintable(second.errorString()));
        QVERIFY(QFile::link(second.serialPath(), port));
        QElapsedTimer t;
        t.start();
        while (status != LR_Success && t.elapsed() < OutageBoundMs) {
            QVERIFY(readOnce(d, 0, {LR_NoReply, LR_NotConnected}, &status, &ms));
            QTest::qWait(PollMs);
        }
        QCOMPARE(status, int(LR_Success));
        QCOMPARE(second.tagRequestsServed(), 1);
        QCOMPARE(log.lines(QtWarningMsg).filter("lib[Quorvex]重新连接成功 " + port).size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestReconnect)
#include "tst_reconnect.moc"
