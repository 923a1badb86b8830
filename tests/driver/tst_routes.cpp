#include <QTemporaryFile>
#include <QtTest>

#include <memory>

#include "../reliability/PluginHost.h"
#include "MessageCapture.h"
#include "SimRunner.h"

// Controllers that are not where the defaults look, or that want connected
// messaging: routes, direct addressing, Forward Open in its variants, the
// reply wait, through the loaded plug-in against simulators set up for each.

namespace
{

// A tag file with one array big enough for the largest read there is.
QString hugeTagFile(QTemporaryFile &file)
{
    QByteArray values;
    values.reserve(65535 * 6);
    for (int i = 0; i < 65535; ++i)
        values += QByteArray::number(i) + (i + 1 < 65535 ? "," : "");
    if (!file.open())
        return QString();
    file.write("{\"tags\":[{\"name\":\"Huge\",\"type\":\"DINT\",\"dims\":[65535],\"value\":[" +
               values + "]},{\"name\":\"DintTag\",\"type\":\"DINT\",\"value\":42}]}");
    file.close();
    return file.fileName();
}

// "slot=3 bridge=10.0.0.7 direct nolarge noforward maxsize=300 idle=200
// delay=700 serial huge" into the simulator's options.
qsim::SimOptions simOptions(const QString &setup, const QString &hugeFile)
{
    qsim::SimOptions o;
    for (const QString &item : setup.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QString key = item.section(QLatin1Char('='), 0, 0);
        const QString value = item.section(QLatin1Char('='), 1);
        if (key == "slot")
            o.slot = value.toInt();
        else if (key == "bridge")
            o.bridge = value;
        else if (key == "direct")
            o.direct = true;
        else if (key == "nolarge")
            o.noLargeForwardOpen = true;
        else if (key == "noforward")
            o.noForwardOpen = true;
        else if (key == "maxsize")
            o.maxConnectionSize = value.toInt();
        else if (key == "idle")
            o.connectionTimeoutMs = value.toInt();
        else if (key == "delay")
            o.delayMs = value.toInt();
        else if (key == "serial")
            o.serial = true;
        else if (key == "huge")
            o.tagFile = hugeFile;
    }
    return o;
}

} // namespace

class TestRoutes : public QObject
{
    Q_OBJECT

