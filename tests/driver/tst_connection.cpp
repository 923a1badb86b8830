#include <QSerialPort>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>
#include <pty.h>
#include <unistd.h>

#include "ConnectionString.h"
#include "LibQuorvex.h"
#include "LoopbackPeer.h"
#include "MessageCapture.h"

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

// The fields before the first ";", written back in their form's syntax.
QString fieldsText(const ConnectionString &c)
{
    if (c.form == ConnectionString::Form::Serial)
        return QStringLiteral("%1,%2,%3,%4,%5")
            .arg(c.portName)
            .arg(c.baudRate)
            .arg(c.dataBits)
            .arg(c.stopBits)
            .arg(c.parity);
    return QStringLiteral("%1:%2").arg(c.ipAddress).arg(c.ipPort);
}

} // namespace

Q_DECLARE_METATYPE(ConnectedMode)

// A controller that grants every session: the registration comes back
// with a handle, and nothing else is answered.
static void grantSessions(LoopbackPeer &peer)
{
    peer.setResponder([](const QByteArray &request) {
        if (request.size() < 8 || quint8(request.at(0)) != 0x65)
            return PeerStep::silent();
        QByteArray reply = request;
        reply.replace(4, 4, QByteArray::fromHex("04030201"));
        return PeerStep::reply(reply);
    });
}

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

    // Valid strings: the fields before the first ";" and the options after
    // it, with their canonical text. Refused ones (an empty `fields`): -1,
    // a warning naming the option, and no transport ever created.
    void connectionOptions_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("fields");
        QTest::addColumn<QString>("route");
        QTest::addColumn<bool>("direct");
        QTest::addColumn<ConnectedMode>("mode");
        QTest::addColumn<int>("timeout");
        QTest::addColumn<QString>("canonical");
        QTest::addColumn<QString>("badOption");
        const auto off = ConnectedMode::Off;
        auto ok = [&](const char *name, const char *text, const char *fields, const char *route,
                      ConnectedMode mode = ConnectedMode::Off, int timeout = 0,
                      const char *canonical = "") {
            QTest::newRow(name) << text << fields << route << false << mode << timeout << canonical
                                << QString();
        };
        auto bad = [&](const char *name, const char *text, const char *option) {
            QTest::newRow(name) << text << QString() << QString() << false << off << 0 << QString()
                                << option;
        };
        ok("network as today", "127.0.0.1:44818", "127.0.0.1:44818", "0100");
        ok("serial as today", "/dev/x,9600,8,1,N", "/dev/x,9600,8,1,N", "0100");
        ok("serial with a colon as today", "COM1:x,4800,8,1,O", "COM1:x,4800,8,1,O", "0100");
        ok("slot", "10.0.0.5:44818;slot=3", "10.0.0.5:44818", "0103", off, 0, "slot=3");
        ok("case and blanks", "10.0.0.5:44818;SLOT = 3 ;", "10.0.0.5:44818", "0103", off, 0,
           "slot=3");
        ok("slot 0 is the default", "10.0.0.5:44818;slot=0", "10.0.0.5:44818", "0100");
        ok("bridged path", "10.0.0.5:44818;path=1,2,2,10.0.0.7,1,0", "10.0.0.5:44818",
           "0102 1208 31302e302e302e37 0100", off, 0, "path=1,2,2,10.0.0.7,1,0");
        ok("odd address is padded", "10.0.0.5:44818;path=2,10.0.0.17", "10.0.0.5:44818",
           "1209 31302e302e302e3137 00", off, 0, "path=2,10.0.0.17");
        ok("wide ports", "10.0.0.5:44818;path=18,5,300,10.0.0.7", "10.0.0.5:44818",
           "0f1200 05 1f08 2c01 31302e302e302e37", off, 0, "path=18,5,300,10.0.0.7");
        ok("path of slot form", "10.0.0.5:44818;path= 1 , 007", "10.0.0.5:44818", "0107", off, 0,
           "slot=7");
        QTest::newRow("path none")
            << "10.0.0.5:44818;path=NONE"
            << "10.0.0.5:44818" << QString() << true << off << 0 << "path=none" << QString();
        ok("connected", "10.0.0.5:44818;connected=AUTO", "10.0.0.5:44818", "0100",
           ConnectedMode::Auto, 0, "connected=auto");
        ok("connected off", "10.0.0.5:44818;connected=off", "10.0.0.5:44818", "0100");
        ok("shortest timeout", "10.0.0.5:44818;timeout=10", "10.0.0.5:44818", "0100", off, 10,
           "timeout=10");
        ok("longest timeout", "10.0.0.5:44818;timeout=60000", "10.0.0.5:44818", "0100", off, 60000,
           "timeout=60000");
        ok("all, canonical order", "10.0.0.5:44818;timeout=2500;connected=large;slot=2",
           "10.0.0.5:44818", "0102", ConnectedMode::Large, 2500,
           "slot=2;connected=large;timeout=2500");
        ok("serial with options", "COM1,9600,8,1,N;connected=small", "COM1,9600,8,1,N", "0100",
           ConnectedMode::Small, 0, "connected=small");
        ok("parity before the semicolon", "COM1,9600,8,1,N;", "COM1,9600,8,1,N", "0100");
        ok("reconnect, bare", "10.0.0.5:44818;reconnect", "10.0.0.5:44818", "0100", off, 0,
           "reconnect=on");
        ok("reconnect=ON after the others", "10.0.0.5:44818;Reconnect=ON;connected=large;slot=1",
           "10.0.0.5:44818", "0101", ConnectedMode::Large, 0,
           "slot=1;connected=large;reconnect=on");
        ok("reconnect=off is the default", "COM1,9600,8,1,N;reconnect=off", "COM1,9600,8,1,N",
           "0100");
        ok("window, after the others", "10.0.0.5:44818;WINDOW = 8;connected=large;slot=2",
           "10.0.0.5:44818", "0102", ConnectedMode::Large, 0, "slot=2;connected=large;window=8");
        ok("window=1 is the default", "10.0.0.5:44818;window=1", "10.0.0.5:44818", "0100");
        ok("bitwrite last", "10.0.0.5:44818;BitWrite=ReadWrite;window=2", "10.0.0.5:44818", "0100",
           off, 0, "window=2;bitwrite=readwrite");
        ok("bitwrite=rmw is the default", "COM1,9600,8,1,N;bitwrite=rmw", "COM1,9600,8,1,N",
           "0100");
        bad("bitwrite neither", "127.0.0.1:44818;bitwrite=write", "bitwrite=write");
        bad("bare bitwrite", "127.0.0.1:44818;bitwrite", "bitwrite");
        bad("window 0", "127.0.0.1:44818;window=0", "window=0");
        bad("bare window", "127.0.0.1:44818;window", "window");
        bad("timeout too short", "127.0.0.1:44818;timeout=9", "timeout=9");
        bad("timeout too long", "127.0.0.1:44818;timeout=60001", "timeout=60001");
        bad("timeout not decimal", "127.0.0.1:44818;timeout=+100", "timeout=+100");
        bad("slot too large", "127.0.0.1:44818;slot=256", "slot=256");
        bad("bare slot", "127.0.0.1:44818;slot", "slot");
        bad("slot and path", "127.0.0.1:44818;slot=1;path=1,0", "path=1,0");
        bad("slot twice", "127.0.0.1:44818;slot=1; SLOT=2", "SLOT=2");
        bad("unknown", "127.0.0.1:44818;foo=1", "foo=1");
        bad("odd path", "127.0.0.1:44818;path=1,2,2", "path=1,2,2");
        bad("port 0", "127.0.0.1:44818;path=0,1", "path=0,1");
        bad("port beyond 16 bits", "127.0.0.1:44818;path=65536,1", "path=65536,1");
        bad("link beyond a byte", "127.0.0.1:44818;path=1,256", "path=1,256");
        bad("not an address", "127.0.0.1:44818;path=2,10.0.0.256", "path=2,10.0.0.256");
        bad("empty path", "127.0.0.1:44818;path=", "path=");
        bad("unknown mode", "127.0.0.1:44818;connected=yes", "connected=yes");
        bad("reconnect neither on nor off", "127.0.0.1:44818;reconnect=1", "reconnect=1");
        bad("reconnect twice", "127.0.0.1:44818;reconnect;reconnect=off", "reconnect=off");
        bad("serial with a bad option", "/dev/quorvex-none,9600,8,1,N;window=9", "window=9");
        bad("semicolon before the colon", "127.0.0.1;slot=1:44818", "");
    }

    void connectionOptions()
    {
        QFETCH(QString, text);
        QFETCH(QString, fields);
        QFETCH(QString, badOption);
        const ConnectionString c = parseConnectionString(text);
        if (fields.isEmpty()) {
            QVERIFY(!c.usable());
            LibQuorvex d;
            MessageCapture cap;
            QCOMPARE(d.ConnectDrive(text), -1);
            QVERIFY(!d.link.tcpSocket && !d.link.serialPort);
            QCOMPARE(d.options, LinkOptions());
            const QStringList warnings = cap.lines(QtWarningMsg);
            if (badOption.isEmpty()) {
                QCOMPARE(warnings.size(), 0);
            } else {
                QCOMPARE(warnings.size(), 1);
                const QString start =
                    QStringLiteral("lib[Quorvex]连接参数无效 %1 : ").arg(badOption);
                QVERIFY2(warnings.first().startsWith(start), qPrintable(warnings.first()));
            }
            return;
        }
        QFETCH(QString, route);
        QFETCH(bool, direct);
        QFETCH(ConnectedMode, mode);
        QFETCH(int, timeout);
        QFETCH(QString, canonical);
        QVERIFY(c.usable());
        QCOMPARE(fieldsText(c), fields);
        QCOMPARE(c.options.route.bytes().toHex(), QByteArray::fromHex(route.toLatin1()).toHex());
        QCOMPARE(c.options.route.direct, direct);
        QCOMPARE(c.options.connected, mode);
        QCOMPARE(c.options.replyTimeoutMs, timeout);
        QCOMPARE(c.options.toString(), canonical);
        LinkOptions again;
        OptionError error;
        QVERIFY(parseLinkOptions(canonical, &again, &error));
        QCOMPARE(again, c.options);
    }

    // Options are the facade's until the next ConnectDrive, which replaces
    // them, with the defaults when it is refused.
    void optionsLastUntilTheNextConnect()
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
        const QString closed = QStringLiteral("127.0.0.1:%1").arg(probe.serverPort());
        probe.close();
        LibQuorvex d;
        QCOMPARE(d.ConnectDrive(closed + QStringLiteral(";slot=4;timeout=100")), -3);
        QCOMPARE(d.options.toString(), QStringLiteral("slot=4;timeout=100"));
        QCOMPARE(d.ConnectDrive(QStringLiteral("garbage")), -4);
        QCOMPARE(d.options.toString(), QStringLiteral("slot=4;timeout=100"));
        {
            MessageCapture quiet;
            QCOMPARE(d.ConnectDrive(closed + QStringLiteral(";slot=4;timeout=1")), -1);
        }
        QCOMPARE(d.options, LinkOptions());
        QCOMPARE(d.ConnectDrive(closed + QStringLiteral(";connected=auto")), -3);
        QCOMPARE(d.ConnectDrive(closed), -3);
        QCOMPARE(d.options, LinkOptions());
    }

    void writeOption_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("write");
        QTest::addColumn<QString>("address"); // or the serial port's parity
        QTest::addColumn<int>("ipPort");
        QTest::addColumn<bool>("valid"); // the options as a whole
        QTest::newRow("write") << "127.0.0.1:44818;write" << true << "127.0.0.1" << 44818 << true;
        QTest::newRow("write=on, any case")
            << "127.0.0.1:44818; WRITE=On" << true << "127.0.0.1" << 44818 << true;
        QTest::newRow("write=off")
            << "127.0.0.1:44818;write=off" << false << "127.0.0.1" << 44818 << true;
        QTest::newRow("given twice")
            << "127.0.0.1:44818;write;write=off" << false << "127.0.0.1" << 44818 << false;
        QTest::newRow("none") << "127.0.0.1:44818" << false << "127.0.0.1" << 44818 << true;
        QTest::newRow("serial form") << "/dev/x,9600,8,1,N;write" << true << "N" << 0 << true;
        QTest::newRow("not the option")
            << "127.0.0.1:44818;writes" << false << "127.0.0.1" << 44818 << false;
        QTest::newRow("semicolon before any colon: refused as before")
            << "plc;write" << false << "plc;write" << 0 << true;
    }

    void writeOption()
    {
        QFETCH(QString, text);
        QFETCH(bool, write);
        QFETCH(QString, address);
        QFETCH(int, ipPort);
        QFETCH(bool, valid);
        const ConnectionString c = parseConnectionString(text);
        QCOMPARE(c.optionsValid, valid);
        QCOMPARE(c.options.write, write);
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
        // ends in -3 (and the socket is let go), but the link was called
        // with the parsed address and port.
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
        LoopbackPeer server;
        grantSessions(server);
        Pty pty;
        LibQuorvex d;
        QCOMPARE(d.DisConnectDrive(), 1);
        QCOMPARE(d.ConnectDrive(QStringLiteral("127.0.0.1:%1").arg(server.port())), 0);
        QVERIFY(d.link.tcpSocket);
        QCOMPARE(d.link.tcpSocket->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(d.ConnectDrive(pty.path + QStringLiteral(",19200,8,1,E")), 0);
        // The serial string came last: its port closes, the socket stays.
        QCOMPARE(d.DisConnectDrive(), 0);
        QVERIFY(!d.link.serialPort->isOpen());
        QCOMPARE(d.link.tcpSocket->state(), QAbstractSocket::ConnectedState);
    }

    void refusedStringKeepsTheNamedTransport_data()
    {
        QTest::addColumn<QString>("refused");
        QTest::addColumn<int>("rc");
        QTest::newRow("serial, baud rate 0") << "COM1,0,8,1,N" << -1;
        QTest::newRow("network, port 0") << "127.0.0.1:0" << -1;
        QTest::newRow("no separator") << "nothing" << -4;
    }
    void refusedStringKeepsTheNamedTransport()
    {
        QFETCH(QString, refused);
        QFETCH(int, rc);
        LoopbackPeer server;
        grantSessions(server);
        LibQuorvex d;
        QCOMPARE(d.ConnectDrive(QStringLiteral("127.0.0.1:%1").arg(server.port())), 0);
        QCOMPARE(d.link.tcpSocket->state(), QAbstractSocket::ConnectedState);
        QCOMPARE(d.ConnectDrive(refused), rc);
        // the disconnect still closes the connection the usable string made
        QCOMPARE(d.DisConnectDrive(), 0);
        QCOMPARE(d.link.tcpSocket->state(), QAbstractSocket::UnconnectedState);
    }
};

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"
