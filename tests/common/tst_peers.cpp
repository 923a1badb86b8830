#include <QElapsedTimer>
#include <QTcpSocket>
#include <QtTest>

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "LoopbackPeer.h"

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
};

QTEST_GUILESS_MAIN(TestPeers)
#include "tst_peers.moc"
