// `quorvex sim` as a process: the ready line, serving, and a clean stop.
#include "SimFrames.h"

#include <QProcess>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QtTest>
#include <csignal>
#include <sys/types.h>

using namespace simtest;

namespace
{

constexpr int WaitMs = 10000;

const QString tool()
{
    return QStringLiteral(QUORVEX_BIN_DIR "/quorvex");
}

// Kills the process when a check fails, so that no simulator outlives us.
struct Process : QProcess {
    ~Process() override
    {
        if (state() != QProcess::NotRunning) {
            kill();
            waitForFinished(WaitMs);
        }
    }
    QString firstLine()
    {
        QElapsedTimer t;
        t.start();
        while (!canReadLine() && t.elapsed() < WaitMs && state() != QProcess::NotRunning)
            waitForReadyRead(100);
        return QString::fromLocal8Bit(readLine()).trimmed();
    }
};

} // namespace

class TestSimCli : public QObject
{
    Q_OBJECT

private slots:
    void listensServesAndStopsOnSignal_data();
    void listensServesAndStopsOnSignal();
    void stopsAfterMaxSeconds();
    void serialPrintsItsPath();
    void refusesBadArguments_data();
    void refusesBadArguments();
};

void TestSimCli::listensServesAndStopsOnSignal_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("request"); // the CIP request, in SendRRData
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("interrupt");

    QTest::newRow("default tags, SIGTERM") << QStringList() << routed(readTag(sym("DintTag"), 1))
                                           << QByteArray("cc000000c4002a000000") << false;
    QTest::newRow("tag file, SIGINT")
        << QStringList{QStringLiteral("--tags"),
                       QStringLiteral(QUORVEX_SOURCE_DIR "/sim/example-tags.json")}
        << routed(readTag(sym("Counter"), 1)) << QByteArray("cc000000c40007000000") << true;
    QTest::newRow("fixed error status")
        << QStringList{QStringLiteral("--error-status"), QStringLiteral("0x05")}
        << routed(readTag(sym("DintTag"), 1)) << QByteArray("cc000500") << false;
    QTest::newRow("processor in slot 3 refuses the route to slot 0")
        << QStringList{QStringLiteral("--slot"), QStringLiteral("3")}
        << routed(readTag(sym("DintTag"), 1)) << QByteArray("d2000101120301") << false;
    QTest::newRow("bridge refuses a local route")
        << QStringList{QStringLiteral("--bridge"), QStringLiteral("10.0.0.7")}
        << routed(readTag(sym("DintTag"), 1)) << QByteArray("d2000101120301") << false;
    QTest::newRow("addressed directly refuses any route")
        << QStringList{QStringLiteral("--direct")} << routed(readTag(sym("DintTag"), 1))
        << QByteArray("d2000101110301") << false;
    QTest::newRow("paced bytes") << QStringList{QStringLiteral("--byte-delay-us"),
                                                QStringLiteral("1042")}
                                 << routed(readTag(sym("DintTag"), 1))
                                 << QByteArray("cc000000c4002a000000") << false;
    const QByteArray path = QByteArray::fromHex("010020022401");
    QTest::newRow("no large forward open")
        << QStringList{QStringLiteral("--no-large-forward-open")}
        << forwardOpen(true, 1, 0x42000FA2, 0x42000FA2, path) << QByteArray("db000800") << false;
    QTest::newRow("no forward open")
        << QStringList{QStringLiteral("--no-forward-open")}
        << forwardOpen(false, 1, 0x43F4, 0x43F4, path) << QByteArray("d4000800") << false;
    QTest::newRow("smaller connections")
        << QStringList{QStringLiteral("--max-connection-size"), QStringLiteral("1000")}
        << forwardOpen(true, 1, 0x42000FA2, 0x42000FA2, path)
        << QByteArray("db0001020901e803"
                      "0100"
                      "3412"
                      "efcdab89"
                      "0000")
        << false;
    // The reply faults are read from the command line: the first tag reply
    // comes late, and twice, as the simulator's own tests show in detail.
    QTest::newRow("reply faults") << QStringList{QStringLiteral("--late-nth"),
                                                 QStringLiteral("1"),
                                                 QStringLiteral("--late-ms"),
                                                 QStringLiteral("50"),
                                                 QStringLiteral("--duplicate-every"),
                                                 QStringLiteral("1"),
                                                 QStringLiteral("--duplicate-gap-ms"),
                                                 QStringLiteral("20"),
                                                 QStringLiteral("--stall-after"),
                                                 QStringLiteral("5"),
                                                 QStringLiteral("--cut-after"),
                                                 QStringLiteral("9"),
                                                 QStringLiteral("--duplicate-forward-open")}
                                  << routed(readTag(sym("DintTag"), 1))
                                  << QByteArray("cc000000c4002a000000") << false;
}