    PluginHost host;
    QTemporaryFile hugeFile;
    QString hugePath;

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(host.load(&error), qPrintable(error));
        hugePath = hugeTagFile(hugeFile);
        QVERIFY(!hugePath.isEmpty());
    }
    void cleanup() { host.releaseAll(); }

    void reads_data()
    {
        QTest::addColumn<QString>("sim");     // simulator set-up, see simOptions()
        QTest::addColumn<QString>("options"); // after the connection string's ";"
        QTest::addColumn<int>("connectRc");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("count"); // DINTs; element i of BigArray and Huge is i
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("forwardOpens"); // accepted by the simulator
        QTest::addColumn<bool>("connectedReads");

        QTest::newRow("processor in slot 3") << "slot=3"
                                             << "slot=3" << 0 << "DintTag" << 1 << 0 << 0 << false;
        QTest::newRow("slot 3 missed by the default route")
            << "slot=3"
            << "" << 0 << "DintTag" << 1 << 7 << 0 << false;
        QTest::newRow("through a bridge")
            << "bridge=10.0.0.7"
            << "path=1,2,2,10.0.0.7,1,0" << 0 << "DintTag" << 1 << 0 << 0 << false;
        QTest::newRow("controller addressed directly")
            << "direct"
            << "path=none" << 0 << "BigArray" << 300 << 0 << 0 << false;
        QTest::newRow("direct controller refuses a route")
            << "direct"
            << "" << 0 << "DintTag" << 1 << 7 << 0 << false;
        QTest::newRow("large connection, 10000 DINTs")
            << ""
            << "connected=large" << 0 << "BigArray" << 10000 << 0 << 1 << true;
        QTest::newRow("large connection, 65535 DINTs")
            << "huge"
            << "connected=large" << 0 << "Huge" << 65535 << 0 << 1 << true;
        QTest::newRow("small connection")
            << ""
            << "connected=small" << 0 << "BigArray" << 1000 << 0 << 1 << true;
        QTest::newRow("auto without Large Forward Open")
            << "nolarge"
            << "connected=auto" << 0 << "BigArray" << 1000 << 0 << 1 << true;
        QTest::newRow("auto without any Forward Open")
            << "noforward"
            << "connected=auto" << 0 << "BigArray" << 1000 << 0 << 0 << false;
        QTest::newRow("large refused")
            << "nolarge"
            << "connected=large" << -3 << "DintTag" << 1 << 0 << 0 << false;
        QTest::newRow("size refused, asked again with the largest")
            << "maxsize=300"
            << "connected=large" << 0 << "BigArray" << 1000 << 0 << 1 << true;
        QTest::newRow("connected through slot 3")
            << "slot=3"
            << "slot=3;connected=auto" << 0 << "BigArray" << 2000 << 0 << 1 << true;
        QTest::newRow("direct and connected")
            << "direct"
            << "path=none;connected=large" << 0 << "BigArray" << 2000 << 0 << 1 << true;
        QTest::newRow("slow controller, default wait")
            << "delay=700"
            << "" << 0 << "DintTag" << 1 << 8 << 0 << false;
        QTest::newRow("slow controller, timeout=2000")
            << "delay=700"
            << "timeout=2000" << 0 << "DintTag" << 1 << 0 << 0 << false;
        QTest::newRow("serial line, large connection")
            << "serial"
            << "connected=large" << 0 << "BigArray" << 5000 << 0 << 1 << true;
    }

    void reads()
    {
        QFETCH(QString, sim);
        QFETCH(QString, options);
        QFETCH(int, connectRc);
        QFETCH(QString, tag);
        QFETCH(int, count);
        QFETCH(int, status);
        QFETCH(int, forwardOpens);
        QFETCH(bool, connectedReads);
        const qsim::SimOptions simOpts = simOptions(sim, hugePath);
        // The delay is for the reads, not for the session registration.
        qsim::SimOptions startOpts = simOpts;
        startOpts.delayMs = 0;
        qsim::SimRunner runner(startOpts);
        QVERIFY2(runner.start(), qPrintable(runner.errorString()));
        const QString where =
            simOpts.serial ? runner.serialPath() + ",115200,8,1,N" : runner.address();
        CDriveBaseClass *d = host.newDriver();
        MessageCapture capture;
        QCOMPARE(d->ConnectDrive(where + QLatin1Char(';') + options), connectRc);
        if (connectRc != 0) {
            // A refusal is remembered: reads fail at once, nothing is asked
            // again, one warning in all.
            const int served = runner.requestsServed();
            for (int i = 0; i < 3; ++i)
                QCOMPARE(d->ReadVariable(tag, DT_Int32, count).status, int(LR_NotConnected));
            QCOMPARE(runner.requestsServed(), served);
            QCOMPARE(capture.lines(QtWarningMsg).filter("打开连接失败").size(), 1);
            QCOMPARE(capture.lines(QtWarningMsg).size(), 1);
            return;
        }
        runner.setFaults(simOpts);
        const CLabelVariable v = d->ReadVariable(tag, DT_Int32, count);
        QCOMPARE(v.status, status);
        if (status == 0) {
            const QList<int> got = v.values.value<QList<int>>();
            QCOMPARE(got.size(), count);
            const int first = tag == "DintTag" ? 42 : 0;
            QCOMPARE(got.first(), first);
            QCOMPARE(got.last(), tag == "DintTag" ? 42 : count - 1);
        }
        QCOMPARE(runner.forwardOpensAccepted(), forwardOpens);
        QCOMPARE(runner.connectedRequestsServed() > 0, connectedReads);
        QCOMPARE(d->DisConnectDrive(), 0);
        QTRY_COMPARE(runner.forwardClosesAccepted(), forwardOpens);
    }

    void routingFailuresNameBothStatuses_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("options");
        QTest::addColumn<QString>("statuses");
        QTest::newRow("no processor in slot 0") << "slot=3"
                                                << ""
                                                << "status = 0x01 ext = 0x0312";
        QTest::newRow("no backplane on a direct controller") << "direct"
                                                             << "slot=0"
                                                             << "status = 0x01 ext = 0x0311";
    }
    void routingFailuresNameBothStatuses()
    {
        QFETCH(QString, sim);
        QFETCH(QString, options);
        QFETCH(QString, statuses);
        qsim::SimRunner runner(simOptions(sim, hugePath));
        QVERIFY(runner.start());
        CDriveBaseClass *d = host.newDriver();
        QCOMPARE(d->ConnectDrive(runner.address() + ";" + options), 0);
        MessageCapture capture;
        QCOMPARE(d->ReadVariable("DintTag", DT_Int32, 1).status, 7);
        const QStringList warnings = capture.lines(QtWarningMsg);
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings.first().contains(statuses), qPrintable(warnings.first()));
    }

    // Writes take the same ways as reads: a route, a controller addressed
    // directly, a connection whose size sets the parts.
    void writes_data()
    {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("options");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("connectedRequests"); // of the write alone
        QTest::newRow("one DINT, connected") << ""
                                             << "write;connected=large"
                                             << "DintTag" << 1 << 0 << 1;
        // 20,000 bytes: 43 parts unconnected or in a 500-byte connection, 6 in a
        // 4002-byte one
        QTest::newRow("5000 DINTs, connected") << ""
                                               << "write;connected=large"
                                               << "BigArray" << 5000 << 0 << 6;
        QTest::newRow("5000 DINTs, small connection") << ""
                                                      << "write;connected=small"
                                                      << "BigArray" << 5000 << 0 << 43;
        QTest::newRow("5000 DINTs, processor in slot 3") << "slot=3"
                                                         << "write;slot=3"
                                                         << "BigArray" << 5000 << 0 << 0;
        QTest::newRow("direct") << "direct"
                                << "write;path=none"
                                << "DintTag" << 1 << 0 << 0;
        // refused as DINT, then as DWORD, the bit string of its width
        QTest::newRow("type mismatch, connected") << ""
                                                  << "write;connected=large"
                                                  << "RealTag" << 1 << 7 << 2;
    }
    void writes()
    {
        QFETCH(QString, sim);
        QFETCH(QString, options);
        QFETCH(QString, tag);
        QFETCH(int, count);
        QFETCH(int, status);
        QFETCH(int, connectedRequests);
        qsim::SimRunner runner(simOptions(sim, hugePath));
        QVERIFY(runner.start());
        CDriveBaseClass *d = host.newDriver();
        QCOMPARE(d->ConnectDrive(runner.address() + ";" + options), 0);
        QList<int> values;
        for (int i = 0; i < count; ++i)
            values << 7 * i - 3;
        CLabelVariable in;
        in.values = QVariant::fromValue(values);
        const int before = runner.connectedRequestsServed();
        QCOMPARE(d->WriteVariable(tag, DT_Int32, in, count).status, status);
        QCOMPARE(runner.connectedRequestsServed() - before, connectedRequests);
        const CLabelVariable back = d->ReadVariable(tag, DT_Int32, count);
        if (status == 0)
            QCOMPARE(back.values.value<QList<int>>(), values);
        else
            QVERIFY(back.values.value<QList<int>>() != values);
    }

    // A connection the controller dropped for being idle is opened again
    // before the read, without the host noticing: one Forward Open per drop,
    // whose own reply opens it, whatever the window had in flight.
    void idleConnectionReopened_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("count");
        QTest::newRow("large, one element") << "connected=large"
                                            << "DintTag" << 1;
        QTest::newRow("large, window=4") << "connected=large;window=4"
                                         << "BigArray" << 10000;
        QTest::newRow("small, window=8") << "connected=small;window=8"
                                         << "BigArray" << 3000;
    }
    void idleConnectionReopened()
    {
        QFETCH(QString, options);
        QFETCH(QString, tag);
        QFETCH(int, count);
        qsim::SimOptions o;
        o.connectionTimeoutMs = 150;
        qsim::SimRunner runner(o);
        QVERIFY(runner.start());
        CDriveBaseClass *d = host.newDriver();
        QCOMPARE(d->ConnectDrive(runner.address() + ";" + options), 0);
        constexpr int Pauses = 3;
        for (int pause = 0; pause <= Pauses; ++pause) {
            if (pause > 0)
                QTRY_COMPARE(runner.liveConnections(), 0);
            const CLabelVariable v = d->ReadVariable(tag, DT_Int32, count);
            QCOMPARE(v.status, 0);
            const QList<int> got = v.values.value<QList<int>>();
            QCOMPARE(got.size(), count);
            QCOMPARE(got.first(), tag == "DintTag" ? 42 : 0);
            QCOMPARE(got.last(), tag == "DintTag" ? 42 : count - 1);
        }
        QCOMPARE(runner.forwardOpensAccepted(), 1 + Pauses);
    }
};

QTEST_GUILESS_MAIN(TestRoutes)
#include "tst_routes.moc"
