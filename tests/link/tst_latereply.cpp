#include <QtTest>

#include <atomic>

#include "ByteOrder.h"
#include "CmdQuorvex.h"
#include "EipProtocol.h"
#include "LoopbackPeer.h"

// A reply to a read that timed out may arrive after the next read was sent.
// It must never be taken as the next read's reply.

namespace
{

QByteArray readReply(const QByteArray &request, quint32 value, bool echoContext)
{
    QByteArray cip = QByteArray::fromHex("cc000000c400");
    le::put32(cip, value);
    QByteArray data = QByteArray::fromHex("000000000000020000000000b200");
    le::put16(data, quint16(cip.size()));
    data += cip;
    QByteArray f;
    le::put16(f, eip::SendRRData);
    le::put16(f, quint16(data.size()));
    f += request.mid(eip::OffSession, 4);
    le::put32(f, 0);
    f += echoContext ? request.mid(eip::OffContext, eip::ContextSize)
                     : QByteArray(eip::ContextSize, '\0');
    le::put32(f, 0);
    return f + data;
}

QByteArray registerReply()
{
    QByteArray f = QByteArray::fromHex("65000400040302010000000001000000000000000000000001000000");
    return f;
}

quint32 valueOf(const QByteArray &out)
{
    return quint32(le::getPadded(out, 0, 4));
}

QByteArray contextOf(const QByteArray &request)
{
    return request.mid(eip::OffContext, eip::ContextSize);
}

} // namespace

class TestLateReply : public QObject
{
    Q_OBJECT

private slots:
    void lateReplyIsDropped_data()
    {
        QTest::addColumn<bool>("echo");
        QTest::addColumn<bool>("firstAnswered");
        QTest::addColumn<int>("secondRc");
        QTest::newRow("controller echoes the context") << true << true << 0;
        QTest::newRow("context not echoed") << false << true << 0;
        QTest::newRow("echoed, first never answered") << true << false << 0;
        // Without an echo the driver cannot tell an answer it missed from
        // the one it waits for: it gives up on that read, but never takes a
        // wrong value, and the read after it is served normally.
        QTest::newRow("not echoed, first never answered") << false << false << -2;
    }

    void lateReplyIsDropped()
    {
        QFETCH(bool, echo);
        QFETCH(bool, firstAnswered);
        QFETCH(int, secondRc);
        LoopbackPeer peer;
        QVERIFY(peer.isListening());
        std::atomic<int> reads{0};
        QElapsedTimer firstAt;
        // A controller that takes 300 ms for every read, and 700 ms (past
        // the driver's wait) for the first: each later reply comes well
        // after the late one, so a wait that restarted its short poll at
        // the dropped late reply would miss them all, one after the other.
        constexpr int LateMs = 700;
        constexpr int ReplyMs = 300;
        peer.setResponder([&](const QByteArray &request) {
            if (le::getPadded(request, 0, 2) == eip::RegisterSession)
                return PeerStep::reply(registerReply());
            const int n = reads++;
            if (n == 0) { // answered only after the driver gave up
                firstAt.start();
                return firstAnswered ? PeerStep::reply(readReply(request, 1111, echo), LateMs)
                                     : PeerStep::silent();
            }
            // A controller answers in order: nothing overtakes the late reply.
            const int wait = firstAnswered
                                 ? int(qMax<qint64>(ReplyMs, LateMs + ReplyMs - firstAt.elapsed()))
                                 : ReplyMs;
            return PeerStep::reply(readReply(request, 2222 + n, echo), wait);
        });

        CmdQuorvex link;
        QCOMPARE(link.EthConnectDrive(QStringLiteral("127.0.0.1"), peer.port()), 0);
        link.traceEnabled = qEnvironmentVariableIsSet("TRACE");
        const QString area = QStringLiteral("DintTag") + QChar(0);
        QByteArray out;
        QCOMPARE(link.Read_area(area, 1, &out, QStringLiteral("DintTag")), -2);
        QCOMPARE(link.lateContexts.size(), 1);

        out.clear();
        const int rc = link.Read_area(area, 1, &out, QStringLiteral("DintTag"));
        QCOMPARE(rc, secondRc);
        if (rc == 0)
            QCOMPARE(valueOf(out), 2223u);

        for (quint32 n = 2; n <= 4; ++n) {
            out.clear();
            QCOMPARE(link.Read_area(area, 1, &out, QStringLiteral("DintTag")), 0);
            QCOMPARE(valueOf(out), 2222u + n);
        }

        const QList<QByteArray> requests = peer.requests();
        QCOMPARE(requests.size(), 6);
        // Normal requests keep an all-zero context; the one sent while a
        // reply was owed carries its own.
        QCOMPARE(contextOf(requests.at(1)), QByteArray(eip::ContextSize, '\0'));
        QVERIFY(contextOf(requests.at(2)) != QByteArray(eip::ContextSize, '\0'));
        if (secondRc == 0)
            QCOMPARE(contextOf(requests.at(3)), QByteArray(eip::ContextSize, '\0'));
        link.DestroyFree();
    }

    void reconnectOwesNothing()
    {
        LoopbackPeer peer;
        peer.setResponder([](const QByteArray &request) {
            if (le::getPadded(request, 0, 2) == eip::RegisterSession)
                return PeerStep::reply(registerReply());
            return PeerStep::silent();
        });
        CmdQuorvex link;
        QCOMPARE(link.EthConnectDrive(QStringLiteral("127.0.0.1"), peer.port()), 0);
        QByteArray out;
        QCOMPARE(link.Read_area(QStringLiteral("Ab"), 1, &out, QStringLiteral("Ab")), -2);
        QVERIFY(!link.lateContexts.isEmpty());
        QCOMPARE(link.EthConnectDrive(QStringLiteral("127.0.0.1"), peer.port()), 0);
        QVERIFY(link.lateContexts.isEmpty());
        link.DestroyFree();
    }
};

QTEST_GUILESS_MAIN(TestLateReply)
#include "tst_latereply.moc"
