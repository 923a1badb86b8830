// The simulator in its own thread, through real sockets and a pseudo-terminal.
#include "SimFrames.h"

#include "SimRunner.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtTest>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using namespace simtest;

namespace
{

constexpr int WaitMs = 5000;

// A blocking client in the test thread; the simulator answers from its own.
class Client
{
public:
    bool connectTo(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        return socket.waitForConnected(WaitMs);
    }
    // One whole reply frame, or what came before `timeoutMs` ran out.
    QByteArray exchange(const QByteArray &frame, int timeoutMs = WaitMs)
    {
        socket.write(frame);
        socket.waitForBytesWritten(WaitMs);
        return receive(timeoutMs);
    }
    QByteArray receive(int timeoutMs = WaitMs)
    {
        QElapsedTimer t;
        t.start();
        while (eip::completeFrameSize(buffer) == 0 && t.elapsed() < timeoutMs &&
               socket.state() == QAbstractSocket::ConnectedState) {
            socket.waitForReadyRead(static_cast<int>(qMax<qint64>(1, timeoutMs - t.elapsed())));
            buffer += socket.readAll();
        }
        buffer += socket.readAll();
        const int n = eip::completeFrameSize(buffer);
        const QByteArray out = n ? buffer.left(n) : buffer;
        buffer.remove(0, n ? n : buffer.size());
        return out;
    }
    quint32 registerSession() { return sessionOf(exchange(simtest::registerSession())); }
    QByteArray read(quint32 session, const QByteArray &path, int timeoutMs = WaitMs)
    {
        return cipOf(exchange(sendRR(session, routed(readTag(path, 1))), timeoutMs));
    }
    bool waitClosed()
    {
        if (socket.state() == QAbstractSocket::UnconnectedState)
            return true;
        return socket.waitForDisconnected(WaitMs) ||
               socket.state() == QAbstractSocket::UnconnectedState;
    }

    QTcpSocket socket;
    QByteArray buffer;
};

// The client end of the simulator's pseudo-terminal, raw and blocking.
class PtyClient
{
public:
    ~PtyClient()
    {
        if (fd >= 0)
            ::close(fd);
    }
    bool open(const QString &path)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY);
        if (fd < 0)
            return false;
        struct termios raw = {};
        ::tcgetattr(fd, &raw);
        cfmakeraw(&raw);
        return ::tcsetattr(fd, TCSANOW, &raw) == 0;
    }
    // The reply is whole when its length field is satisfied.
    QByteArray exchange(const QByteArray &frame, int timeoutMs = WaitMs)
    {
        send(frame);
        return receive(timeoutMs);
    }
    void send(const QByteArray &frame)
    {
        const ssize_t w = ::write(fd, frame.constData(), static_cast<size_t>(frame.size()));
        Q_UNUSED(w);
    }
    // One whole frame, or what came before the time ran out.
    QByteArray receive(int timeoutMs = WaitMs)
    {
        QElapsedTimer t;
        t.start();
        while (eip::completeFrameSize(buffer) == 0 && t.elapsed() < timeoutMs) {
            struct pollfd p = {fd, POLLIN, 0};
            if (::poll(&p, 1, 100) > 0) {
                char buf[4096];
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0)
                    buffer.append(buf, static_cast<int>(n));
            }
        }
        const int n = eip::completeFrameSize(buffer);
        const QByteArray out = n ? buffer.left(n) : buffer;
        buffer.remove(0, n ? n : buffer.size());
        return out;
    }

private:
    int fd = -1;
    QByteArray buffer;
};

const QByteArray DintTagReply = QByteArray::fromHex("cc000000c4002a000000");

} // namespace

class TestSimRunner : public QObject
{
    Q_OBJECT

private slots:
    void servesSeveralConnections();
    void delayedReply();
    void splitReply();
    void closeAfter();
    void silentAfter();
    void faultsSwitchBetweenReads();
    void garbageReplies();
    void rejectRegister();
    void untrustedInput();
    void badTagFileFailsToStart();
    void serialLine();
    void pacedAndDelayedReplies_data();
    void pacedAndDelayedReplies();
    void connectedMessaging_data();
    void connectedMessaging();
    void outages_data();
    void outages();
    void maxOutstanding_data();
    void maxOutstanding();
    void replyFaults_data();
    void replyFaults();
    void cutAfter();
    void ignoredRegister();
    void duplicatedForwardOpen();
};

