#include <QTcpServer>
#include <QtTest>

#include <climits>
#include <memory>

#include "PluginHost.h"
#include "SimRunner.h"

// Bad input to every entry of the host interface, through the loaded
// plug-in: each gets its documented result and none may crash (the
// sanitizer build runs these too). Connection strings are only ever ones
// that cannot open a real device.

namespace
{

QString huge(int n, QChar c = QLatin1Char('a'))
{
    return QString(n, c);
}

// A loopback port with nobody listening: a connection there is refused.
quint16 closedPort()
{
    QTcpServer s;
    if (!s.listen(QHostAddress::LocalHost, 0))
        return 0;
    const quint16 port = s.serverPort();
    s.close();
    return port;
}

} // namespace

class TestHostInput : public QObject
{
    Q_OBJECT

    PluginHost host;
    std::unique_ptr<qsim::SimRunner> sim;
    CDriveBaseClass *online = nullptr;

    // Runs one step of a call-order script and gives its result as text.
    QString step(CDriveBaseClass *d, const QString &s)
    {
        if (s == QLatin1String("connect"))
            return QString::number(d->ConnectDrive(sim->address()));
        if (s == QLatin1String("refused"))
            return QString::number(
                d->ConnectDrive(QStringLiteral("127.0.0.1:%1").arg(closedPort())));
        if (s == QLatin1String("read")) {
            const CLabelVariable v = d->ReadVariable(QStringLiteral("DintTag"), DT_Int32);
            if (v.status == LR_Success &&
                elementsOf(v.values) != elementsOf(QVariant::fromValue(QList<int>{42})))
                return QStringLiteral("wrong value");
            return QString::number(v.status);
        }
        if (s == QLatin1String("disconnect"))
            return QString::number(d->DisConnectDrive());
        if (s == QLatin1String("destroy"))
            return QString::number(d->DestroyFree());
        if (s == QLatin1String("write")) {
            CLabelVariable in;
            in.status = 5;
            const CLabelVariable out = d->WriteVariable(QStringLiteral("DintTag"), DT_Int32, in);
            return QString::number(out.status);
        }
        if (s == QLatin1String("name"))
            return d->getDriveName();
        return QStringLiteral("unknown step ") + s;
    }

private slots:
    void initTestCase()
    {
        QString error;
        QVERIFY2(host.load(&error), qPrintable(error));
        sim = std::make_unique<qsim::SimRunner>();
        QVERIFY2(sim->start(), qPrintable(sim->errorString()));
        online = host.newDriver();
        QCOMPARE(online->ConnectDrive(sim->address()), 0);
    }

    void cleanupTestCase()
    {
        host.releaseAll();
        sim.reset();
    }

    void connectStrings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("rc");

