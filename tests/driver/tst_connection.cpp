#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <pty.h>
#include <unistd.h>

#include "ConnectionString.h"
#include "LibQuorvex.h"

namespace
{

// A pseudo-terminal pair; the slave side stands in for a serial port.
struct Pty {
    int master = -1;
    int slave = -1;
    QString path;
    Pty()
    {
        char name[256] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) == 0)
            path = QString::fromLocal8Bit(name);
    }
    ~Pty()
    {
        if (slave >= 0)
            ::close(slave);
        if (master >= 0)
            ::close(master);
    }
};

} // namespace

class TestConnection : public QObject
{
    Q_OBJECT

private slots:
    void connectionString_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("port");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("bits");
        QTest::addColumn<int>("stop");
        QTest::addColumn<QString>("parity");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("ipPort");

        // Serial ports that do not exist make the link fail with -1 after
        // the fields were stored.
        QTest::newRow("serial five fields")
            << "/dev/quorvex-none,9600,8,1,N" << -1 << "/dev/quorvex-none" << 9600 << 8 << 1 << "N"
            << QString() << 0;
        QTest::newRow("serial short repeats last field")
            << "/dev/quorvex-none,9600" << -1 << "/dev/quorvex-none" << 9600 << 9600 << 9600
            << "9600" << QString() << 0;
        QTest::newRow("serial sixth field ignored")
            << "/dev/quorvex-none,19200,7,2,E,extra" << -1 << "/dev/quorvex-none" << 19200 << 7 << 2
            << "E" << QString() << 0;
        QTest::newRow("serial wins over colon")
            << "COM1:x,4800,8,1,O" << -1 << "COM1:x" << 4800 << 8 << 1 << "O" << QString() << 0;
        QTest::newRow("serial zero baud")
            << "/dev/x,0,8,1,N" << -1 << "/dev/x" << 0 << 8 << 1 << "N" << QString() << 0;
        QTest::newRow("serial empty name")
            << ",9600,8,1,N" << -1 << "" << 9600 << 8 << 1 << "N" << QString() << 0;
        QTest::newRow("network no port")
            << "127.0.0.1:" << -1 << QString() << 0 << 0 << 0 << QString() << "127.0.0.1" << 0;
        QTest::newRow("network no address")
            << ":44818" << -1 << QString() << 0 << 0 << 0 << QString() << "" << 44818;
        QTest::newRow("network semicolon only") << "127.0.0.1;44818" << -1 << QString() << 0 << 0
                                                << 0 << QString() << "127.0.0.1;44818" << 0;
        QTest::newRow("network host name") << "plc.local:44818" << -1 << QString() << 0 << 0 << 0
                                           << QString() << "plc.local" << 44818;
        QTest::newRow("network port beyond 16 bits") << "127.0.0.1:70000" << -1 << QString() << 0
                                                     << 0 << 0 << QString() << "127.0.0.1" << 70000;
        QTest::newRow("no separator")
            << "nothing" << -4 << QString() << 0 << 0 << 0 << QString() << QString() << 0;
        QTest::newRow("empty") << "" << -4 << QString() << 0 << 0 << 0 << QString() << QString()
                               << 0;
    }

    void connectionString()
    {
        QFETCH(QString, text);
        QFETCH(int, result);
        QFETCH(QString, port);
        QFETCH(int, baud);
        QFETCH(int, bits);
        QFETCH(int, stop);
        QFETCH(QString, parity);
        QFETCH(QString, address);
        QFETCH(int, ipPort);
        LibQuorvex d;
        QCOMPARE(d.ConnectDrive(text), result);
        QCOMPARE(d.portName, port);
        QCOMPARE(d.baudRate, baud);
        QCOMPARE(d.dataBits, bits);
        QCOMPARE(d.stopBits, stop);
        QCOMPARE(d.parity, parity);
        QCOMPARE(d.ipAddress, address);
        QCOMPARE(d.ipPort, ipPort);
        // Refused strings never reach a transport.
        QCOMPARE(d.link.Connection_status(), -3);
    }

    void writeOption_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("write");
        QTest::addColumn<QString>("address"); // or the serial port's parity
        QTest::addColumn<int>("ipPort");
        QTest::newRow("write") << "127.0.0.1:44818;write" << true << "127.0.0.1" << 44818;
        QTest::newRow("write=on, any case")
            << "127.0.0.1:44818; WRITE=On" << true << "127.0.0.1" << 44818;
        QTest::newRow("write=off") << "127.0.0.1:44818;write=off" << false << "127.0.0.1" << 44818;
        QTest::newRow("the last one counts")
            << "127.0.0.1:44818;write;write=off" << false << "127.0.0.1" << 44818;
        QTest::newRow("none") << "127.0.0.1:44818" << false << "127.0.0.1" << 44818;
        QTest::newRow("serial form") << "/dev/x,9600,8,1,N;write" << true << "N" << 0;
        QTest::newRow("not an option: the text stays")
            << "127.0.0.1:44818;writes" << false << "127.0.0.1" << 0;
        QTest::newRow("semicolon, no colon: still the network form")
            << "plc;write" << true << "plc" << 0;
    }

    void writeOption()
    {
        QFETCH(QString, text);
        QFETCH(bool, write);
        QFETCH(QString, address);
        QFETCH(int, ipPort);
        const ConnectionString c = parseConnectionString(text);
        QCOMPARE(c.write, write);
        QCOMPARE(c.form == ConnectionString::Form::Serial ? c.parity : c.ipAddress, address);
        QCOMPARE(c.ipPort, ipPort);
    }

    void noSeparatorKeepsEarlierFields()
    {
        LibQuorvex d;
        QCOMPARE(d.ConnectDrive(QStringLiteral("127.0.0.1:")), -1);
        QCOMPARE(d.ConnectDrive(QStringLiteral("garbage")), -4);
        QCOMPARE(d.ipAddress, QStringLiteral("127.0.0.1"));
    }

    void setConnectPar()
    {
        LibQuorvex d;
        QCOMPARE(d.connectPar, 851u);
        d.SetConnectPar(QStringLiteral("7"));
        QCOMPARE(d.connectPar, 7u);
        d.SetConnectPar(QStringLiteral("seven"));
        QCOMPARE(d.connectPar, 0u);
    }

    void networkStringReachesTheLink()
    {
        // Nobody answers the registration on this listener, so the connect
        // ends in -3, but the link was called with the parsed address/port.
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        LibQuorvex d;
        const QString text = QStringLiteral("127.0.0.1:%1").arg(server.serverPort());
        QCOMPARE(d.ConnectDrive(text), -3);
        QCOMPARE(d.link.tcpPort, int(server.serverPort()));
        QCOMPARE(d.link.hostAddress, QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(d.DisConnectDrive(), 0);
    }

    void refusedPortGivesMinus3()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const quint16 closedPort = probe.serverPort();
        probe.close();
        LibQuorvex d;
        QCOMPARE(d.ConnectDrive(QStringLiteral("127.0.0.1:%1").arg(closedPort)), -3);
    }

    void serialStringOpensThePort()
    {
        Pty pty;
        QVERIFY(!pty.path.isEmpty());
        LibQuorvex d;
        QCOMPARE(d.ConnectDrive(pty.path + QStringLiteral(",9600,8,1,N")), 0);
        QVERIFY(d.link.serialPort);
        QCOMPARE(d.link.serialPort->baudRate(), 9600);
        QCOMPARE(d.link.serialPort->parity(), QSerialPort::NoParity);
        QCOMPARE(d.link.Connection_status(), 0);
        QCOMPARE(d.DisConnectDrive(), 0);
        QCOMPARE(d.link.Connection_status(), -3);
        QCOMPARE(d.DisConnectDrive(), 1);
        QCOMPARE(d.DestroyFree(), 0);
        QCOMPARE(d.DestroyFree(), 1);
    }

    void disconnectClosesTheLastNamedTransport()
    {
        QTcpServer server;
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        Pty pty;
        LibQuorvex d;
        QCOMPARE(d.DisConnectDrive(), 1);
        d.ConnectDrive(QStringLiteral("127.0.0.1:%1").arg(server.serverPort()));
        QVERIFY(d.link.tcpSocket);
        QCOMPARE(d.link.tcpSocket->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(d.ConnectDrive(pty.path + QStringLiteral(",19200,8,1,E")), 0);
        // The serial string came last: its port closes, the socket stays.
        QCOMPARE(d.DisConnectDrive(), 0);
        QVERIFY(!d.link.serialPort->isOpen());
        QCOMPARE(d.link.tcpSocket->state(), QAbstractSocket::ConnectedState);
    }
};

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