void TestSimRunner::servesSeveralConnections()
{
    qsim::SimRunner sim;
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    QVERIFY(sim.port() != 0);
    QCOMPARE(sim.address(), QStringLiteral("127.0.0.1:%1").arg(sim.port()));

    Client a, b, c;
    QVERIFY(a.connectTo(sim.port()) && b.connectTo(sim.port()) && c.connectTo(sim.port()));
    const quint32 ha = a.registerSession(), hb = b.registerSession(), hc = c.registerSession();
    QVERIFY(ha && hb && hc && ha != hb && hb != hc && ha != hc);
    QCOMPARE(c.read(hc, sym("DintTag")).toHex(), DintTagReply.toHex());
    QCOMPARE(a.read(ha, sym("Grid") + el8(3) + el8(4)).toHex(), QByteArray("cc000000c40022000000"));
    QCOMPARE(statusOf(b.exchange(sendRR(ha, readTag(sym("DintTag"), 1)))),
             quint32(eip::StatusInvalidSession));
    QCOMPARE(sim.connectionsAccepted(), 3);
    QCOMPARE(sim.requestsServed(), 6);
    sim.stop();
    QVERIFY(!sim.isRunning());
    QVERIFY(a.waitClosed());
}

void TestSimRunner::delayedReply()
{
    qsim::SimOptions o;
    o.delayMs = 400;
    qsim::SimRunner sim(o);
    QVERIFY(sim.start());
    Client a;
    QVERIFY(a.connectTo(sim.port()));
    QElapsedTimer t;
    t.start();
    // Nothing can come before the delay has passed; then the whole reply.
    QVERIFY(a.exchange(registerSession(), 100).isEmpty());
    const quint32 h = sessionOf(a.receive());
    QVERIFY(h != 0);
    QVERIFY(t.elapsed() >= 390);
    QCOMPARE(a.read(h, sym("DintTag")).toHex(), DintTagReply.toHex());
}

void TestSimRunner::splitReply()
{
    qsim::SimOptions o;
    o.splitGapMs = 300;
    qsim::SimRunner sim(o);
    QVERIFY(sim.start());
    Client a;
    QVERIFY(a.connectTo(sim.port()));
    a.socket.write(registerSession());
    QVERIFY(a.socket.waitForReadyRead(WaitMs));
    const QByteArray first = a.socket.readAll();
    QCOMPARE(first.size(), 14); // half of 28, the rest still to come
    a.buffer = first;
    const QByteArray whole = a.receive();
    QCOMPARE(whole.size(), 28);
    QCOMPARE(statusOf(whole), 0u);
    QCOMPARE(a.read(sessionOf(whole), sym("DintTag")).toHex(), DintTagReply.toHex());
}

void TestSimRunner::closeAfter()
{
    qsim::SimOptions o;
    o.closeAfter = 2;
    qsim::SimRunner sim(o);
    QVERIFY(sim.start());
    Client a;
    QVERIFY(a.connectTo(sim.port()));
    const quint32 h = a.registerSession();
    QCOMPARE(a.read(h, sym("DintTag")).toHex(), DintTagReply.toHex());
    QVERIFY(a.waitClosed());
    // Counting is per connection: a new one is answered again.
    Client b;
    QVERIFY(b.connectTo(sim.port()));
    QVERIFY(b.registerSession() != 0);
}

void TestSimRunner::silentAfter()
{
    qsim::SimOptions o;
    o.silentAfter = 1;
    qsim::SimRunner sim(o);
    QVERIFY(sim.start());
    Client a;
    QVERIFY(a.connectTo(sim.port()));
    const quint32 h = a.registerSession();
    QVERIFY(h != 0);
    QVERIFY(a.read(h, sym("DintTag"), 300).isEmpty());
    QCOMPARE(a.socket.state(), QAbstractSocket::ConnectedState);
    QCOMPARE(sim.requestsServed(), 1);
}

