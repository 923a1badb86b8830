#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "../reliability/PluginHost.h"
#include "MessageCapture.h"
#include "SimRunner.h"

// Controllers that restart, fall silent or vanish, through the loaded
// plug-in: every read right or refused as the outage calls for, and with
// reconnect good again soon after the controller is back, by itself.

namespace
{

int socketOption(int fd, int level, int name)
{
    int v = -1;
    socklen_t len = sizeof v;
    ::getsockopt(fd, level, name, &v, &len);
    return v;
}

// Reads of DintTag and DintArray in turn; with `writes` DintTag's own value
// is written instead of read. A value not its own gives -1.
int operate(CDriveBaseClass *d, int n, bool writes, double *ms)
{
    QElapsedTimer t;
    t.start();
    CLabelVariable v;
    QList<int> want{42};
    if (n % 2 == 0 && writes) {
        v.values = QVariant::fromValue(want);
        v = d->WriteVariable("DintTag", DT_Int32, v);
    } else if (n % 2 == 0) {
        v = d->ReadVariable("DintTag", DT_Int32, 1);
    } else {
        v = d->ReadVariable("DintArray", DT_Int32, 3);
        want = {0, 10, 20};
    }
    *ms = t.nsecsElapsed() / 1e6;
    return v.status == LR_Success && v.values.value<QList<int>>() != want ? -1 : v.status;
}

constexpr int PollMs = 5; // a polling host's pace while reads fail

} // namespace

class TestReconnect : public QObject
{
    Q_OBJECT

