#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtTest>

#include "ByteOrder.h"
#include "CableProxy.h"
#include "EipProtocol.h"
#include "LoopbackPeer.h"
#include "PtyPair.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <unistd.h>

// The test peers do the faults the fault tables rely on: a table that
// passes because its fault never happened proves nothing.

namespace
{

constexpr int WaitMs = 5000;

// A whole frame whose one data byte names it.
QByteArray frame(char name)
{
    QByteArray f;
    le::put16(f, eip::SendRRData);
    le::put16(f, 1);
    f += QByteArray(eip::HeaderSize - 4, '\0');
    return f + name;
}

// What comes until `quietMs` pass without a byte (before the first one,
// `firstMs`) or the peer closes: one letter per whole frame, 'x' for a part
// of one, '|' for the close.
QString arrivals(QTcpSocket &s, int quietMs, int firstMs = WaitMs)
{
    QByteArray got;
    QString out;
    QElapsedTimer total;
    total.start();
    while (total.elapsed() < WaitMs && s.state() == QAbstractSocket::ConnectedState &&
           (s.bytesAvailable() > 0 || s.waitForReadyRead(got.isEmpty() ? firstMs : quietMs)))
        got += s.readAll();
    got += s.readAll();
    for (int n = eip::completeFrameSize(got); n > 0; n = eip::completeFrameSize(got)) {
        out += QChar(got.at(n - 1));
        got.remove(0, n);
    }
    if (!got.isEmpty())
        out += 'x';
    if (s.state() != QAbstractSocket::ConnectedState)
        out += '|';
    return out;
}

} // namespace

class TestPeers : public QObject
{
    Q_OBJECT

private slots:
    void loopbackSteps_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("arrivals");
        // d: a copy right behind, D: a copy 300 ms later, L: 300 ms late, c: cut after 10 bytes
        QTest::newRow("copy in the same write") << "dB"
                                                << "AAB";
        QTest::newRow("copy 300 ms later, after the next reply") << "DB"
                                                                 << "ABA";
        QTest::newRow("late reply overtaken by the next") << "LB"
                                                          << "BA";
        QTest::newRow("connection closed in the middle of a reply") << "Ac"
                                                                    << "Ax|";
        QTest::newRow("stall, then the backlog in order") << "ABC"
                                                          << "ABC";
    }

    // The requests all go at once; each step answers with the frame named by
    // its position (A, B, C).
    void loopbackSteps()
    {
        QFETCH(QString, steps);
        QFETCH(QString, arrivals);
        LoopbackPeer peer;
        QVERIFY(peer.isListening());
        const bool stall =
            QTest::currentDataTag() == QLatin1String("stall, then the backlog in order");
        for (int i = 0; i < steps.size(); ++i) {
            const QByteArray reply = frame(char('A' + i));
            switch (steps.at(i).toLatin1()) {
            case 'd':
                peer.enqueue(PeerStep::duplicated(reply));
                break;
            case 'D':
                peer.enqueue(PeerStep::duplicated(reply, 0, 300));
                break;
            case 'L':
                peer.enqueue(PeerStep::reply(reply, 300));
                break;
            case 'c':
                peer.enqueue(PeerStep::cut(reply, 10));
                break;
            default:
                peer.enqueue(PeerStep::reply(reply));
            }
        }
        if (stall)
            peer.stall();
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, peer.port());
        QVERIFY(s.waitForConnected(WaitMs));
        QByteArray requests;
        for (int i = 0; i < steps.size(); ++i)
            requests += frame('r');
        s.write(requests);
        QVERIFY(s.waitForBytesWritten(WaitMs));
        if (stall) {
            QTRY_COMPARE_WITH_TIMEOUT(peer.heldReplies(), steps.size(), WaitMs);
            QVERIFY(!s.waitForReadyRead(200));
            peer.release();
        }
        QCOMPARE(::arrivals(s, 500), arrivals);
        QCOMPARE(peer.repliesDone(), steps.size());
    }

    // Pulled: a request and its reply wait, a new connection attempt goes
    // unanswered; plugged in again, both go through.
    void pulledCable()
    {
        LoopbackPeer peer;
        peer.setResponder([](const QByteArray &) { return PeerStep::reply(frame('A')); });
        CableProxy cable(peer.port());
        QVERIFY(cable.isListening());
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, cable.port());
        QVERIFY(s.waitForConnected(WaitMs));
        s.write(frame('r'));
        QCOMPARE(::arrivals(s, 200), QStringLiteral("A"));

        QVERIFY(cable.pull());
        s.write(frame('r'));
        // A raw attempt: Qt's own gives up at its first time-out.
        const int late = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(cable.port());
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QVERIFY(::connect(late, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0 &&
                errno == EINPROGRESS);
        pollfd attempt{late, POLLOUT, 0};
        QCOMPARE(::poll(&attempt, 1, 500), 0);
        QCOMPARE(::arrivals(s, 300, 300), QString());
        QCOMPARE(peer.requestCount(), 1);

        cable.plugIn();
        QCOMPARE(::arrivals(s, 200), QStringLiteral("A"));
        QCOMPARE(peer.requestCount(), 2);
        // The kernel retries the attempt's SYN 1 s after the first, then 2 s later.
        QCOMPARE(::poll(&attempt, 1, WaitMs), 1);
        int error = -1;
        socklen_t len = sizeof error;
        QVERIFY(::getsockopt(late, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0);
        ::close(late);
        QTRY_COMPARE_WITH_TIMEOUT(cable.connectionsAccepted(), 2, WaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(peer.connectionCount(), 2, WaitMs);
        s.disconnectFromHost();
        QTRY_COMPARE_WITH_TIMEOUT(cable.openConnections(), 0, WaitMs);
    }

    // Unplugged, the port open on the old line hangs up and the name is
    // gone; plugged in, the same name reaches a new line.
    void unpluggedAdapter()
    {
        QTemporaryDir dir;
        const QString name = dir.filePath(QStringLiteral("ttyPLC"));
        PtyPair pty(name);
        QVERIFY(pty.isOpen());
        QCOMPARE(pty.slaveName(), name);
        const int fd = ::open(QFile::encodeName(name).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        QVERIFY(fd >= 0);
        QVERIFY(pty.writeMaster("hello"));
        pollfd p{fd, POLLIN, 0};
        QCOMPARE(::poll(&p, 1, WaitMs), 1);
        char buf[16];
        QCOMPARE(::read(fd, buf, sizeof buf), ssize_t(5));

        pty.unplug();
        QVERIFY(!pty.isOpen());
        QVERIFY(!QFile::exists(name));
        QVERIFY(!pty.writeMaster("x"));
        QCOMPARE(::poll(&p, 1, WaitMs), 1);
        QVERIFY(p.revents & (POLLHUP | POLLERR));
        ::close(fd);

        QVERIFY(pty.plugIn());
        const int again = ::open(QFile::encodeName(name).constData(), O_RDWR | O_NOCTTY);
        QVERIFY(again >= 0);
        QCOMPARE(::write(again, "ping", 4), ssize_t(4));
        QCOMPARE(pty.readMaster(4, WaitMs), QByteArray("ping"));
        ::close(again);
    }
};

QTEST_GUILESS_MAIN(TestPeers)
#include "tst_peers.moc"