void TestSimRunner::faultsSwitchBetweenReads()
{
    qsim::SimRunner sim;
    QVERIFY(sim.start());
    Client a;
    QVERIFY(a.connectTo(sim.port()));
    const quint32 h = a.registerSession();
    QCOMPARE(a.read(h, sym("DintTag")).toHex(), DintTagReply.toHex());

    qsim::SimFaults f;
    f.errorStatus = cip::PathDestinationUnknown;
    sim.setFaults(f);
    QCOMPARE(sim.faults().errorStatus, int(cip::PathDestinationUnknown));
    QCOMPARE(a.read(h, sym("DintTag")).toHex(), QByteArray("cc000500"));

    sim.setFaults(qsim::SimFaults());
    QCOMPARE(a.read(h, sym("DintTag")).toHex(), DintTagReply.toHex());

    // Counted from the change, not from the start of the connection.
    f = qsim::SimFaults();
    f.silentAfter = 1;
    sim.setFaults(f);
    QCOMPARE(a.read(h, sym("DintTag")).toHex(), DintTagReply.toHex());
    QVERIFY(a.read(h, sym("DintTag"), 300).isEmpty());

    f = qsim::SimFaults();
    f.closeAfter = 0;
    sim.setFaults(f);
    a.socket.write(sendRR(h, routed(readTag(sym("DintTag"), 1))));
    QVERIFY(a.waitClosed());
}

void TestSimRunner::garbageReplies()
{
    qsim::SimRunner sim;
    QVERIFY(sim.start());
    Client a;
    QVERIFY(a.connectTo(sim.port()));
    const quint32 h = a.registerSession();
    qsim::SimFaults f;
    f.garbage = true;
    sim.setFaults(f);
    a.socket.write(sendRR(h, routed(readTag(sym("DintTag"), 1))));
    QByteArray g;
    QElapsedTimer t;
    t.start();
    while (g.size() < 50 && t.elapsed() < WaitMs) {
        a.socket.waitForReadyRead(100);
        g += a.socket.readAll();
    }
    QCOMPARE(g.size(), 50);
    QVERIFY(cipOf(g).isEmpty() || cipOf(g) != DintTagReply);
    QVERIFY(static_cast<quint8>(g.at(40)) != 0xCC);
}

void TestSimRunner::rejectRegister()
{
    qsim::SimOptions o;
    o.rejectRegister = true;
    qsim::SimRunner sim(o);
    QVERIFY(sim.start());
    Client a;
    QVERIFY(a.connectTo(sim.port()));
    const QByteArray reply = a.exchange(registerSession());
    QCOMPARE(sessionOf(reply), 0u);
    QCOMPARE(statusOf(reply), quint32(eip::StatusUnsupportedProtocol));
    QCOMPARE(statusOf(a.exchange(sendRR(0, readTag(sym("DintTag"), 1)))),
             quint32(eip::StatusInvalidSession));
}

void TestSimRunner::untrustedInput()
{
    qsim::SimRunner sim;
    QVERIFY(sim.start());

    // The largest frame the length field allows is read whole and answered.
    Client big;
    QVERIFY(big.connectTo(sim.port()));
    QByteArray huge = sendRR(0x1234, QByteArray(0xFFFF - 16, 'x'));
    QCOMPARE(huge.size(), eip::MaxFrameSize);
    QCOMPARE(statusOf(big.exchange(huge)), quint32(eip::StatusInvalidSession));

    // Megabytes of nonsense: bounded buffering, answers or a close, no crash.
    Client junk;
    QVERIFY(junk.connectTo(sim.port()));
    QByteArray noise(1 << 20, '\0');
    quint32 seed = 7;
    for (char &c : noise) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    junk.socket.write(noise);
    junk.socket.waitForBytesWritten(WaitMs);

    // A truncated frame waits for the rest; the connection stays usable
    // for others meanwhile, and the simulator keeps serving.
    Client partial;
    QVERIFY(partial.connectTo(sim.port()));
    QVERIFY(partial.exchange(registerSession().left(20), 200).isEmpty());
    QVERIFY(partial.exchange(registerSession().mid(20)).size() == 28);

    Client fresh;
    QVERIFY(fresh.connectTo(sim.port()));
    const quint32 h = fresh.registerSession();
    QCOMPARE(fresh.read(h, sym("DintTag")).toHex(), DintTagReply.toHex());
    QVERIFY(sim.isRunning());
}

void TestSimRunner::badTagFileFailsToStart()
{
    qsim::SimOptions o;
    o.tagFile = QStringLiteral("/nonexistent/tags.json");
    qsim::SimRunner sim(o);
    QVERIFY(!sim.start());
    QVERIFY(sim.errorString().contains(QLatin1String("/nonexistent/tags.json")));
}