        QTest::newRow("empty") << QString() << -4;
        QTest::newRow("blanks") << QStringLiteral("   ") << -4;
        QTest::newRow("huge without separator") << huge(1 << 20) << -4;
        QTest::newRow("non-Latin without separator") << QStringLiteral("控制器") << -4;
        QTest::newRow("huge address") << huge(100000, QLatin1Char('9')) + ":44818" << -1;
        QTest::newRow("non-Latin address") << QStringLiteral("控制器:44818") << -1;
        QTest::newRow("host name, no lookup") << QStringLiteral("localhost:44818") << -1;
        QTest::newRow("nothing before the colon") << QStringLiteral(":44818") << -1;
        QTest::newRow("nothing after the colon") << QStringLiteral("127.0.0.1:") << -1;
        QTest::newRow("port zero") << QStringLiteral("127.0.0.1:0") << -1;
        QTest::newRow("negative port") << QStringLiteral("127.0.0.1:-44818") << -1;
        QTest::newRow("port beyond 16 bits") << QStringLiteral("127.0.0.1:65537") << -1;
        QTest::newRow("port beyond int") << QStringLiteral("127.0.0.1:99999999999") << -1;
        QTest::newRow("port not a number") << QStringLiteral("127.0.0.1:端口") << -1;
        QTest::newRow("huge port text") << "127.0.0.1:" + huge(100000, QLatin1Char('1')) << -1;
        QTest::newRow("semicolon only") << QStringLiteral("a;b") << -1;
        QTest::newRow("lone comma") << QStringLiteral(",") << -1;
        QTest::newRow("serial without a port name") << QStringLiteral(",9600,8,1,N") << -1;
        QTest::newRow("serial baud zero") << QStringLiteral("ttyQV0,0,8,1,N") << -1;
        QTest::newRow("serial baud not a number") << QStringLiteral("ttyQV0,快,8,1,N") << -1;
        QTest::newRow("serial negative fields")
            << QStringLiteral("/nonexistent/ttyQV0,-9600,-8,-1,N") << -1;
        QTest::newRow("serial device missing")
            << QStringLiteral("/nonexistent/ttyQV0,9600,8,1,N") << -1;
        QTest::newRow("serial non-Latin device")
            << QStringLiteral("/nonexistent/串口,9600,8,1,N") << -1;
        QTest::newRow("serial huge device name")
            << "/nonexistent/" + huge(100000) + ",9600,8,1,N" << -1;
        QTest::newRow("serial huge parity")
            << "/nonexistent/ttyQV0,9600,8,1," + huge(100000, QLatin1Char('E')) << -1;
    }

    void connectStrings()
    {
        QFETCH(QString, text);
        QFETCH(int, rc);
        CDriveBaseClass *d = host.newDriver();
        QCOMPARE(d->ConnectDrive(text), rc);
        // Whatever the string did, the driver still answers and refuses reads.
        QCOMPARE(d->getDriveName(), QStringLiteral("Quorvex"));
        QCOMPARE(d->ReadVariable(QStringLiteral("DintTag"), DT_Int32).status, int(LR_NotConnected));
    }

    void connectionRefused()
    {
        CDriveBaseClass *d = host.newDriver();
        const quint16 port = closedPort();
        QVERIFY(port != 0);
        QCOMPARE(d->ConnectDrive(QStringLiteral("127.0.0.1:%1").arg(port)), -3);
        QCOMPARE(d->ReadVariable(QStringLiteral("DintTag"), DT_Int32).status, int(LR_NotConnected));
    }

    void connectParameter_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<quint32>("stored");

        QTest::newRow("empty") << QString() << 0u;
        QTest::newRow("seven") << QStringLiteral("7") << 7u;
        QTest::newRow("negative") << QStringLiteral("-1") << 0u;
        QTest::newRow("largest") << QStringLiteral("4294967295") << 4294967295u;
        QTest::newRow("beyond 32 bits") << QStringLiteral("4294967296") << 0u;
        QTest::newRow("huge") << huge(1 << 20, QLatin1Char('9')) << 0u;
        QTest::newRow("non-Latin digits") << QStringLiteral("七") << 0u;
        QTest::newRow("hexadecimal") << QStringLiteral("0x10") << 0u;
    }

    void connectParameter()
    {
        QFETCH(QString, text);
        QFETCH(quint32, stored);
        CDriveBaseClass *d = host.newDriver();
        d->SetConnectPar(text);
        QCOMPARE(PluginHost::facade(d)->connectPar, stored);
    }

    void readArguments_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("offline"); // status on a driver that never connected
        QTest::addColumn<int>("online");  // status against the simulator

        const int unknown = LR_LinkFailed; // the controller refuses the path
        QTest::newRow("empty name") << QString() << int(DT_Int32) << 1 << 3 << 3;
        QTest::newRow("empty name, count 0") << QString() << int(DT_Int32) << 0 << 3 << 3;
        QTest::newRow("huge name") << huge(1 << 20) << int(DT_Int32) << 1 << 3 << 3;
        QTest::newRow("longest symbol") << huge(255) << int(DT_Int32) << 1 << 9 << unknown;
        QTest::newRow("symbol too long") << huge(256) << int(DT_Int32) << 1 << 3 << 3;
        QTest::newRow("non-Latin name") << QStringLiteral("温度") << int(DT_Int32) << 1 << 3 << 3;
        QTest::newRow("Latin-1 name")
            << QStringLiteral("Temp\u00e9rature") << int(DT_Int32) << 1 << 9 << unknown;
        QTest::newRow("embedded NUL")
            << QStringLiteral("Dint") + QChar(0) + "Tag" << int(DT_Int32) << 1 << 3 << 3;
        QTest::newRow("blank in name")
            << QStringLiteral("Dint Tag") << int(DT_Int32) << 1 << 3 << 3;
        QTest::newRow("open bracket")
            << QStringLiteral("DintArray[") << int(DT_Int32) << 1 << 3 << 3;
        QTest::newRow("index beyond 32 bits")
            << QStringLiteral("DintArray[4294967296]") << int(DT_Int32) << 1 << 3 << 3;
        QTest::newRow("negative index")
            << QStringLiteral("DintArray[-1]") << int(DT_Int32) << 1 << 3 << 3;
        QTest::newRow("index past the end")
            << QStringLiteral("DintArray[10]") << int(DT_Int32) << 1 << 9 << unknown;
        QTest::newRow("starts with a dot")
            << QStringLiteral(".Rpm") << int(DT_Int32) << 1 << 3 << 3;
        QTest::newRow("unknown tag")
            << QStringLiteral("NoSuchTag") << int(DT_Int32) << 1 << 9 << unknown;
        QTest::newRow("count 0") << QStringLiteral("DintTag") << int(DT_Int32) << 0 << 4 << 4;
        QTest::newRow("count -1") << QStringLiteral("DintTag") << int(DT_Int32) << -1 << 4 << 4;
        QTest::newRow("count INT_MIN")
            << QStringLiteral("DintTag") << int(DT_Int32) << INT_MIN << 4 << 4;
        QTest::newRow("count INT_MAX")
            << QStringLiteral("DintTag") << int(DT_Int32) << INT_MAX << 4 << 4;
        QTest::newRow("count beyond 16 bits")
            << QStringLiteral("BigArray") << int(DT_Int32) << 65536 << 4 << 4;
        QTest::newRow("count past the tag's end")
            << QStringLiteral("DintTag") << int(DT_Int32) << 2 << 9 << unknown;
        QTest::newRow("largest count, larger than the tag")
            << QStringLiteral("BigArray") << int(DT_Int32) << 65535 << 9 << unknown;
        QTest::newRow("largest count of texts")
            << QStringLiteral("Names") << int(DT_String) << 65535 << 9 << unknown;
        QTest::newRow("type 0") << QStringLiteral("DintTag") << int(DT_None) << 1 << 2 << 2;
        QTest::newRow("type 0, count 0")
            << QStringLiteral("DintTag") << int(DT_None) << 0 << 4 << 4;
        QTest::newRow("type 13") << QStringLiteral("DintTag") << 13 << 1 << 9 << 2;
        QTest::newRow("type -1") << QStringLiteral("DintTag") << -1 << 1 << 9 << 2;
        QTest::newRow("type INT_MAX") << QStringLiteral("DintTag") << INT_MAX << 1 << 9 << 2;
        QTest::newRow("type INT_MIN") << QStringLiteral("DintTag") << INT_MIN << 1 << 9 << 2;
        QTest::newRow("good read") << QStringLiteral("DintTag") << int(DT_Int32) << 1 << 9 << 0;
    }

    void readArguments()
    {
        QFETCH(QString, name);
        QFETCH(int, type);
        QFETCH(int, count);
        QFETCH(int, offline);
        QFETCH(int, online);

        CDriveBaseClass *fresh = host.newDriver();
        for (CDriveBaseClass *d : {fresh, this->online}) {
            const CLabelVariable v = d->ReadVariable(name, DataType(type), count);
            QCOMPARE(v.status, d == fresh ? offline : online);
            // Always labelled as asked, so the host can match the answer.
            QCOMPARE(v.tagName, name);
            QCOMPARE(int(v.type), type);
            QCOMPARE(v.count, count);
            QCOMPARE(v.accessStatus, int(LR_Initial));
            QCOMPARE(v.values.isValid(), v.status == LR_Success);
        }
        // The link is still in step after the refusal.
        QCOMPARE(this->online->ReadVariable(QStringLiteral("DintTag"), DT_Int32).status,
                 int(LR_Success));
    }

    void writeArguments_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("count");

        QTest::newRow("empty name") << QString() << int(DT_Int32) << 1;
        QTest::newRow("huge non-Latin name") << huge(1 << 20, QChar(0x6E29)) << int(DT_String) << 1;
        QTest::newRow("type out of range") << QStringLiteral("DintTag") << INT_MIN << 1;
        QTest::newRow("negative count") << QStringLiteral("DintTag") << int(DT_Int32) << INT_MIN;
        QTest::newRow("huge count") << QStringLiteral("DintTag") << int(DT_Int32) << INT_MAX;
    }

    void writeArguments()
    {
        QFETCH(QString, name);
        QFETCH(int, type);
        QFETCH(int, count);
        CLabelVariable in;
        in.status = 5;
        in.values = QVariant::fromValue(QList<double>{1.0, 2.0});
        for (CDriveBaseClass *d : {host.newDriver(), online}) {
            const CLabelVariable out = d->WriteVariable(name, DataType(type), in, count);
            QCOMPARE(out.status, 5);
            QCOMPARE(out.tagName, name);
            QCOMPARE(int(out.type), type);
            QCOMPARE(out.count, count);
            QCOMPARE(elementsOf(out.values), elementsOf(in.values));
        }
    }

    void debugCommands_data()
    {
        QTest::addColumn<int>("cmd");
        QTest::addColumn<QString>("text");

        QTest::newRow("start") << 0 << QStringLiteral("StartDebug");
        QTest::newRow("stop") << 1 << QStringLiteral("StopDebug");
        QTest::newRow("name") << 3 << QStringLiteral("Quorvex");
        QTest::newRow("4") << 4 << QString();
        QTest::newRow("-1") << -1 << QString();
        QTest::newRow("INT_MAX") << INT_MAX << QString();
        QTest::newRow("INT_MIN") << INT_MIN << QString();
    }

    void debugCommands()
    {
        QFETCH(int, cmd);
        QFETCH(QString, text);
        CDriveBaseClass *d = host.newDriver();
        const QString got = d->DebugCmd(EDebugCmdType(cmd));
        QCOMPARE(got, text);
        QCOMPARE(got.isNull(), text.isNull());
        d->DebugCmd(DBG_StopDebug);
    }

    void callOrder_data()
    {
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("results");

        QTest::newRow("read before connect") << "read"
                                             << "9";
        QTest::newRow("disconnect before connect") << "disconnect"
                                                   << "1";
        QTest::newRow("release twice, never connected") << "destroy destroy"
                                                        << "1 1";
        QTest::newRow("release twice after connect") << "connect destroy destroy"
                                                     << "0 0 1";
        QTest::newRow("read after release") << "connect read destroy read read"
                                            << "0 0 0 9 9";
        QTest::newRow("disconnect after release") << "connect destroy disconnect"
                                                  << "0 0 1";
        QTest::newRow("connect after release") << "connect destroy connect read"
                                               << "0 0 0 0";
        QTest::newRow("read after disconnect") << "connect disconnect read"
                                               << "0 0 9";
        QTest::newRow("disconnect twice") << "connect disconnect disconnect read"
                                          << "0 0 0 9";
        QTest::newRow("connect again after disconnect") << "connect disconnect connect read"
                                                        << "0 0 0 0";
        QTest::newRow("connect twice") << "connect connect read"
                                       << "0 0 0";
        QTest::newRow("refused, then connect") << "refused read connect read"
                                               << "-3 9 0 0";
        QTest::newRow("connected, then refused") << "connect refused read"
                                                 << "0 -3 9";
        QTest::newRow("writes in any state") << "write connect write disconnect write destroy write"
                                             << "5 0 5 0 5 0 5";
        QTest::newRow("name after release") << "connect destroy name"
                                            << "0 0 Quorvex";
    }

    void callOrder()
    {
        QFETCH(QString, script);
        QFETCH(QString, results);
        CDriveBaseClass *d = host.newDriver();
        QStringList got;
        for (const QString &s : script.split(QLatin1Char(' ')))
            got << step(d, s);
        QCOMPARE(got.join(QLatin1Char(' ')), results);
    }
};

QTEST_GUILESS_MAIN(TestHostInput)
#include "tst_hostinput.moc"
