#include <QtTest>

#include <atomic>

#include "ByteOrder.h"
#include "CmdQuorvex.h"
#include "EipProtocol.h"
#include "EncapFrame.h"
#include "Line.h"
#include "LinkTestFrames.h"
#include "LoopbackPeer.h"
#include "ReplyChannel.h"
#include "UnitData.h"

// A reply is handed only to the request it answers: one that comes late,
// twice, out of order or for a request given up is never taken for
// another's.

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
    return QByteArray::fromHex("65000400040302010000000001000000000000000000000001000000");
}

quint32 valueOf(const QByteArray &out)
{
    return quint32(le::getPadded(out, 0, 4));
}

constexpr quint32 OtId = 0x11111111;
constexpr quint32 ToId = 0x22222222;
constexpr quint32 OtherId = 0x33333333;

// The reply channel over a line whose transport is a stand-in: each request
// sent brings the frames a step names, and nothing else ever comes.
class ScriptedChannel
{
public:
    ScriptedChannel()
    {
        line.setStandIn([this](const QByteArray &) { return std::exchange(bring, QByteArray()); });
        channel.setConnection(OtId, ToId);
    }

    // "A".."H": unconnected requests; "u<seq>": requests on the connection.
    QByteArray request(const QString &name)
    {
        if (!requests.contains(name)) {
            QByteArray f;
            if (name.startsWith('u')) {
                f = unitdata::frame(session, OtId, quint16(name.mid(1).toUInt()), name.toLatin1());
            } else {
                f = linktest::rrFrame(name.toLatin1());
                channel.stamp(f);
            }
            requests.insert(name, f);
        }
        return requests.value(name);
    }

    // A reply token: "A1" answers A with value 1; "u3:1" answers the
    // request with sequence 3 on the T->O id, "n3:1" on our O->T id (a
    // target that lost the connection), "w3:1" on another connection's id;
    // "Z1" carries a context no request has, "0:1" an all-zero one;
    // "<A1" is the first 30 bytes of A1, ">A1" the rest; "cut" is the start
    // of a frame whose rest never comes.
    QByteArray reply(const QString &token)
    {
        constexpr int Cut = 30;
        if (token.startsWith('<'))
            return reply(token.mid(1)).left(Cut);
        if (token.startsWith('>'))
            return reply(token.mid(1)).mid(Cut);
        if (token == "cut") {
            QByteArray f = linktest::rrFrame(QByteArray(200, 'x')).left(Cut);
            encap::setContext(f, 0x7777);
            return f;
        }
        const QByteArray value = token.right(1).toLatin1();
        const QChar kind = token.at(0);
        if (kind == 'u' || kind == 'n' || kind == 'w') {
            const quint16 seq = quint16(token.mid(1, token.indexOf(':') - 1).toUInt());
            const quint32 id = kind == 'u' ? ToId : kind == 'n' ? OtId : OtherId;
            return unitdata::frame(session, id, seq, value);
        }
        QByteArray f = linktest::rrFrame(value);
        if (kind == 'Z')
            encap::setContext(f, 0x7777);
        else if (kind != '0')
            encap::setContext(f, encap::contextOf(request(QString(kind))));
        return f;
    }

    // One step: "x A | B1 A2" exchanges A while B1 and A2 come; "p A | .."
    // posts A; "r A B" receives for A or B; "g A" gives A up. What each
    // exchange and receive took is written as "A=2" ("A=-": nothing).
    void run(const QString &step)
    {
        const QStringList halves = step.split('|');
        const QStringList words = halves.value(0).split(' ', Qt::SkipEmptyParts);
        bring.clear();
        for (const QString &t : halves.value(1).split(' ', Qt::SkipEmptyParts))
            bring += reply(t);
        const QString op = words.value(0);
        const QStringList names = words.mid(1);
        QByteArray got;
        if (op == "x") {
            const int rc = channel.exchange(request(names.value(0)), got, 100);
            taken << names.value(0) + '=' + (rc == 0 ? QString(got.right(1)) : "-");
        } else if (op == "p") {
            QCOMPARE(channel.post(request(names.value(0))), 0);
        } else if (op == "r") {
            QVector<QByteArray> asked;
            for (const QString &n : names)
                asked << request(n);
            const int which = channel.receive(asked, 100, got);
            taken << (which < 0 ? names.join('/') + "=-" : names.value(which) + '=' + got.right(1));
        } else if (op == "g") {
            channel.giveUp(request(names.value(0)));
        }
    }