void TestSimRunner::serialLine()
{
    qsim::SimOptions o;
    o.serial = true;
    qsim::SimRunner sim(o);
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    QVERIFY(sim.serialPath().startsWith(QLatin1String("/dev/")));
    QCOMPARE(sim.port(), quint16(0));

    PtyClient line;
    QVERIFY(line.open(sim.serialPath()));
    auto exchange = [&line](const QByteArray &frame) { return line.exchange(frame); };
    // No registration on a serial line: any handle is accepted.
    const QByteArray reply = exchange(sendRR(0xCAFEF00D, routed(readTag(sym("DintTag"), 1))));
    QCOMPARE(sessionOf(reply), 0xCAFEF00Du);
    QCOMPARE(cipOf(reply).toHex(), DintTagReply.toHex());
    // A frame that stops short ends with the pause and is refused as such.
    QByteArray cut = sendRR(0, routed(readTag(sym("DintTag"), 1)));
    cut.chop(10);
    QCOMPARE(statusOf(exchange(cut)), quint32(eip::StatusInvalidLength));
    QCOMPARE(cipOf(exchange(sendRR(1, readTag(sym("IntTag"), 1)))).toHex(),
             QByteArray("cc000000c3002efb"));
    sim.stop();
}

void TestSimRunner::pacedAndDelayedReplies_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<int>("byteDelayUs");
    QTest::addColumn<bool>("atRunTime");

    QTest::newRow("pty at 9600 baud") << true << 0 << 1042 << false;
    QTest::newRow("pty at 19200 baud, set at run time") << true << 0 << 521 << true;
    QTest::newRow("pty delayed reply") << true << 300 << 0 << false;
    QTest::newRow("pty delayed and paced, set at run time") << true << 100 << 1042 << true;
    QTest::newRow("tcp paced") << false << 0 << 1042 << false;
    QTest::newRow("tcp delayed, set at run time") << false << 300 << 0 << true;
}

// The reply comes whole and exact, and not before its delay plus its bytes
// at the paced rate (a loose bound: 60 % of the nominal time).
void TestSimRunner::pacedAndDelayedReplies()
{
    QFETCH(bool, serial);
    QFETCH(int, delayMs);
    QFETCH(int, byteDelayUs);
    QFETCH(bool, atRunTime);

    qsim::SimOptions o;
    o.serial = serial;
    qsim::SimFaults f;
    f.delayMs = delayMs;
    f.byteDelayUs = byteDelayUs;
    if (!atRunTime)
        static_cast<qsim::SimFaults &>(o) = f;
    qsim::SimRunner sim(o);
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    if (atRunTime)
        sim.setFaults(f);

    // 100 INTs: a 246-byte reply, a quarter of a second at 9600 baud.
    const QByteArray request = routed(readFrag(sym("IntArray"), 100, 0));
    QByteArray expected = QByteArray::fromHex("d2000000c300");
    for (int i = 0; i < 100; ++i)
        le::put16(expected, static_cast<quint16>(i - 150));

    PtyClient line;
    Client tcp;
    quint32 session = 1;
    if (serial) {
        QVERIFY(line.open(sim.serialPath()));
    } else {
        QVERIFY(tcp.connectTo(sim.port()));
        sim.setFaults(qsim::SimFaults()); // registration unhurried
        session = tcp.registerSession();
        QVERIFY(session != 0);
        sim.setFaults(f);
    }
    QElapsedTimer t;
    t.start();
    const QByteArray reply =
        serial ? line.exchange(sendRR(session, request)) : tcp.exchange(sendRR(session, request));
    const qint64 elapsedUs = t.nsecsElapsed() / 1000;
    QCOMPARE(cipOf(reply).toHex(), expected.toHex());
    const qint64 nominalUs = qint64(delayMs) * 1000 + qint64(reply.size()) * byteDelayUs;
    QVERIFY2(elapsedUs >= nominalUs * 6 / 10,
             qPrintable(QStringLiteral("%1 us for a nominal %2").arg(elapsedUs).arg(nominalUs)));
}

void TestSimRunner::connectedMessaging_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("ending");

    QTest::newRow("tcp, idle time-out") << false << "idle";
    QTest::newRow("tcp, client closes") << false << "close";
    QTest::newRow("tcp, forward close") << false << "forward close";
    QTest::newRow("pty, idle time-out") << true << "idle";
    QTest::newRow("pty, forward close") << true << "forward close";
}

