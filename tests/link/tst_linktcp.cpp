#include "ByteOrder.h"
#include "CmdQuorvex.h"
#include "LinkTestFrames.h"
#include "LoopbackPeer.h"
#include "MessageCapture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <atomic>

#include "Messaging.h"
#include "UnitData.h"

using namespace linktest;

namespace
{

constexpr int OffEmbeddedService = 50; // of an Unconnected Send
constexpr int OffOpenTriplet = 56;     // connection serial, vendor, originator serial
constexpr int OffCloseSerial = 48;
constexpr int OffUnitService = 46; // the request on a connection
constexpr quint32 ToId = 0x0C0FFEE0;

quint8 serviceOf(const QByteArray &request)
{
    if (le::getPadded(request, 0, 2) == eip::SendUnitData)
        return quint8(le::getPadded(request, OffUnitService, 1));
    const quint8 outer = quint8(le::getPadded(request, 40, 1));
    return outer == 0x52 ? quint8(le::getPadded(request, OffEmbeddedService, 1)) : outer;
}

// A read's reply with one DINT, unconnected.
QByteArray dintReply(qint32 value)
{
    QByteArray mr = QByteArray::fromHex("cc000000c400");
    le::put32(mr, quint32(value));
    return messaging::sendRRData(QByteArray::fromHex("01020304"), mr);
}

// A Large Forward Open's success, naming the connection the request asked for.
QByteArray openedReply(const QByteArray &request)
{
    QByteArray mr = QByteArray::fromHex("db000000");
    le::put32(mr, 0x0BADCAFE); // O->T id
    le::put32(mr, ToId);
    mr += request.mid(OffOpenTriplet, 8);
    mr += QByteArray::fromHex("80841e00 80841e00 00 00");
    return messaging::sendRRData(QByteArray::fromHex("01020304"), mr);
}

} // namespace

Q_DECLARE_METATYPE(PeerStep)

class TstLinkTcp : public QObject
{
    Q_OBJECT

private:
    // Connects the link to the peer, answering the registration.
    static bool connectTo(CmdQuorvex &link, LoopbackPeer &peer, quint32 handle = 0x01020304)
    {
        peer.enqueue(PeerStep::reply(registerReply(handle)));
        return link.EthConnectDrive(Local, peer.port()) == 0;
    }

private slots:
    void freshLink()
    {
        CmdQuorvex link;
        QCOMPARE(link.Connection_status(), -3);
        QCOMPARE(link.Only_send(rrFrame("x")), 1);
        QCOMPARE(link.waitForReady(1000), 1);
        QByteArray reply("kept");
        QCOMPARE(link.SendData(rrFrame("x"), reply, 50), -1);
        QCOMPARE(reply, QByteArray("kept"));
        QCOMPARE(link.EthDisConnectDrive(), 1);
        QCOMPARE(link.serialDisConnectDrive(), 1);
        QCOMPARE(link.DestroyFree(), 1);
        QCOMPARE(link.line().active(), Line::Transport::None);
    }

