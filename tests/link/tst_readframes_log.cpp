#include <QtTest>

#include "ByteOrder.h"
#include "CmdQuorvex.h"
#include "EncapFrame.h"
#include "LoopbackPeer.h"
#include "MessageCapture.h"
#include "ReadReplyBuilder.h"

// Tag reads through a connected link against a scripted peer: the traffic
// and warning lines, word for word, and what reaches the caller.
namespace
{

const QString Local = QStringLiteral("127.0.0.1");

QByteArray registration()
{
    return QByteArray::fromHex("6500040011223344000000000100000000000000000000000100"
                               "0000");
}

QString areaFromHex(const char *hex)
{
    const QByteArray b = QByteArray::fromHex(hex);
    return QString::fromLatin1(b.constData(), b.size());
}

QStringList linkLines(const MessageCapture &cap, QtMsgType type)
{
    QStringList out;
    for (const QString &l : cap.lines(type))
        if (l.startsWith(QLatin1String("lib[Quorvex]")))
            out << l;
    return out;
}

// The frames of the worked examples, with the peer's session 11 22 33 44.
const QByteArray SpeedRequest = QByteArray::fromHex(
    "6f002a001122334400000000000000000000000000000000000000000a00020000000000b2001a00"
    "5202200624010af00c004c049105537065656400010001000100");

QByteArray dintReply(const QByteArray &value, quint8 service = 0xCC, quint8 status = 0)
{
    return readReply(service, status, {}, QByteArray::fromHex("c400") + value);
}

} // namespace

class TestReadFramesLog : public QObject
{
    Q_OBJECT

private:
    LoopbackPeer *peer = nullptr;
    CmdQuorvex *link = nullptr;
    QString prefix; // "127.0.0.1:port"

private slots:
    void init()
    {
        peer = new LoopbackPeer;
        QVERIFY(peer->isListening());
        link = new CmdQuorvex;
        peer->enqueue(PeerStep::reply(registration()));
        QCOMPARE(link->EthConnectDrive(Local, peer->port()), 0);
        QCOMPARE(link->sessionHandle.toHex(), QByteArray("11223344"));
        prefix = QStringLiteral("127.0.0.1:%1").arg(peer->port());
    }

    void cleanup()
    {
        delete link;
        link = nullptr;
        delete peer;
        peer = nullptr;
    }

    void tracedRead()
    {
        const QByteArray reply = dintReply(QByteArray::fromHex("2a000000"));
        peer->enqueue(PeerStep::reply(reply));
        link->traceEnabled = true;
        MessageCapture cap;
        QByteArray out("x");
        QCOMPARE(link->Read_area(areaFromHex("537065656400"), 1, &out, "Speed"), 0);
        QCOMPARE(out.toHex(), QByteArray("782a000000"));
        // The worked example, but for its sender context: the link's
        // second request (the registration was the first) carries 2.
        const QByteArray sent = peer->requests().value(1);
        QCOMPARE(encap::contextOf(sent), quint64(2));
        QByteArray golden = SpeedRequest;
        encap::setContext(golden, 2);
        QCOMPARE(sent.toHex(), golden.toHex());
        QCOMPARE(linkLines(cap, QtDebugMsg),
                 QStringList({"lib[Quorvex]读命令 " + prefix +
                                  "  Speed len = 1 msg : " + QString::fromLatin1(sent.toHex()),
                              "lib[Quorvex]读响应 " + prefix + "  Speed len = 1 msg : " +
                                  QString::fromLatin1(PeerStep::echoed(reply, sent).toHex())}));
        QVERIFY(linkLines(cap, QtWarningMsg).isEmpty());
    }