    QString summary() const
    {
        return taken.join(' ') + QStringLiteral(" late=%1 unmatched=%2")
                                     .arg(channel.counters().lateDropped)
                                     .arg(channel.counters().unmatchedDropped);
    }

private:
    QByteArray received;
    const QByteArray session = QByteArray::fromHex("04030201");
    QTcpSocket *socket = nullptr;
    QSerialPort *port = nullptr;
    QTimer *timer = nullptr;
    int gapMs = 2;
    Line line{LineFields{received, session, socket, port, timer, gapMs}};
    ReplyChannel channel{line};
    QByteArray bring;
    QMap<QString, QByteArray> requests;
    QStringList taken;
};

} // namespace

class TestLateReply : public QObject
{
    Q_OBJECT

private slots:
    // Frames in, and which request gets what.
    void matching_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QString>("taken");
        QTest::newRow("in step") << QStringList{"x A|A1", "x B|B2"} << "A=1 B=2 late=0 unmatched=0";
        QTest::newRow("a duplicate is dropped")
            << QStringList{"x A|A1 A1", "x B|B2"} << "A=1 B=2 late=0 unmatched=1";
        QTest::newRow("a duplicate after the next reply")
            << QStringList{"x A|A1", "x B|B2 A1", "x C|C3"} << "A=1 B=2 C=3 late=0 unmatched=1";
        QTest::newRow("a late reply before the next one")
            << QStringList{"x A|", "x B|A1 B2"} << "A=- B=2 late=1 unmatched=0";
        QTest::newRow("a late reply after the next one")
            << QStringList{"x A|", "x B|B2 A1", "x C|C3"} << "A=- B=2 C=3 late=1 unmatched=0";
        QTest::newRow("a stall, then the whole backlog")
            << QStringList{"x A|", "x B|", "x C|", "x D|A1 B2 C3 D4"}
            << "A=- B=- C=- D=4 late=3 unmatched=0";
        QTest::newRow("the backlog out of order")
            << QStringList{"x A|", "x B|", "x C|C3 B2 A1", "x D|D4"}
            << "A=- B=- C=3 D=4 late=2 unmatched=0";
        QTest::newRow("a cut frame does not swallow the next reply")
            << QStringList{"x A|A1 cut", "x B|B2"} << "A=1 B=2 late=0 unmatched=0";
        QTest::newRow("a part's reply in two pieces, another sent between")
            << QStringList{"p A|", "p B|<A1", "x C|>A1 B2 C3", "r A B", "r B"}
            << "C=3 A=1 B=2 late=0 unmatched=0";
        QTest::newRow("a frame that answers nothing")
            << QStringList{"x A|Z9 A1"} << "A=1 late=0 unmatched=1";
        QTest::newRow("a controller that does not echo the context")
            << QStringList{"x A|0:5", "x B|0:6"} << "A=- B=- late=0 unmatched=2";
        QTest::newRow("parts out of order")
            << QStringList{"p A|", "p B|", "p C|C3 A1 B2", "r A B C", "r A B", "r B"}
            << "C=3 A=1 B=2 late=0 unmatched=0";
        QTest::newRow("a part's reply during another exchange is kept for it")
            << QStringList{"p A|", "x B|A1 B2", "r A"} << "B=2 A=1 late=0 unmatched=0";
        QTest::newRow("a part given up: its reply dropped")
            << QStringList{"p A|", "g A", "x B|A1 B2"} << "B=2 late=1 unmatched=0";
        QTest::newRow("a part given up after its reply was kept")
            << QStringList{"p A|", "x B|A1 B2", "g A", "r A"} << "B=2 A=- late=1 unmatched=0";
        QTest::newRow("a part not answered")
            << QStringList{"p A|", "p B|B2", "r A B", "r A"} << "B=2 A=- late=0 unmatched=0";
        QTest::newRow("connected: by sequence count")
            << QStringList{"x u1|u1:1", "x u2|u1:5 u2:2"} << "u1=1 u2=2 late=0 unmatched=1";
        QTest::newRow("connected: a late reply")
            << QStringList{"x u1|", "x u2|u1:1 u2:2"} << "u1=- u2=2 late=1 unmatched=0";
        QTest::newRow("connected: not found counts only with its sequence")
            << QStringList{"x u1|", "x u2|n1:7 n2:8"} << "u1=- u2=8 late=1 unmatched=0";
        QTest::newRow("connected: another connection's reply")
            << QStringList{"x u1|w1:3 u1:1"} << "u1=1 late=0 unmatched=1";
        QTest::newRow("connected: a reply without a connection id")
            << QStringList{"x u1|A1 u1:1"} << "u1=1 late=0 unmatched=1";
    }

    void matching()
    {
        QFETCH(QStringList, steps);
        QFETCH(QString, taken);
        ScriptedChannel s;
        for (const QString &step : steps)
            s.run(step);
        QCOMPARE(s.summary(), taken);
    }

    // Through a socket, against a controller that answers every read in
    // 300 ms but the first only after the link gave up on it.
    void lateReplyIsDropped_data()
    {
        QTest::addColumn<bool>("echo");
        QTest::addColumn<bool>("firstAnswered");
        QTest::newRow("controller echoes the context") << true << true;
        QTest::newRow("echoed, first never answered") << true << false;
        // A controller that does not echo the sender context breaks the
        // protocol: none of its replies answers a request, so none is
        // taken, and no wrong value either.
        QTest::newRow("context not echoed") << false << true;
    }

    void lateReplyIsDropped()
    {
        QFETCH(bool, echo);
        QFETCH(bool, firstAnswered);
        LoopbackPeer peer;
        QVERIFY(peer.isListening());
        std::atomic<int> reads{0};
        QElapsedTimer firstAt;
        // Each later reply comes well after the late one, so a wait that
        // restarted its short poll at the dropped late reply would miss
        // them all, one after the other.
        constexpr int LateMs = 700;
        constexpr int ReplyMs = 300;
        peer.setResponder([&](const QByteArray &request) {
            if (le::getPadded(request, 0, 2) == eip::RegisterSession)
                return PeerStep::reply(registerReply());
            PeerStep step;
            const int n = reads++;
            if (n == 0) { // answered only after the driver gave up
                firstAt.start();
                step = firstAnswered ? PeerStep::reply(readReply(request, 1111, echo), LateMs)
                                     : PeerStep::silent();
            } else {
                // Answered in order: nothing overtakes the late reply.
                const int wait =
                    firstAnswered ? int(qMax<qint64>(ReplyMs, LateMs + ReplyMs - firstAt.elapsed()))
                                  : ReplyMs;
                step = PeerStep::reply(readReply(request, 2222 + n, echo), wait);
            }
            step.echoContext = false; // the reply says itself what it echoes
            return step;
        });

        CmdQuorvex link;
        QCOMPARE(link.EthConnectDrive(QStringLiteral("127.0.0.1"), peer.port()), 0);
        link.traceEnabled = qEnvironmentVariableIsSet("TRACE");
        const QString area = QStringLiteral("DintTag") + QChar(0);
        QByteArray out;
        QCOMPARE(link.Read_area(area, 1, &out, QStringLiteral("DintTag")), -2);
        QCOMPARE(link.replies().pending(), 1); // given up, remembered
        for (quint32 n = 1; n <= 4; ++n) {
            out.clear();
            QCOMPARE(link.Read_area(area, 1, &out, QStringLiteral("DintTag")), echo ? 0 : -2);
            if (echo)
                QCOMPARE(valueOf(out), 2222u + n);
            else
                QVERIFY(out.isEmpty());
        }
        const ReplyChannel::Counters c = link.replies().counters();
        QCOMPARE(c.lateDropped, quint64(echo && firstAnswered ? 1 : 0));
        QCOMPARE(c.unmatchedDropped, quint64(echo ? 0 : 5));

        // Every request carried a context of its own, from 1 on.
        const QList<QByteArray> requests = peer.requests();
        QCOMPARE(requests.size(), 6);
        for (int i = 0; i < requests.size(); ++i)
            QCOMPARE(encap::contextOf(requests.at(i)), quint64(i + 1));
        link.DestroyFree();
    }

    // A request given up is remembered a few reply waits, then forgotten:
    // its key is never used again, so its reply could not be taken anyway.
    void givenUpIsForgotten()
    {
        LoopbackPeer peer;
        peer.setResponder([](const QByteArray &request) {
            if (le::getPadded(request, 0, 2) == eip::RegisterSession)
                return PeerStep::reply(registerReply());
            return PeerStep::silent();
        });
        CmdQuorvex link;
        LinkOptions o;
        o.replyTimeoutMs = 50;
        link.setOptions(o);
        QCOMPARE(link.EthConnectDrive(QStringLiteral("127.0.0.1"), peer.port()), 0);
        QByteArray out;
        QCOMPARE(link.Read_area(QStringLiteral("Ab"), 1, &out, QStringLiteral("Ab")), -2);
        QCOMPARE(link.replies().pending(), 1);
        QTest::qWait(ReplyChannel::RememberWaits * o.replyTimeoutMs + 50);
        QCOMPARE(link.Read_area(QStringLiteral("Ab"), 1, &out, QStringLiteral("Ab")), -2);
        QCOMPARE(link.replies().pending(), 1); // the second one only
        link.DestroyFree();
    }
};

QTEST_GUILESS_MAIN(TestLateReply)
#include "tst_latereply.moc"