// Open a connection, read on it, then end it one way or another; the
// counters follow, and a read on the ended connection is refused.
void TestSimRunner::connectedMessaging()
{
    QFETCH(bool, serial);
    QFETCH(QString, ending);

    qsim::SimOptions o;
    o.serial = serial;
    qsim::SimRunner sim(o);
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    PtyClient line;
    Client tcp;
    quint32 session = 0;
    if (serial) {
        QVERIFY(line.open(sim.serialPath()));
    } else {
        QVERIFY(tcp.connectTo(sim.port()));
        session = tcp.registerSession();
        QVERIFY(session != 0);
    }
    auto exchange = [&](const QByteArray &frame) {
        return serial ? line.exchange(frame) : tcp.exchange(frame);
    };
    const QByteArray path = QByteArray::fromHex("010020022401");
    const quint32 id = openedId(
        cipOf(exchange(sendRR(session, forwardOpen(true, 9, 0x42000FA2, 0x42000FA2, path)))));
    QVERIFY(id != 0);
    QCOMPARE(sim.forwardOpensAccepted(), 1);
    QCOMPARE(sim.liveConnections(), 1);

    quint32 toId = 0;
    quint16 sequence = 0;
    const QByteArray read = sendUnit(session, id, 3, readTag(sym("DintTag"), 1));
    QCOMPARE(connectedCipOf(exchange(read), &toId, &sequence).toHex(), DintTagReply.toHex());
    QCOMPARE(toId, 0x11223344u);
    QCOMPARE(sequence, quint16(3));
    QCOMPARE(sim.connectedRequestsServed(), 1);
    QCOMPARE(sim.tagRequestsServed(), 1);

    if (ending == QLatin1String("idle")) {
        qsim::SimFaults f;
        f.connectionTimeoutMs = 150;
        sim.setFaults(f);
        QTRY_COMPARE_WITH_TIMEOUT(sim.liveConnections(), 0, WaitMs);
    } else if (ending == QLatin1String("forward close")) {
        QCOMPARE(cipOf(exchange(sendRR(session, forwardClose(9, path)))).left(4).toHex(),
                 QByteArray("ce000000"));
        QCOMPARE(sim.forwardClosesAccepted(), 1);
        QCOMPARE(sim.liveConnections(), 0);
    } else {
        tcp.socket.disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(sim.liveConnections(), 0, WaitMs);
        // The id was the old client's; a new one cannot use it.
        Client again;
        QVERIFY(again.connectTo(sim.port()));
        session = again.registerSession();
        QCOMPARE(
            connectedCipOf(again.exchange(sendUnit(session, id, 4, readTag(sym("DintTag"), 1))))
                .toHex(),
            QByteArray("cc0001010701"));
        return;
    }
    QCOMPARE(connectedCipOf(exchange(read), &toId).toHex(), QByteArray("cc0001010701"));
    QCOMPARE(toId, id); // the refusal carries the id it got
    QCOMPARE(sim.connectedRequestsServed(), 1);
}

void TestSimRunner::outages_data()
{
    QTest::addColumn<QString>("outage"); // restart, black hole, pull

    QTest::newRow("restart after every 2 tag requests") << "restart";
    QTest::newRow("black hole after every 2 tag requests") << "black hole";
    QTest::newRow("cable pulled after every 2 tag requests") << "pull";
}