    void tracedFragments()
    {
        peer->enqueue(
            PeerStep::reply(dintReply(QByteArray::fromHex("0100000002000000"), 0xD2, 0x06)));
        peer->enqueue(PeerStep::reply(dintReply(QByteArray::fromHex("03000000"), 0xD2)));
        link->traceEnabled = true;
        MessageCapture cap;
        QByteArray out;
        QCOMPARE(link->Read_area(areaFromHex("427566002807"), 3, &out, "Buf[7]"), 0);
        QCOMPARE(out.toHex(), QByteArray("010000000200000003000000"));
        QCOMPARE(peer->requestCount(), 3);
        const QStringList debug = linkLines(cap, QtDebugMsg);
        QCOMPARE(debug.size(), 4);
        QVERIFY(debug.at(2).startsWith("lib[Quorvex]读命令 " + prefix + "  Buf[7] len = 3 msg : "));
        // The second request asks from byte 8 on.
        QVERIFY(debug.at(2).endsWith(QLatin1String("030008000000") + "01000100"));
    }

    void warnings_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("maxValueBytes");
        QTest::addColumn<int>("minValueBytes");
        QTest::addColumn<int>("parts"); // the reply is sent for this many requests
        QTest::addColumn<int>("rc");
        QTest::addColumn<QString>("line"); // %P host:port, %R the reply's hex
        const QByteArray dint = QByteArray::fromHex("c4002a000000");
        QTest::newRow("length") << readReply(0xCC, 0, {}, QByteArray()) << 1 << 100 << 0 << 1 << -1
                                << "lib[Quorvex]报文返回长度错误 %P  T len = 1 msg : %R";
        QTest::newRow("reply service") << readReply(0xD2, 0, {}, dint) << 1 << 100 << 0 << 1 << -1
                                       << "lib[Quorvex]报文返回标志位错误 %P  T len = 1 msg : %R";
        QTest::newRow("status with extended status")
            << readReply(0xCC, 0xFF, {0x2105}, QByteArray()) << 1 << 100 << 0 << 1 << -1
            << "lib[Quorvex]报文返回状态错误 %P  T len = 1 status = 0xff ext = 0x2105 msg : %R";
        QTest::newRow("status without extended status")
            << readReply(0xD2, 0x05, {}, QByteArray()) << 2 << 100 << 0 << 1 << -1
            << "lib[Quorvex]报文返回状态错误 %P  T len = 2 status = 0x05 ext = none msg : %R";
        QTest::newRow("encapsulation")
            << readReply(0xCC, 0, {}, dint, 0x6F, 0x64) << 1 << 100 << 0 << 1 << -1
            << "lib[Quorvex]报文封装错误 %P  T len = 1 command = 0x006f status = 0x00000064 msg "
               ": %R";
        QTest::newRow("partial without value bytes")
            << readReply(0xD2, 0x06, {}, QByteArray::fromHex("c400")) << 2 << 100 << 0 << 1 << -1
            << "lib[Quorvex]分段读取错误 %P  T len = 2 offset = 0 msg : %R";
        QTest::newRow("beyond the bound")
            << readReply(0xD2, 0x06, {}, QByteArray::fromHex("c4000100000002000000")) << 8 << 12
            << 0 << 2 << -1 << "lib[Quorvex]读取数据超出上限 %P  T len = 8 limit = 12 msg : %R";
        QTest::newRow("fewer value bytes than the elements")
            << readReply(0xD2, 0, {}, dint) << 3 << 100 << 12 << 1 << -1
            << "lib[Quorvex]报文数据长度不足 %P  T len = 3 need = 12 msg : %R";
    }

    void warnings()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, count);
        QFETCH(int, maxValueBytes);
        QFETCH(int, minValueBytes);
        QFETCH(int, parts);
        QFETCH(int, rc);
        QFETCH(QString, line);
        for (int i = 0; i < parts; ++i)
            peer->enqueue(PeerStep::reply(reply));
        MessageCapture cap;
        QByteArray out("keep");
        QCOMPARE(
            link->Read_area(areaFromHex("5400"), count, &out, "T", maxValueBytes, minValueBytes),
            rc);
        QCOMPARE(out, QByteArray("keep"));
        // the reply as it came: with the context of the last request
        const QByteArray came = PeerStep::echoed(reply, peer->requests().last());
        line.replace("%P", prefix).replace("%R", QString::fromLatin1(came.toHex()));
        QCOMPARE(linkLines(cap, QtWarningMsg), QStringList{line});
        QVERIFY(linkLines(cap, QtDebugMsg).isEmpty()); // tracing is off
    }

    void silence()
    {
        peer->enqueue(PeerStep::silent());
        link->traceEnabled = true;
        MessageCapture cap;
        QByteArray out;
        QCOMPARE(link->Read_area(areaFromHex("537065656400"), 1, &out, "Speed"), -2);
        QCOMPARE(linkLines(cap, QtDebugMsg).value(1),
                 "lib[Quorvex]读响应 " + prefix + "  Speed len = 1 msg : ");
        QCOMPARE(linkLines(cap, QtWarningMsg),
                 QStringList{"lib[Quorvex]返回的报文长度为0 " + prefix + "  Speed len = 1 msg : "});
    }

    // A "%" in a tag text is not taken for a placeholder.
    void percentInTag()
    {
        peer->enqueue(PeerStep::reply(readReply(0xCC, 0, {}, QByteArray())));
        MessageCapture cap;
        QByteArray out;
        QCOMPARE(link->Read_area(areaFromHex("5400"), 1, &out, "%5%1"), -1);
        QVERIFY(linkLines(cap, QtWarningMsg).value(0).contains("  %5%1 len = 1 msg : "));
    }

    void messageParsing_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("rc");
        QTest::addColumn<QByteArray>("out");
        QTest::newRow("one DINT") << dintReply(QByteArray::fromHex("2a000000")) << 0
                                  << QByteArray::fromHex("2a000000");
        QTest::newRow("type code only")
            << readReply(0xCC, 0, {}, QByteArray::fromHex("c400")) << 0 << QByteArray();
        QTest::newRow("structure with its handle")
            << readReply(0xCC, 0, {}, QByteArray::fromHex("a002ce0f0100000041")) << 0
            << QByteArray::fromHex("ce0f0100000041");
        QTest::newRow("a lone partial reply is incomplete")
            << dintReply(QByteArray::fromHex("2a000000"), 0xCC, 0x06) << -1 << QByteArray();
        QTest::newRow("path error with a status word")
            << readReply(0xCC, 0x04, {0x0000}, QByteArray()) << -1 << QByteArray();
    }

    void messageParsing()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, rc);
        QFETCH(QByteArray, out);
        peer->enqueue(PeerStep::reply(reply));
        MessageCapture cap;
        QByteArray got;
        QCOMPARE(link->Message_parsing(SpeedRequest, &got, 1, "Speed"), rc);
        QCOMPARE(got.toHex(), out.toHex());
        QCOMPARE(linkLines(cap, QtWarningMsg).size(), rc == 0 ? 0 : 1);
    }

    void refusedBeforeSending_data()
    {
        QTest::addColumn<QString>("area");
        QTest::addColumn<int>("count");
        QTest::newRow("count 0") << areaFromHex("5400") << 0;
        QTest::newRow("count beyond 16 bits") << areaFromHex("5400") << 65536;
        QTest::newRow("empty area") << QString() << 1;
        QTest::newRow("odd area") << areaFromHex("54") << 1;
        QTest::newRow("area too long") << QString(482, 'x') << 1;
    }

    void refusedBeforeSending()
    {
        QFETCH(QString, area);
        QFETCH(int, count);
        MessageCapture cap;
        QByteArray out;
        QCOMPARE(link->Read_area(area, count, &out, "T"), -1);
        QCOMPARE(peer->requestCount(), 1); // the registration only
        QCOMPARE(linkLines(cap, QtWarningMsg).size(), 1);
        QVERIFY(linkLines(cap, QtWarningMsg).value(0).startsWith("lib[Quorvex]读请求无效 "));
    }

    void notConnected()
    {
        CmdQuorvex fresh;
        fresh.traceEnabled = true;
        MessageCapture cap;
        QByteArray out;
        QCOMPARE(fresh.Read_area(areaFromHex("537065656400"), 1, &out, "Speed"), -3);
        QVERIFY(out.isEmpty());
        QVERIFY(linkLines(cap, QtDebugMsg).isEmpty());
        QVERIFY(linkLines(cap, QtWarningMsg).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestReadFramesLog)
#include "tst_readframes_log.moc"