    void sendDataTimeout_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<bool>("answered");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("rc");
        QTest::newRow("reply after 30 ms is taken") << 30 << true << 50 << 0;
        QTest::newRow("immediate reply is taken") << 0 << true << 50 << 0;
        QTest::newRow("no reply gives -1") << 0 << false << 50 << -1;
        QTest::newRow("time-out 0 never takes a reply") << 30 << true << 0 << -1;
    }
    void sendDataTimeout()
    {
        QFETCH(int, delayMs);
        QFETCH(bool, answered);
        QFETCH(int, timeoutMs);
        QFETCH(int, rc);
        LoopbackPeer peer;
        CmdQuorvex link;
        QVERIFY(connectTo(link, peer));
        const QByteArray answer = rrFrame("answer");
        peer.enqueue(answered ? PeerStep::reply(answer, delayMs) : PeerStep::silent());
        QByteArray reply;
        QElapsedTimer t;
        t.start();
        const QByteArray question = ask(link, "question");
        QCOMPARE(link.SendData(question, reply, timeoutMs), rc);
        const qint64 took = t.elapsed();
        QCOMPARE(reply, rc == 0 ? PeerStep::echoed(answer, question) : QByteArray());
        QCOMPARE(peer.requests().value(1), question);
        if (!answered) {
            // the 500 ms first wait plus the polling; loose, only must not hang
            QVERIFY2(took >= 540 && took < 5000, qPrintable(QString::number(took)));
        }
    }

    void splitReplyHandedOverWhole_data()
    {
        QTest::addColumn<int>("splitAt");
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<int>("delayMs");
        QTest::newRow("cut inside the header") << 10 << 20 << 0;
        QTest::newRow("cut after the header") << 24 << 30 << 0;
        QTest::newRow("cut inside the data") << 30 << 20 << 0;
        QTest::newRow("second part during the polling") << 30 << 30 << 490;
    }
    void splitReplyHandedOverWhole()
    {
        QFETCH(int, splitAt);
        QFETCH(int, gapMs);
        QFETCH(int, delayMs);
        LoopbackPeer peer;
        CmdQuorvex link;
        QVERIFY(connectTo(link, peer));
        const QByteArray answer = rrFrame(QByteArray::fromHex("cc000000c400e8030000"));
        peer.enqueue(PeerStep::split(answer, splitAt, gapMs, delayMs));
        QByteArray reply;
        const QByteArray q = ask(link, "q");
        QCOMPARE(link.SendData(q, reply, 50), 0);
        QCOMPARE(reply.toHex(), PeerStep::echoed(answer, q).toHex());
    }

    void leftoversNeverTakenByTheNextRequest_data()
    {
        QTest::addColumn<bool>("late");
        QTest::addColumn<bool>("runEvents");
        QTest::addColumn<bool>("afterDuplicate");
        QTest::newRow("late reply, already read by Qt") << true << true << false;
        QTest::newRow("late reply, still in the system") << true << false << false;
        QTest::newRow("unsolicited bytes, still in the system") << false << false << false;
        QTest::newRow("unsolicited bytes after a duplicated reply") << false << false << true;
    }
    void leftoversNeverTakenByTheNextRequest()
    {
        QFETCH(bool, late);
        QFETCH(bool, runEvents);
        QFETCH(bool, afterDuplicate);
        LoopbackPeer peer;
        CmdQuorvex link;
        QVERIFY(connectTo(link, peer));
        const QByteArray stale = rrFrame("stale");
        const QByteArray fresh = rrFrame("fresh");
        // the registration reply is the first one; a late reply the second
        int done = 1;
        // A reply with a copy behind it, then two that come in step: a peer
        // that once sent more than it was asked is watched from then on.
        if (afterDuplicate) {
            peer.enqueue(PeerStep::duplicated(rrFrame("a")));
            peer.enqueue(PeerStep::reply(rrFrame("b")));
            for (const char *q : {"one", "two"}) {
                QByteArray r;
                QCOMPARE(link.SendData(ask(link, q), r, 50), 0);
            }
            done = 3;
        }
        if (late) {
            peer.enqueue(PeerStep::reply(stale, 700));
            QByteArray first;
            QCOMPARE(link.SendData(ask(link, "first"), first, 50), -1);
            QVERIFY(first.isEmpty());
            done = 2;
        } else {
            peer.sendNow(stale); // returns once written
        }
        if (runEvents)
            QTRY_VERIFY_WITH_TIMEOUT(peer.repliesDone() == done, 5000);
        else
            QVERIFY(waitWithoutEvents([&] { return peer.repliesDone() == done; }, 5000));
        peer.enqueue(PeerStep::reply(fresh, 20));
        QByteArray second;
        const QByteArray q = ask(link, "second");
        QCOMPARE(link.SendData(q, second, 50), 0);
        QCOMPARE(second, PeerStep::echoed(fresh, q));
    }

    void duplicateReplyDoesNotLeak()
    {
        LoopbackPeer peer;
        CmdQuorvex link;
        QVERIFY(connectTo(link, peer));
        const QByteArray a = rrFrame("answer-a");
        const QByteArray b = rrFrame("answer-b");
        peer.enqueue(PeerStep::duplicated(a));
        peer.enqueue(PeerStep::reply(b, 30));
        QByteArray first;
        const QByteArray one = ask(link, "one");
        QCOMPARE(link.SendData(one, first, 50), 0);
        QCOMPARE(first, PeerStep::echoed(a, one)); // one frame, not both copies
        QByteArray second;
        const QByteArray two = ask(link, "two");
        QCOMPARE(link.SendData(two, second, 50), 0);
        QCOMPARE(second, PeerStep::echoed(b, two));
        QCOMPARE(link.replies().counters().unmatchedDropped, quint64(1)); // the copy
    }

    // A read that waits past the first-reply wait lets the host's own
    // events through, whatever ends the wait.
    void hostEventsDuringLongWait_data()
    {
        QTest::addColumn<PeerStep>("step");
        QTest::addColumn<int>("rc");
        QTest::newRow("no reply") << PeerStep::silent() << -1;
        QTest::newRow("reply after the first-reply wait")
            << PeerStep::reply(rrFrame("r"), 520) << 0;
    }
    void hostEventsDuringLongWait()
    {
        QFETCH(PeerStep, step);
        QFETCH(int, rc);
        LoopbackPeer peer;
        CmdQuorvex link;
        QVERIFY(connectTo(link, peer));
        peer.enqueue(step);
        bool dispatched = false;
        QTimer::singleShot(0, this, [&dispatched] { dispatched = true; });
        QByteArray reply;
        QCOMPARE(link.SendData(ask(link, "q"), reply, 50), rc);
        QVERIFY(dispatched);
    }

    void partialFrameHandedOverAtTimeout()
    {
        LoopbackPeer peer;
        CmdQuorvex link;
        QVERIFY(connectTo(link, peer));
        const QByteArray cut = rrFrame("whole reply").left(26);
        peer.enqueue(PeerStep::reply(cut));
        QByteArray reply;
        const QByteArray q = ask(link, "q");
        QCOMPARE(link.SendData(q, reply, 50), 0);
        QCOMPARE(reply, PeerStep::echoed(cut, q));
    }

    // A peer that closes is told; a close the host asked for is not news,
    // and its socket records no error that could be told.
    void disconnectNotice_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("told");
        QTest::newRow("peer closes") << "peer" << true;
        QTest::newRow("EthDisConnectDrive") << "disconnect" << false;
        QTest::newRow("DestroyFree") << "destroy" << false;
    }
    void disconnectNotice()
    {
        QFETCH(QString, how);
        QFETCH(bool, told);
        LoopbackPeer peer;
        CmdQuorvex link;
        QVERIFY(connectTo(link, peer));
        MessageCapture cap;
        QSignalSpy spy(link.tcpSocket, &QTcpSocket::disconnected);
        int error = 0;
        if (how == "peer") {
            peer.closeConnections();
            QVERIFY(spy.wait(5000));
            error = link.tcpSocket->error();
            QCOMPARE(error, int(QAbstractSocket::RemoteHostClosedError));
            QCOMPARE(link.Connection_status(), -3);
        } else if (how == "disconnect") {
            QCOMPARE(link.EthDisConnectDrive(), 0);
            QCOMPARE(link.tcpSocket->state(), QAbstractSocket::UnconnectedState);
            QCOMPARE(link.tcpSocket->error(), QAbstractSocket::UnknownSocketError);
            QVERIFY(link.tcpSocket != nullptr); // kept for a later connect
            // and a later drop by the peer is told again
            QVERIFY(connectTo(link, peer));
            QCOMPARE(link.Connection_status(), 0);
        } else {
            QCOMPARE(link.DestroyFree(), 0);
            QVERIFY(link.tcpSocket == nullptr);
            QCOMPARE(link.line().active(), Line::Transport::None);
        }
        QCOMPARE(linkLines(cap, QtWarningMsg),
                 told ? QStringList(QString("lib[Quorvex]127.0.0.1:%1 Disconnected=%2")
                                        .arg(peer.port())
                                        .arg(error))
                      : QStringList());
        if (how == "disconnect") {
            peer.closeConnections();
            QTRY_COMPARE_WITH_TIMEOUT(linkLines(cap, QtWarningMsg).size(), 1, 5000);
            QVERIFY(linkLines(cap, QtWarningMsg)
                        .at(0)
                        .endsWith(QString("Disconnected=%1")
                                      .arg(int(QAbstractSocket::RemoteHostClosedError))));
        }
        QTRY_COMPARE_WITH_TIMEOUT(peer.openConnections(), 0, 5000);
    }

    void hostTextNotAnAddress_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("host name") << "localhost";
        QTest::newRow("empty") << "";
        QTest::newRow("letters in an address") << "127.0.0.x";
        QTest::newRow("five parts") << "127.0.0.1.1";
        QTest::newRow("part too large") << "127.0.0.256";
    }
    void hostTextNotAnAddress()
    {
        QFETCH(QString, host);
        LoopbackPeer peer;
        CmdQuorvex link;
        MessageCapture cap;
        QCOMPARE(link.EthConnectDrive(host, peer.port()), -1);
        QCOMPARE(link.tcpPort, int(peer.port()));
        QVERIFY(link.tcpSocket != nullptr);
        QCOMPARE(link.tcpSocket->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(link.Connection_status(), -3);
        QCOMPARE(link.send_reg(), -3);
        QVERIFY(linkLines(cap, QtWarningMsg).isEmpty());
        // the socket object is usable afterwards
        QVERIFY(connectTo(link, peer));
        QCOMPARE(peer.connectionCount(), 1);
    }

    void refusedPort()
    {
        quint16 port = 0;
        {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            port = probe.serverPort();
        }
        CmdQuorvex link;
        QCOMPARE(link.EthConnectDrive(Local, port), -3);
        QCOMPARE(link.Connection_status(), -3);
        QCOMPARE(link.line().active(), Line::Transport::None);
    }

    void connectAgainAbortsTheOld()
    {
        LoopbackPeer first;
        LoopbackPeer second;
        CmdQuorvex link;
        QVERIFY(connectTo(link, first, 0x11111111));
        QCOMPARE(first.openConnections(), 1);
        MessageCapture cap;
        QVERIFY(connectTo(link, second, 0x22222222));
        QTRY_COMPARE_WITH_TIMEOUT(first.openConnections(), 0, 5000);
        QCOMPARE(second.openConnections(), 1);
        // the host asked for the new controller: the old one's end is no loss
        QCOMPARE(linkLines(cap, QtWarningMsg), QStringList());
        QCOMPARE(link.sessionHandle.toHex(), QByteArray("22222222"));
        second.enqueue(PeerStep::reply(rrFrame("from second")));
        QByteArray reply;
        const QByteArray q = ask(link, "q");
        QCOMPARE(link.SendData(q, reply, 50), 0);
        QCOMPARE(reply, PeerStep::echoed(rrFrame("from second"), q));
    }

    // A Forward Open answered only after the link gave it up opened a
    // connection all the same: it is closed, and the one opened next is used.
    void lateForwardOpenIsClosed()
    {
        LoopbackPeer peer;
        std::atomic<int> opens{0};
        peer.setResponder([&](const QByteArray &request) {
            switch (serviceOf(request)) {
            case 0x5B:
                return PeerStep::reply(openedReply(request), opens++ == 0 ? 800 : 0);
            case 0x4C: {
                QByteArray mr = QByteArray::fromHex("cc000000c4002a000000");
                return PeerStep::reply(unitdata::frame(QByteArray::fromHex("01020304"), ToId,
                                                       quint16(le::getPadded(request, 44, 2)), mr));
            }
            case 0x4E:
                return PeerStep::reply(
                    messaging::sendRRData(QByteArray::fromHex("01020304"), "\xce\0\0\0"));
            default:
                return PeerStep::reply(registerReply(0x04030201));
            }
        });
        CmdQuorvex link;
        LinkOptions o;
        o.connected = ConnectedMode::Large;
        link.setOptions(o);
        link.traceEnabled = qEnvironmentVariableIsSet("TRACE");
        QCOMPARE(link.EthConnectDrive(Local, peer.port()), -3); // the first one timed out
        QByteArray out;
        QCOMPARE(link.Read_area(QStringLiteral("Ab"), 1, &out, QStringLiteral("Ab")), 0);
        QCOMPARE(out.toHex(), QByteArray("2a000000"));
        QTRY_COMPARE_WITH_TIMEOUT(peer.repliesDone(), 4, 5000); // the late one written
        out.clear();
        QCOMPARE(link.Read_area(QStringLiteral("Ab"), 1, &out, QStringLiteral("Ab")), 0);
        QCOMPARE(out.toHex(), QByteArray("2a000000"));
        QList<QByteArray> opened, closed;
        for (const QByteArray &r : peer.requests()) {
            if (serviceOf(r) == 0x5B)
                opened << r.mid(OffOpenTriplet, 2);
            else if (serviceOf(r) == 0x4E)
                closed << r.mid(OffCloseSerial, 2);
        }
        QCOMPARE(opened.size(), 2);
        QCOMPARE(closed, QList<QByteArray>{opened.first()});
        QVERIFY(link.cipConnection().isOpen());
        QCOMPARE(link.replies().counters().lateDropped, quint64(1));
    }

    // A connection lost while a reply was coming is a lost transport: the
    // bytes that came are no reply. A read is sent again once the link
    // reopened by itself (lost once more: not connected); a write, which may
    // have been done, is not.
    void lostInTheMiddleOfAReply_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<bool>("reconnect");
        QTest::addColumn<int>("cuts"); // replies cut off by a close, one after the other
        QTest::addColumn<int>("rc");
        QTest::addColumn<int>("sent"); // reads or writes the peer saw
        QTest::newRow("read") << false << false << 1 << -2 << 1;
        QTest::newRow("read, reconnect") << false << true << 1 << 0 << 2;
        QTest::newRow("read, reconnect, lost again") << false << true << 2 << -3 << 2;
        QTest::newRow("write, reconnect") << true << true << 1 << -2 << 1;
    }
    void lostInTheMiddleOfAReply()
    {
        QFETCH(bool, write);
        QFETCH(bool, reconnect);
        QFETCH(int, cuts);
        QFETCH(int, rc);
        QFETCH(int, sent);
        LoopbackPeer peer;
        std::atomic<int> asked{0};
        peer.setResponder([&](const QByteArray &request) {
            const quint8 service = serviceOf(request);
            if (service != 0x4C && service != 0x4D)
                return PeerStep::reply(registerReply(0x04030201));
            const QByteArray reply = service == 0x4D
                                         ? messaging::sendRRData(QByteArray::fromHex("01020304"),
                                                                 QByteArray::fromHex("cd000000"))
                                         : dintReply(1000 + asked);
            return asked++ < cuts ? PeerStep::cut(reply, 30) : PeerStep::reply(reply);
        });
        CmdQuorvex link;
        LinkOptions o;
        o.reconnect = reconnect;
        o.write = write;
        link.setOptions(o);
        QCOMPARE(link.EthConnectDrive(Local, peer.port()), 0);
        QByteArray out;
        const int got =
            write ? link.Write_area(QStringLiteral("Ab"), QStringLiteral("Ab"),
                                    QByteArray::fromHex("c400"), 1, QByteArray(4, '\1'), 4)
                  : link.Read_area(QStringLiteral("Ab"), 1, &out, QStringLiteral("Ab"));
        QCOMPARE(got, rc);
        QCOMPARE(out.toHex(), rc == 0 ? QByteArray("e9030000") : QByteArray()); // 1001
        QCOMPARE(int(asked), sent);
    }
};

QTEST_GUILESS_MAIN(TstLinkTcp)
#include "tst_linktcp.moc"