// Twice in one run: two reads are answered, then the outage, then service
// again. A restart ends the connection and its CIP connection; it comes
// back on the same port with new sessions. A black hole closes nothing; a
// pulled cable closes nothing either, and leaves new connection attempts
// unanswered (not refused) until it is plugged in again.
void TestSimRunner::outages()
{
    QFETCH(QString, outage);
    const bool restart = outage == "restart";
    const bool pull = outage == "pull";
    qsim::SimOptions o;
    if (restart) {
        o.restartAfter = 2;
        o.restartGapMs = 1000;
    } else if (pull) {
        o.pullAfter = 2;
        o.pullMs = 1000;
    } else {
        o.blackholeAfter = 2;
        o.blackholeMs = 500;
    }
    qsim::SimRunner sim(o);
    QVERIFY(sim.start());
    const quint16 port = sim.port();
    const QByteArray open =
        forwardOpen(false, 1, 0x43F4, 0x43F4, QByteArray::fromHex("010020022401"));

    auto client = std::make_unique<Client>();
    QVERIFY(client->connectTo(port));
    quint32 session = client->registerSession();
    QVERIFY(openedId(cipOf(client->exchange(sendRR(session, open)))) != 0);
    int readsBeforeOutage = 2;
    for (int round = 1; round <= 2; ++round) {
        for (int i = 0; i < readsBeforeOutage; ++i)
            QCOMPARE(client->read(session, sym("DintTag")).toHex(), DintTagReply.toHex());
        if (restart) {
            QVERIFY(client->waitClosed());
            QTRY_COMPARE_WITH_TIMEOUT(sim.liveConnections(), 0, WaitMs);
            Client early;
            const bool refused = !early.connectTo(port);
            if (!sim.isListening()) // the attempt fell into the gap
                QVERIFY(refused);
            QTRY_COMPARE_WITH_TIMEOUT(sim.restartsDone(), round, WaitMs);
            QVERIFY(sim.isListening());
            client = std::make_unique<Client>();
            QVERIFY(client->connectTo(port));
            const quint32 fresh = client->registerSession();
            QVERIFY(fresh != 0 && fresh != session);
            session = fresh;
            // The same serial again: the old connection is gone.
            QVERIFY(openedId(cipOf(client->exchange(sendRR(session, open)))) != 0);
        } else {
            const int accepted = sim.connectionsAccepted();
            if (pull) {
                QTcpSocket attempt;
                attempt.connectToHost(QHostAddress::LocalHost, port);
                QVERIFY(!attempt.waitForConnected(300));
                QCOMPARE(attempt.error(), QAbstractSocket::SocketTimeoutError);
                QCOMPARE(sim.pullsDone(), round - 1);
            } else {
                QTRY_COMPARE_WITH_TIMEOUT(sim.blackholesDone(), round, WaitMs);
            }
            QVERIFY(client->read(session, sym("DintTag"), 100).isEmpty());
            // Requests during the outage are dropped; after it they are answered.
            QByteArray reply;
            for (int i = 0; i < 50 && reply.isEmpty(); ++i)
                reply = client->read(session, sym("DintTag"), 100);
            QCOMPARE(reply.toHex(), DintTagReply.toHex());
            QCOMPARE(client->socket.state(), QAbstractSocket::ConnectedState);
            QCOMPARE(sim.liveConnections(), 1);
            if (pull) {
                QTRY_COMPARE_WITH_TIMEOUT(sim.pullsDone(), round, WaitMs);
                Client after;
                QVERIFY(after.connectTo(port));
                QVERIFY(after.registerSession() != 0);
                // Our own fillers, and the attempt above, served nobody.
                QCOMPARE(sim.connectionsAccepted(), accepted + 1);
            }
            readsBeforeOutage = 1; // that read was the first of the next two
        }
    }
    QCOMPARE(sim.restartsDone(), restart ? 2 : 0);
    QCOMPARE(sim.blackholesDone(), restart || pull ? 0 : 2);
    QCOMPARE(sim.pullsDone(), pull ? 2 : 0);
}

QTEST_GUILESS_MAIN(TestSimRunner)
#include "tst_simrunner.moc"

void TestSimRunner::maxOutstanding_data()
{
    QTest::addColumn<int>("maxOutstanding");
    QTest::addColumn<int>("requests");
    QTest::addColumn<int>("turnedAway");
    QTest::newRow("two held, the rest turned away with 0x02") << 2 << 4 << 2;
    QTest::newRow("limit above the burst: all held together") << 8 << 4 << 0;
    QTest::newRow("no limit: one after the other, all answered") << 0 << 4 << 0;
}