void TestSimCli::listensServesAndStopsOnSignal()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(bool, interrupt);

    Process p;
    p.start(tool(), QStringList{QStringLiteral("sim"), QStringLiteral("--listen"),
                                QStringLiteral("127.0.0.1:0")} +
                        args);
    QVERIFY2(p.waitForStarted(WaitMs), qPrintable(p.errorString()));
    const QString line = p.firstLine();
    const QRegularExpressionMatch m =
        QRegularExpression(QStringLiteral("^LISTEN 127\\.0\\.0\\.1:(\\d+)$")).match(line);
    QVERIFY2(m.hasMatch(), qPrintable(line + QString::fromLocal8Bit(p.readAllStandardError())));
    const quint16 port = static_cast<quint16>(m.captured(1).toUInt());
    QVERIFY(port != 0);

    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    QVERIFY(s.waitForConnected(WaitMs));
    auto exchange = [&s](const QByteArray &frame) {
        s.write(frame);
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (eip::completeFrameSize(got) == 0 && t.elapsed() < WaitMs) {
            s.waitForReadyRead(100);
            got += s.readAll();
        }
        return got;
    };
    const quint32 h = sessionOf(exchange(registerSession()));
    QVERIFY(h != 0);
    QCOMPARE(cipOf(exchange(sendRR(h, request))).toHex(), reply);

    ::kill(static_cast<pid_t>(p.processId()), interrupt ? SIGINT : SIGTERM);
    QVERIFY(p.waitForFinished(WaitMs));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(p.readAllStandardOutput().isEmpty()); // exactly one line was printed
}

void TestSimCli::stopsAfterMaxSeconds()
{
    Process p;
    p.start(tool(),
            {QStringLiteral("sim"), QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
             QStringLiteral("--max-seconds"), QStringLiteral("1")});
    QVERIFY(p.firstLine().startsWith(QLatin1String("LISTEN 127.0.0.1:")));
    QVERIFY(p.waitForFinished(WaitMs));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), 0);
}

void TestSimCli::serialPrintsItsPath()
{
    Process p;
    p.start(tool(), {QStringLiteral("sim"), QStringLiteral("--serial")});
    const QString line = p.firstLine();
    QVERIFY2(line.startsWith(QLatin1String("SERIAL /dev/")), qPrintable(line));
    QVERIFY(QFile::exists(line.mid(7)));
    p.terminate();
    QVERIFY(p.waitForFinished(WaitMs));
    QCOMPARE(p.exitCode(), 0);
}

void TestSimCli::refusesBadArguments_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("exitCode");

    QTest::newRow("unknown option") << QStringList{QStringLiteral("--frobnicate")} << 2;
    QTest::newRow("listen without port")
        << QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1")} << 2;
    QTest::newRow("status out of range")
        << QStringList{QStringLiteral("--error-status"), QStringLiteral("0x100")} << 2;
    QTest::newRow("slot out of range")
        << QStringList{QStringLiteral("--slot"), QStringLiteral("256")} << 2;
    QTest::newRow("bridge not an address")
        << QStringList{QStringLiteral("--bridge"), QStringLiteral("10.0.0")} << 2;
    QTest::newRow("direct with a slot")
        << QStringList{QStringLiteral("--direct"), QStringLiteral("--slot"), QStringLiteral("1")}
        << 2;
    QTest::newRow("negative byte delay")
        << QStringList{QStringLiteral("--byte-delay-us"), QStringLiteral("-1")} << 2;
    QTest::newRow("connection size 0")
        << QStringList{QStringLiteral("--max-connection-size"), QStringLiteral("0")} << 2;
    QTest::newRow("connection time-out 0")
        << QStringList{QStringLiteral("--connection-timeout-ms"), QStringLiteral("0")} << 2;
    QTest::newRow("restart after 0 requests")
        << QStringList{QStringLiteral("--restart-after"), QStringLiteral("0")} << 2;
    QTest::newRow("negative black hole")
        << QStringList{QStringLiteral("--blackhole-after"), QStringLiteral("1"),
                       QStringLiteral("--blackhole-ms"), QStringLiteral("-5")}
        << 2;
    QTest::newRow("every 0th reply late")
        << QStringList{QStringLiteral("--late-every"), QStringLiteral("0")} << 2;
    QTest::newRow("negative copy gap")
        << QStringList{QStringLiteral("--duplicate-nth"), QStringLiteral("2"),
                       QStringLiteral("--duplicate-gap-ms"), QStringLiteral("-1")}
        << 2;
    QTest::newRow("no registration ignored")
        << QStringList{QStringLiteral("--ignore-register"), QStringLiteral("0")} << 2;
    QTest::newRow("missing tag file")
        << QStringList{QStringLiteral("--tags"), QStringLiteral("/nonexistent.json")} << 1;
}

void TestSimCli::refusesBadArguments()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    Process p;
    p.start(tool(), QStringList{QStringLiteral("sim"), QStringLiteral("--listen"),
                                QStringLiteral("127.0.0.1:0")} +
                        args);
    QVERIFY(p.waitForFinished(WaitMs));
    QCOMPARE(p.exitCode(), exitCode);
    QVERIFY(p.readAllStandardOutput().isEmpty());
    QVERIFY(!p.readAllStandardError().isEmpty());
}

QTEST_GUILESS_MAIN(TestSimCli)
#include "tst_simcli.moc"