    PluginHost host;

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(host.load(&error), qPrintable(error));
    }
    void cleanup() { host.releaseAll(); }

    void outages_data()
    {
        QTest::addColumn<QString>("options"); // after the connection string's ";"
        QTest::addColumn<QString>("fault");   // restart, blackhole, or unplug (serial)
        QTest::addColumn<int>("outageMs");
        QTest::addColumn<int>("outages");
        QTest::addColumn<bool>("disconnect"); // DisConnectDrive once the outage began
        QTest::addColumn<bool>("recovers");

        QTest::newRow("three restarts") << "reconnect"
                                        << "restart" << 300 << 3 << false << true;
        QTest::newRow("three restarts, connected=large") << "reconnect;connected=large"
                                                         << "restart" << 300 << 3 << false << true;
        QTest::newRow("three restarts, writes between the reads")
            << "reconnect;write"
            << "restart" << 300 << 3 << false << true;
        QTest::newRow("blackhole") << "reconnect=on"
                                   << "blackhole" << 1500 << 1 << false << true;
        QTest::newRow("serial adapter unplugged and back") << "reconnect"
                                                           << "unplug" << 0 << 1 << false << true;
        QTest::newRow("disconnect during a restart") << "reconnect"
                                                     << "restart" << 1000 << 1 << true << false;
        QTest::newRow("restart without the option") << ""
                                                    << "restart" << 300 << 1 << false << false;
        QTest::newRow("restart with reconnect=off") << "reconnect=off"
                                                    << "restart" << 300 << 1 << false << false;
    }

    void outages()
    {
        QFETCH(QString, options);
        QFETCH(QString, fault);
        QFETCH(int, outageMs);
        QFETCH(int, outages);
        QFETCH(bool, disconnect);
        QFETCH(bool, recovers);
        const bool reconnect = options.contains("reconnect") && !options.contains("=off");
        const bool writes = options.contains("write");
        const bool blackhole = fault == "blackhole";
        qsim::SimOptions o;
        o.serial = fault == "unplug";
        auto runner = std::make_unique<qsim::SimRunner>(o);
        QVERIFY2(runner->start(), qPrintable(runner->errorString()));
        // The name the adapter goes by, whichever line is behind it.
        QTemporaryDir dir;
        const QString port = dir.filePath("ttyPLC");
        QVERIFY(!o.serial || QFile::link(runner->serialPath(), port));
        CDriveBaseClass *d = host.newDriver();
        QCOMPARE(d->ConnectDrive((o.serial ? port + ",115200,8,1,N" : runner->address()) + ';' +
                                 options),
                 0);
        if (!o.serial) {
            const int fd = int(PluginHost::facade(d)->link.tcpSocket->socketDescriptor());
            QCOMPARE(socketOption(fd, SOL_SOCKET, SO_KEEPALIVE), int(reconnect));
            if (reconnect)
                QCOMPARE(QVector<int>({socketOption(fd, IPPROTO_TCP, TCP_KEEPIDLE),
                                       socketOption(fd, IPPROTO_TCP, TCP_KEEPINTVL),
                                       socketOption(fd, IPPROTO_TCP, TCP_KEEPCNT)}),
                         QVector<int>({10, 2, 3}));
        }
        qsim::SimFaults f;
        (blackhole ? f.blackholeAfter : f.restartAfter) = o.serial ? -1 : 40;
        f.blackholeMs = f.restartGapMs = outageMs;
        runner->setFaults(f);
        int unplugged = 0;
        const auto begun = [&] {
            if (o.serial)
                return unplugged;
            return blackhole ? runner->blackholesDone()
                             : runner->restartsDone() + (runner->isListening() ? 0 : 1);
        };
        // A write lost while it waited is not sent again, so it is no reply.
        QVector<int> allowed{LR_NotConnected};
        if (blackhole || writes || !reconnect)
            allowed << LR_NoReply;
        MessageCapture log;
        int n = 0;
        double ms = 0;
        int status = 0;
        for (int k = 0; k < outages; ++k) {
            for (int i = 0; i < 200 && begun() <= k && status == 0; ++i) {
                status = operate(d, n++, writes, &ms);
                QVERIFY2(status == 0 || allowed.contains(status),
                         qPrintable(QString::number(status)));
                if (o.serial && i == 39) {
                    runner.reset();
                    QFile::remove(port);
                    ++unplugged;
                }
            }
            QTRY_VERIFY(begun() > k);
            QElapsedTimer outage;
            outage.start();
            // Given up after two time-outs, or the port gone: refused at once.
            for (int i = 0; blackhole && i < 2; ++i)
                QCOMPARE(operate(d, n++, writes, &ms), int(LR_NoReply));
            for (int i = 0; (blackhole || o.serial) && i < 5; ++i) {
                QCOMPARE(operate(d, n++, writes, &ms), int(LR_NotConnected));
                std::printf("read %d after the loss was seen: status 9 in %.3f ms\n", i + 1, ms);
                QVERIFY2(ms < 100, qPrintable(QString::number(ms)));
            }
            if (o.serial) {
                runner = std::make_unique<qsim::SimRunner>(o);
                QVERIFY(runner->start() && QFile::link(runner->serialPath(), port));
            }
            if (disconnect)
                QCOMPARE(d->DisConnectDrive(), 0);
            const int accepted = o.serial ? 0 : runner->connectionsAccepted();
            QElapsedTimer sinceBack;
            for (status = -2; outage.elapsed() < 15000; QTest::qWait(PollMs)) {
                status = operate(d, n++, writes, &ms);
                QVERIFY2(status == 0 || allowed.contains(status),
                         qPrintable(QString::number(status)));
                if (status == 0 || (!recovers && sinceBack.isValid() && sinceBack.elapsed() > 500))
                    break;
                const bool back = o.serial || (blackhole ? outage.elapsed() > outageMs
                                                         : runner->restartsDone() > k);
                if (back && !sinceBack.isValid())
                    sinceBack.start();
            }
            if (!recovers) {
                QCOMPARE(status, int(LR_NotConnected));
                QCOMPARE(runner->connectionsAccepted(), accepted);
                QVERIFY(log.lines(QtWarningMsg).filter("重新连接").isEmpty());
                return;
            }
            QCOMPARE(status, int(LR_Success));
            // One back-off step (about the outage at most) plus a round trip.
            const qint64 recovered = sinceBack.isValid() ? sinceBack.elapsed() : 0;
            std::printf("outage %d: good again %lld ms after the controller was back\n", k + 1,
                        recovered);
            QVERIFY2(recovered < 2 * outageMs + 1000, qPrintable(QString::number(recovered)));
        }
        if (options.contains("connected"))
            QCOMPARE(runner->forwardOpensAccepted(), outages + 1);
        const QStringList warnings = log.lines(QtWarningMsg);
        QCOMPARE(warnings.filter("lib[Quorvex]连接中断").size(), outages);
        QCOMPARE(warnings.filter(QRegularExpression("重新连接成功 \\S+ down = \\d+ ms")).size(),
                 outages);
    }
};

QTEST_GUILESS_MAIN(TestReconnect)
#include "tst_reconnect.moc"