// Requests sent together are held together; beyond the limit each is
// answered general status 0x02, without data, and the held ones still come.
void TestSimRunner::maxOutstanding()
{
    QFETCH(int, maxOutstanding);
    QFETCH(int, requests);
    QFETCH(int, turnedAway);
    qsim::SimOptions o;
    qsim::SimRunner sim(o);
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    Client tcp;
    QVERIFY(tcp.connectTo(sim.port()));
    const quint32 session = tcp.registerSession();
    QVERIFY(session != 0);
    qsim::SimFaults f;
    f.delayMs = 200;
    f.maxOutstanding = maxOutstanding;
    sim.setFaults(f);
    QByteArray burst;
    for (int i = 0; i < requests; ++i)
        burst += sendRR(session, routed(readFrag(sym("IntArray"), 100, quint32(i * 40))));
    tcp.socket.write(burst);
    QVERIFY(tcp.socket.waitForBytesWritten(WaitMs));
    int busy = 0, data = 0;
    for (int i = 0; i < requests; ++i) {
        const QByteArray cip = cipOf(tcp.receive());
        QVERIFY2(cip.size() >= 4, qPrintable(cip.toHex()));
        if (quint8(cip.at(2)) == cip::ResourceUnavailable) {
            QCOMPARE(cip.size(), 4);
            ++busy;
        } else {
            QCOMPARE(quint8(cip.at(0)), quint8(0xD2));
            ++data;
        }
    }
    QCOMPARE(busy, turnedAway);
    QCOMPARE(data, requests - turnedAway);
}

void TestSimRunner::replyFaults_data()
{
    QTest::addColumn<bool>("serial");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("ms");        // the copy's gap, the lateness, the stall
    QTest::addColumn<bool>("together"); // the four reads sent at once, else each after its reply
    QTest::addColumn<QString>("order"); // the replies as they come, A to D for the reads in turn
    QTest::addColumn<int>("done");      // the simulator's count of the fault

    QTest::newRow("every reply twice, right behind")
        << false << "duplicate every" << 1 << 0 << false << "AABBCCDD" << 4;
    QTest::newRow("every second reply twice")
        << false << "duplicate every" << 2 << 0 << false << "ABBCDD" << 2;
    QTest::newRow("the second reply twice, 400 ms later")
        << false << "duplicate nth" << 2 << 400 << false << "ABCDB" << 1;
    QTest::newRow("pty: the second reply twice, 400 ms later")
        << true << "duplicate nth" << 2 << 400 << false << "ABCDB" << 1;
    QTest::newRow("the first late, the others meanwhile")
        << false << "late nth" << 1 << 300 << true << "BCDA" << 1;
    QTest::newRow("every second late") << false << "late every" << 2 << 300 << true << "ACBD" << 2;
    QTest::newRow("pty: the first late") << true << "late nth" << 1 << 300 << true << "BCDA" << 1;
    QTest::newRow("stall after one, then the backlog in order")
        << false << "stall" << 1 << 1000 << true << "ABCD" << 1;
}

// Four reads of tags with distinct replies; the replies' order shows what
// the fault did, and the simulator's count that it did it as often as meant.
void TestSimRunner::replyFaults()
{
    QFETCH(bool, serial);
    QFETCH(QString, fault);
    QFETCH(int, n);
    QFETCH(int, ms);
    QFETCH(bool, together);
    QFETCH(QString, order);
    QFETCH(int, done);
    qsim::SimOptions o;
    o.serial = serial;
    qsim::SimRunner sim(o);
    QVERIFY2(sim.start(), qPrintable(sim.errorString()));
    Client tcp;
    PtyClient line;
    quint32 session = 1;
    if (serial) {
        QVERIFY(line.open(sim.serialPath()));
    } else {
        QVERIFY(tcp.connectTo(sim.port()));
        session = tcp.registerSession();
        QVERIFY(session != 0);
    }
    qsim::SimFaults f;
    if (fault == "duplicate every")
        f.duplicateEvery = n;
    if (fault == "duplicate nth")
        f.duplicateNth = n;
    f.duplicateGapMs = ms;
    if (fault == "late every")
        f.lateEvery = n;
    if (fault == "late nth")
        f.lateNth = n;
    f.lateMs = ms;
    if (fault == "stall")
        f.stallAfter = n;
    f.stallMs = ms;
    sim.setFaults(f);

    const QList<QByteArray> tags{"DintTag", "IntTag", "SintTag", "RealTag"};
    QHash<QByteArray, QChar> letterOf; // each reply as a controller without faults gives it
    qsim::SimRunner clean;
    Client c;
    QVERIFY(clean.start() && c.connectTo(clean.port()));
    const quint32 cleanSession = c.registerSession();
    for (int i = 0; i < tags.size(); ++i)
        letterOf.insert(c.read(cleanSession, sym(tags.at(i))), QChar('A' + i));
    QCOMPARE(letterOf.size(), tags.size());
    QString got;
    auto take = [&](int timeoutMs) {
        const QByteArray cip = cipOf(serial ? line.receive(timeoutMs) : tcp.receive(timeoutMs));
        if (!cip.isEmpty())
            got += letterOf.value(cip, QChar('?'));
        return !cip.isEmpty();
    };
    auto send = [&](int i) {
        const QByteArray frame = sendRR(session, routed(readTag(sym(tags.at(i)), 1)));
        serial ? line.send(frame) : void(tcp.socket.write(frame));
        if (!serial)
            tcp.socket.waitForBytesWritten(WaitMs);
    };
    QElapsedTimer sent;
    sent.start();
    for (int i = 0; i < tags.size(); ++i) {
        send(i);
        for (int k = 0; !together && k < 4 && !got.endsWith(QChar('A' + i)); ++k)
            QVERIFY(take(WaitMs));
    }
    if (fault == "stall") { // the first answered, the rest held for the stall
        QVERIFY(take(WaitMs) && take(WaitMs));
        // coarse timers may fire 5 % early
        QVERIFY2(sent.elapsed() >= ms * 9 / 10, qPrintable(QString::number(sent.elapsed())));
    }
    while (got.size() < order.size() && take(WaitMs)) {
    }
    QVERIFY(!take(ms + 100)); // and nothing more
    QCOMPARE(got, order);
    const int count = fault.startsWith("duplicate") ? sim.duplicatesSent()
                      : fault.startsWith("late")    ? sim.lateRepliesSent()
                                                    : sim.stallsBegun();
    QCOMPARE(count, done);
}

