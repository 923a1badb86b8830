#include "CmdQuorvex.h"
#include "EncapFrame.h"
#include "Identity.h"
#include "LinkTestFrames.h"
#include "LoopbackPeer.h"
#include "MessageCapture.h"

#include <QTcpSocket>
#include <QtTest>

using namespace linktest;

namespace
{
const QByteArray RegisterRequestHex = "65000400000000000000000001000000000000000000000001000000";

// A registration as sent: the request above with the context the link's
// counter gave it.
QByteArray registration(quint64 context)
{
    QByteArray f = QByteArray::fromHex(RegisterRequestHex);
    encap::setContext(f, context);
    return f;
}
} // namespace

class TstSession : public QObject
{
    Q_OBJECT

private slots:
    void registerRequestBytes()
    {
        QCOMPARE(encap::registerSessionRequest().toHex(), RegisterRequestHex);
    }

    void judgeRegisterReply_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<quint32>("status");
        QTest::addColumn<QByteArray>("handle");
        QTest::newRow("normal reply")
            << QByteArray::fromHex("650004007856341200000000010000000000000000000000"
                                   "01000000")
            << true << 0u << QByteArray::fromHex("78563412");
        QTest::newRow("unsupported protocol 0x69")
            << QByteArray::fromHex("650004000000000069000000010000000000000000000000"
                                   "01000000")
            << false << 0x69u << QByteArray();
        QTest::newRow("wrong command")
            << QByteArray::fromHex("6f0004007856341200000000010000000000000000000000"
                                   "01000000")
            << false << 0u << QByteArray();
        QTest::newRow("27 bytes") << QByteArray::fromHex(
                                         "650004007856341200000000010000000000000000000000"
                                         "010000")
                                  << false << 0u << QByteArray();
        QTest::newRow("length below 4")
            << QByteArray::fromHex("650002007856341200000000010000000000000000000000"
                                   "01000000")
            << false << 0u << QByteArray();
        QTest::newRow("8 bytes") << QByteArray::fromHex("6500040078563412") << false << 0u
                                 << QByteArray();
        QTest::newRow("empty") << QByteArray() << false << 0u << QByteArray();
    }
    void judgeRegisterReply()
    {
        QFETCH(QByteArray, reply);
        QFETCH(bool, ok);
        QFETCH(quint32, status);
        QFETCH(QByteArray, handle);
        const encap::RegisterReply r = encap::judgeRegisterReply(reply);
        QCOMPARE(r.ok, ok);
        QCOMPARE(r.status, status);
        QCOMPARE(r.handle.toHex(), handle.toHex());
    }

    // ListIdentity alone and within a session; Get Attributes All of Identity 1.
    void identityRequestBytes()
    {
        QCOMPARE(identity::listIdentityRequest(QByteArray()).toHex(),
                 QByteArray("6300000000000000000000000000000000000000000000"
                            "00"));
        QCOMPARE(identity::listIdentityRequest(QByteArray::fromHex("78563412")).toHex(),
                 QByteArray("630000007856341200000000000000000000000000000000"));
        QCOMPARE(identity::identityRequest().toHex(), QByteArray("010220012401"));
    }

    // Vendor 77, type 14, code 901, revision 20.11, status 0x34, serial
    // 0x12345678, name "PLC"; ListIdentity adds 127.0.0.1:44818 and state 3.
    void parseIdentity_data()
    {
        QTest::addColumn<bool>("listed");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("verdict");
        const QByteArray head = "630000000000000000000000000000000000000000000000";
        const QByteArray fields = "4d000e008503140b3400785634120350";
        const QByteArray item = "01000002af127f000001000000000000000"
                                "0" +
                                fields + "4c4303";
        auto list = [&](const QByteArray &count, const QByteArray &type, const QByteArray &body) {
            QByteArray f = QByteArray::fromHex(head + count + type);
            le::put16(f, static_cast<quint16>(body.size() / 2));
            f += QByteArray::fromHex(body);
            le::set16(f, 2, static_cast<quint16>(f.size() - 24));
            return f;
        };
        const auto ok = static_cast<int>(identity::Verdict::Ok);
        const auto length = static_cast<int>(identity::Verdict::Length);
        const auto encap = static_cast<int>(identity::Verdict::Encapsulation);
        QTest::newRow("list good") << true << list("0100", "0c00", item) << ok;
        QTest::newRow("list truncated") << true << list("0100", "0c00", item).chopped(1) << length;
        QByteArray beyond = list("0100", "0c00", item);
        beyond[29] = static_cast<char>(beyond.at(29) + 1); // item longer than the frame
        QTest::newRow("list item past the frame") << true << beyond << length;
        QTest::newRow("list item without state")
            << true << list("0100", "0c00", item.chopped(2)) << length;
        QTest::newRow("list name past the item")
            << true << list("0100", "0c00", item.left(item.size() - 10) + "10504c4303") << length;
        QTest::newRow("list bad item type") << true << list("0100", "0d00", item) << encap;
        QTest::newRow("list no items") << true << list("0000", "0c00", item) << encap;
        QByteArray refused = list("0100", "0c00", item);
        refused[8] = 0x69;
        QTest::newRow("list encapsulation status") << true << refused << encap;
        QTest::newRow("list empty")
            << true << QByteArray() << static_cast<int>(identity::Verdict::Empty);
        const QByteArray mr = "81000000" + fields + "4c43";
        QTest::newRow("object good") << false << QByteArray::fromHex(mr) << ok;
        QTest::newRow("object later attributes follow")
            << false << QByteArray::fromHex(mr + "0102") << ok;
        QTest::newRow("object truncated") << false << QByteArray::fromHex(mr).chopped(1) << length;
        QTest::newRow("object bad status") << false << QByteArray::fromHex("81000800")
                                           << static_cast<int>(identity::Verdict::Refused);
        QTest::newRow("object wrong service")
            << false << QByteArray::fromHex("8e" + mr.mid(2)) << encap;
    }
    void parseIdentity()
    {
        QFETCH(bool, listed);
        QFETCH(QByteArray, reply);
        QFETCH(int, verdict);
        identity::ListedIdentity l;
        identity::DeviceIdentity &d = l.device;
        const identity::Verdict v = listed ? identity::parseListIdentity(reply, &l)
                                           : identity::parseIdentityReply(reply, &d);
        QCOMPARE(static_cast<int>(v), verdict);
        // A rejected reply leaves every field as it was.
        const bool ok = v == identity::Verdict::Ok;
        QCOMPARE(d.serialNumber, ok ? 0x12345678u : 0u);
        QCOMPARE(d.productName, ok ? QByteArray("PLC") : QByteArray());
        QCOMPARE(d.revisionMinor, quint8(ok ? 11 : 0));
        if (listed) {
            QCOMPARE(l.sinPort, quint16(ok ? 44818 : 0));
            QCOMPARE(l.sinAddress, ok ? 0x7F000001u : 0u);
            QCOMPARE(l.state, quint8(ok ? 3 : 0));
        }
    }

    void handleStoredAndReplaced()
    {
        LoopbackPeer peer;
        CmdQuorvex link;
        peer.enqueue(PeerStep::reply(registerReply(0x44332211)));
        QCOMPARE(link.EthConnectDrive(Local, peer.port()), 0);
        QCOMPARE(link.sessionHandle.toHex(), QByteArray("11223344"));
        // the link's first request: context 1, the very bytes a
        // registration always carried
        QCOMPARE(peer.requests().value(0).toHex(), RegisterRequestHex);

        // registering again on the same connection: the next context
        peer.enqueue(PeerStep::reply(registerReply(0x01020304)));
        QCOMPARE(link.send_reg(), 0);
        QCOMPARE(link.sessionHandle.toHex(), QByteArray("04030201"));
        QCOMPARE(peer.requests().value(1).toHex(), registration(2).toHex());

        // a second controller's handle replaces the first; the counter goes on
        LoopbackPeer other;
        other.enqueue(PeerStep::reply(registerReply(0xDDCCBBAA)));
        QCOMPARE(link.EthConnectDrive(Local, other.port()), 0);
        QCOMPARE(link.sessionHandle.toHex(), QByteArray("aabbccdd"));
        QCOMPARE(other.requests().value(0).toHex(), registration(3).toHex());
    }

    // A registration refused or unanswered leaves no socket half open: the
    // link is plainly not connected, and the handle it had stays.
    void failedRegistrationKeepsHandle_data()
    {
        QTest::addColumn<int>("kind"); // 0 reply as given, 1 garbled, 2 none
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("status"); // of the warning; none without one
        QTest::newRow("status 0x69") << 0 << registerReply(0x99999999, 0x69) << "0x69";
        QTest::newRow("wrong command")
            << 0 << frame(eip::SendRRData, QByteArray::fromHex("01000000"), 0x44332211) << "0x0";
        QTest::newRow("short reply") << 0 << registerReply(0x99999999).left(20) << "0x0";
        // its context garbled too: the answer to nothing, so no answer
        QTest::newRow("garbled reply") << 1 << registerReply(0x99999999) << QString();
        QTest::newRow("no reply") << 2 << QByteArray() << QString();
    }
    void failedRegistrationKeepsHandle()
    {
        QFETCH(int, kind);
        QFETCH(QByteArray, reply);
        QFETCH(QString, status);
        LoopbackPeer peer;
        CmdQuorvex link;
        peer.enqueue(PeerStep::reply(registerReply(0x44332211)));
        QCOMPARE(link.EthConnectDrive(Local, peer.port()), 0);

        peer.enqueue(kind == 0   ? PeerStep::reply(reply)
                     : kind == 1 ? PeerStep::garbled(reply)
                                 : PeerStep::silent());
        MessageCapture cap;
        QCOMPARE(link.EthConnectDrive(Local, peer.port()), -3);
        QCOMPARE(link.sessionHandle.toHex(), QByteArray("11223344"));
        QCOMPARE(link.Connection_status(), -3);
        QCOMPARE(link.tcpSocket->state(), QAbstractSocket::UnconnectedState);
        QCOMPARE(peer.requestCount(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(peer.openConnections(), 0, 5000);

        QStringList failures;
        for (const QString &l : linkLines(cap, QtWarningMsg)) {
            if (!l.contains("Disconnected="))
                failures << l;
        }
        if (status.isEmpty()) {
            QVERIFY(failures.isEmpty());
        } else {
            const QByteArray wire = PeerStep::echoed(reply, peer.requests().value(1));
            QCOMPARE(failures, QStringList(QString("lib[Quorvex]注册会话失败 127.0.0.1:%1 "
                                                   "status = %2 msg : %3")
                                               .arg(peer.port())
                                               .arg(status)
                                               .arg(QString(wire.toHex()))));
        }
    }

    void failedFirstRegistrationLeavesNoHandle()
    {
        LoopbackPeer peer;
        CmdQuorvex link;
        peer.enqueue(PeerStep::reply(registerReply(0x12345678, eip::StatusUnsupportedProtocol)));
        QCOMPARE(link.EthConnectDrive(Local, peer.port()), -3);
        QVERIFY(link.sessionHandle.isEmpty());
    }

    void traceLines_data()
    {
        QTest::addColumn<bool>("trace");
        QTest::addColumn<bool>("answered");
        QTest::newRow("tracing on") << true << true;
        QTest::newRow("tracing on, no reply") << true << false;
        QTest::newRow("tracing off") << false << true;
    }
    void traceLines()
    {
        QFETCH(bool, trace);
        QFETCH(bool, answered);
        LoopbackPeer peer;
        CmdQuorvex link;
        peer.enqueue(PeerStep::reply(registerReply(1)));
        QCOMPARE(link.EthConnectDrive(Local, peer.port()), 0);
        link.traceEnabled = trace;
        const QByteArray reply = registerReply(0x0000BEEF);
        peer.enqueue(answered ? PeerStep::reply(reply) : PeerStep::silent());
        MessageCapture cap;
        QCOMPARE(link.send_reg(), answered ? 0 : -1);
        const QString where = QString("127.0.0.1:%1").arg(peer.port());
        QStringList expected;
        if (trace) {
            const QByteArray request = registration(2);
            expected
                << QString("lib[Quorvex]读命令 %1 msg : %2").arg(where, QString(request.toHex()))
                << QString("lib[Quorvex]响应 %1 msg : %2")
                       .arg(where, answered ? QString(PeerStep::echoed(reply, request).toHex())
                                            : QString());
        }
        QCOMPARE(linkLines(cap, QtDebugMsg), expected);
        QVERIFY(linkLines(cap, QtWarningMsg).isEmpty());
    }

    void notConnected_data()
    {
        QTest::addColumn<bool>("hadConnection");
        QTest::newRow("fresh link") << false;
        QTest::newRow("after the peer closed") << true;
    }
    void notConnected()
    {
        QFETCH(bool, hadConnection);
        LoopbackPeer peer;
        CmdQuorvex link;
        link.traceEnabled = true;
        if (hadConnection) {
            peer.enqueue(PeerStep::reply(registerReply(7)));
            QCOMPARE(link.EthConnectDrive(Local, peer.port()), 0);
            peer.closeConnections();
            QTRY_COMPARE_WITH_TIMEOUT(link.tcpSocket->state(), QAbstractSocket::UnconnectedState,
                                      5000);
        }
        const int sent = peer.requestCount();
        MessageCapture cap;
        QCOMPARE(link.send_reg(), -3);
        QVERIFY(linkLines(cap, QtDebugMsg).isEmpty());
        QVERIFY(linkLines(cap, QtWarningMsg).isEmpty());
        QCOMPARE(peer.requestCount(), sent);
    }
};

QTEST_GUILESS_MAIN(TstSession)
#include "tst_session.moc"