// Half a reply, then the close; the next connection is served as usual.
void TestSimRunner::cutAfter()
{
    qsim::SimOptions o;
    o.cutAfter = 2;
    qsim::SimRunner sim(o);
    QVERIFY(sim.start());
    Client a;
    QVERIFY(a.connectTo(sim.port()));
    const quint32 h = a.registerSession();
    QCOMPARE(a.read(h, sym("DintTag")).toHex(), DintTagReply.toHex());
    const QByteArray half = a.exchange(sendRR(h, routed(readTag(sym("DintTag"), 1))));
    QVERIFY(a.waitClosed());
    QCOMPARE(half.size(), (eip::OffCipMessage + DintTagReply.size()) / 2);
    QCOMPARE(sim.repliesCut(), 1);
    Client b;
    QVERIFY(b.connectTo(sim.port()));
    QCOMPARE(b.read(b.registerSession(), sym("DintTag")).toHex(), DintTagReply.toHex());
}

// A booting controller ignores the first registrations, whoever sends them.
void TestSimRunner::ignoredRegister()
{
    qsim::SimOptions o;
    o.ignoreRegister = 1;
    qsim::SimRunner sim(o);
    QVERIFY(sim.start());
    Client a, b;
    QVERIFY(a.connectTo(sim.port()) && b.connectTo(sim.port()));
    QVERIFY(a.exchange(registerSession(), 300).isEmpty());
    QCOMPARE(sim.registersIgnored(), 1);
    QVERIFY(b.registerSession() != 0);
    QVERIFY(a.registerSession() != 0);
    QCOMPARE(sim.registersIgnored(), 1);
}

// The copy of a Forward Open's reply comes after a read on the connection.
void TestSimRunner::duplicatedForwardOpen()
{
    qsim::SimOptions o;
    o.duplicateForwardOpen = true;
    o.duplicateGapMs = 200;
    qsim::SimRunner sim(o);
    QVERIFY(sim.start());
    Client a;
    QVERIFY(a.connectTo(sim.port()));
    const quint32 h = a.registerSession();
    const QByteArray open = a.exchange(sendRR(
        h, forwardOpen(true, 9, 0x42000FA2, 0x42000FA2, QByteArray::fromHex("010020022401"))));
    const quint32 id = openedId(cipOf(open));
    QVERIFY(id != 0);
    QCOMPARE(connectedCipOf(a.exchange(sendUnit(h, id, 1, readTag(sym("DintTag"), 1)))).toHex(),
             DintTagReply.toHex());
    QCOMPARE(a.receive().toHex(), open.toHex());
    QCOMPARE(sim.duplicatesSent(), 1);
    QCOMPARE(sim.forwardOpensAccepted(), 1);
}
