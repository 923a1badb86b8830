// Byte-exact exchanges with the simulator's frame handler, without sockets.
#include "SimFrames.h"

#include "ConnectionManager.h"
#include "ConnectionTable.h"
#include "FrameHandler.h"
#include "RoutePath.h"
#include "TagDatabase.h"

#include <QtTest>

using namespace simtest;

namespace
{

constexpr quint32 FirstHandle = 0x9E3779B1u; // first handle of a fresh table

QByteArray hx(const char *hex)
{
    return QByteArray::fromHex(hex);
}

} // namespace

class TestSimFrames : public QObject
{
    Q_OBJECT

    qsim::TagDatabase db = qsim::defaultTags();

    quint32 registered(qsim::SessionTable &sessions)
    {
        return sessionOf(qsim::handleFrame(registerSession(), sessions, db).reply);
    }
    QByteArray cipReply(const QByteArray &cipRequest)
    {
        qsim::SessionTable sessions;
        const quint32 h = registered(sessions);
        return cipOf(qsim::handleFrame(sendRR(h, cipRequest), sessions, db).reply);
    }

private slots:
    void goldenExchanges_data();
    void goldenExchanges();
    void atomicAndStringReads_data();
    void atomicAndStringReads();
    void cipErrors_data();
    void cipErrors();
    void encapsulationErrors_data();
    void encapsulationErrors();
    void sessionLifecycle();
    void serialLineNeedsNoSession();
    void forcedStatus();
    void nonsenseNeverCrashes();
    void routeParsing_data();
    void routeParsing();
    void routesUnderPolicy_data();
    void routesUnderPolicy();
    void connectionManager_data();
    void connectionManager();
    void connectionLifecycle();
    void connectedReplyParts_data();
    void connectedReplyParts();
};

void TestSimFrames::goldenExchanges_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("setup"); // 0 nothing, 1 registered, 2 and a connection opened

    QTest::newRow("register session")
        << hx("65000400000000000000000001000000000000000000000001000000")
        << hx("65000400b179379e0000000001000000000000000000000001000000") << 0;
    QTest::newRow("register with protocol version 2")
        << hx("65000400000000000000000001000000000000000000000002000000")
        << hx("650004000000000069000000010000000000000000000000"
              "01000000")
        << 0;
    // The default identity: 127.0.0.1:44818, vendor 1, device type 14, code 1,
    // revision 1.5, status 0x60, serial 0x00C0FFEE, "Quorvex Simulator", state 3.
    QTest::newRow("list identity without a session")
        << hx("630000000000000000000000000000000000000000000000")
        << hx("63003900000000000000000000000000000000000000000001000c00330001000002af127f000001"
              "000000000000000001000e00010001056000eeffc0001151756f727665782053696d756c61746f7203")
        << 0;
    // The driver's frame: Unconnected Send to 06/01 around a Read Tag of
    // DintTag (odd name, one pad byte), routed to port 1 slot 0.
    QTest::newRow("read DintTag routed")
        << hx("6f002c00b179379e00000000000000000000000000000000000000000a00020000000000b2001c00"
              "5202200624010af00e004c05910744696e7454616700010001000100")
        << hx("6f001a00b179379e00000000000000000000000000000000000000000000020000000000b2000a00"
              "cc000000c4002a000000")
        << 1;
    QTest::newRow("read DintArray[7] count 3 fragmented")
        << hx("6f003400b179379e00000000000000000000000000000000000000000a00020000000000b2002400"
              "5202200624010af016005207910944696e74417272617900280703000000000001000100")
        << hx("6f002200b179379e00000000000000000000000000000000000000000000020000000000b2001200"
              "d2000000c40046000000500000005a000000")
        << 1;
    QTest::newRow("read of an unknown tag")
        << hx("6f002800b179379e00000000000000000000000000000000000000000a00020000000000b2001800"
              "5202200624010af00a004c0391044e6f7065010001000100")
        << hx("6f001400b179379e00000000000000000000000000000000000000000000020000000000b2000400"
              "cc000500")
        << 1;
    QTest::newRow("bare read IntTag, sender context echoed")
        << hx("6f001c00b179379e00000000112233445566778800000000000000000a00020000000000b2000c00"
              "4c049106496e745461670100")
        << hx("6f001800b179379e00000000112233445566778800000000000000000000020000000000b2000800"
              "cc000000c3002efb")
        << 1;
    // Forward Open, route port 1 slot 0 then the Message Router, 500 bytes
    // both ways; the reply carries the id the simulator picked.
    QTest::newRow("forward open")
        << hx("6f004000b179379e00000000000000000000000000000000000000000a00020000000000b2003000 "
              "540220062401 0af0 00000000 44332211 4200 3412 efcdab89 00000000 80841e00 f443 "
              "80841e00 f443 a3 03 010020022401")
        << hx("6f002e00b179379e00000000000000000000000000000000000000000000020000000000b2001e00 "
              "d4000000 91f44525 44332211 4200 3412 efcdab89 80841e00 80841e00 0000")
        << 1;
    QTest::newRow("connected read DintTag")
        << hx("70002400b179379e0000000000000000000000000000000000000000000002 00a1000400 91f44525 "
              "b1001000 0700 4c05910744696e74546167000100")
        << hx("70002000b179379e0000000000000000000000000000000000000000000002 00a1000400 44332211 "
              "b1000c00 0700 cc000000c4002a000000")
        << 2;
    QTest::newRow("connected read on an unknown id")
        << hx("70002400b179379e0000000000000000000000000000000000000000000002 00a1000400 78563412 "
              "b1001000 0900 4c05910744696e74546167000100")
        << hx("70001c00b179379e0000000000000000000000000000000000000000000002 00a1000400 78563412 "
              "b1000800 0900 cc0001010701")
        << 2;
}

void TestSimFrames::goldenExchanges()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(int, setup);
    qsim::SessionTable sessions;
    qsim::ConnectionTable connections;
    qsim::FrameOptions options;
    options.cip.client.connections = &connections;
    if (setup >= 1)
        QCOMPARE(registered(sessions), FirstHandle);
    if (setup >= 2) {
        const QByteArray open = forwardOpen(true, 1, 0x42000FA2, 0x42000FA2, hx("010020022401"));
        QVERIFY(openedId(cipOf(
                    qsim::handleFrame(sendRR(FirstHandle, open), sessions, db, options).reply)) !=
                0);
    }
    QCOMPARE(qsim::handleFrame(request, sessions, db, options).reply.toHex(), reply.toHex());
}

void TestSimFrames::atomicAndStringReads_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    auto text = [](const char *t) {
        QByteArray s;
        le::put32(s, static_cast<quint32>(qstrlen(t)));
        s += t;
        return s + QByteArray(88 - s.size(), '\0');
    };
    QTest::newRow("BOOL") << readTag(sym("BoolTag"), 1) << hx("cc000000c10001");
    QTest::newRow("SINT") << readTag(sym("SintTag"), 1) << hx("cc000000c200fb");
    QTest::newRow("INT") << readTag(sym("IntTag"), 1) << hx("cc000000c3002efb");
    QTest::newRow("DINT") << readTag(sym("DintTag"), 1) << hx("cc000000c4002a000000");
    QTest::newRow("LINT") << readTag(sym("LintTag"), 1) << hx("cc000000c500cb04fb711f010000");
    QTest::newRow("USINT") << readTag(sym("UsintTag"), 1) << hx("cc000000c600c8");
    QTest::newRow("UINT") << readTag(sym("UintTag"), 1) << hx("cc000000c70060ea");
    QTest::newRow("UDINT") << readTag(sym("UdintTag"), 1) << hx("cc000000c80000286bee");
    QTest::newRow("ULINT") << readTag(sym("UlintTag"), 1) << hx("cc000000c900000008c5a1d8ccf9");
    QTest::newRow("REAL") << readTag(sym("RealTag"), 1) << hx("cc000000ca000000c03f");
    QTest::newRow("LREAL") << readTag(sym("LrealTag"), 1) << hx("cc000000cb000000000000000240");
    QTest::newRow("name in other case") << readTag(sym("dinttag"), 1) << hx("cc000000c4002a000000");
    QTest::newRow("BOOL array words")
        << readFrag(sym("BoolArray"), 2, 0) << hx("d2000000d3004992244992244992");
    QTest::newRow("STRING") << readTag(sym("StringTag"), 1)
                            << hx("cc000000a002ce0f") + text("Hello, PLC");
    QTest::newRow("STRING array element")
        << readTag(sym("Names") + el8(2), 1) << hx("cc000000a002ce0f") + text("Charlie");
    QTest::newRow("STRING array, handle once")
        << readFrag(sym("Names") + el8(3), 2, 0)
        << hx("d2000000a002ce0f") + text("Delta") + text("Echo");
    QTest::newRow("STRING member LEN")
        << readTag(sym("StringTag") + sym("LEN"), 1) << hx("cc000000c4000a000000");
    QTest::newRow("routed BOOL") << routed(readTag(sym("BoolTag"), 1)) << hx("cc000000c10001");
}

void TestSimFrames::atomicAndStringReads()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QCOMPARE(cipReply(request).toHex(), reply.toHex());
}

void TestSimFrames::cipErrors_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("unknown tag") << readTag(sym("Nope"), 1) << hx("cc000500");
    QTest::newRow("identity product name")
        << hx("0e03200124013007") << hx("8e0000001151756f727665782053696d756c61746f72");
    QTest::newRow("identity serial number") << hx("0e03200124013006") << hx("8e000000eeffc000");
    QTest::newRow("identity attribute 8") << hx("0e03200124013008") << hx("8e001400");
    QTest::newRow("identity instance 2") << hx("010220012402") << hx("81000500");
    QTest::newRow("member of an atomic") << readTag(sym("DintTag") + sym("X"), 1) << hx("cc000500");
    QTest::newRow("unknown member") << readTag(sym("Motor") + sym("Speed"), 1) << hx("cc000500");
    QTest::newRow("member of an unindexed array")
        << readTag(sym("Motors") + sym("Rpm"), 1) << hx("cc000500");
    QTest::newRow("index past the end")
        << readTag(sym("DintArray") + el8(10), 1) << hx("cc00ff010521");
    QTest::newRow("second index past the end")
        << readTag(sym("Grid") + el8(0) + el8(5), 1) << hx("cc00ff010521");
    QTest::newRow("count past the end")
        << readFrag(sym("DintArray") + el8(8), 3, 0) << hx("d200ff010521");
    QTest::newRow("count 0") << readTag(sym("DintTag"), 0) << hx("cc00ff010521");
    QTest::newRow("offset past the end") << readFrag(sym("DintArray"), 2, 8) << hx("d200ff010521");
    QTest::newRow("index on a scalar") << readTag(sym("DintTag") + el8(0), 1) << hx("cc000400");
    QTest::newRow("more indexes than dimensions")
        << readTag(sym("Grid") + el8(1) + el8(2) + el8(3), 1) << hx("cc000400");
    QTest::newRow("logical segment in a tag path") << readTag(hx("20022401"), 1) << hx("cc000400");
    QTest::newRow("symbol without its pad byte")
        << cipRequest(cip::ReadTag, hx("91034142"), hx("0100")) << hx("cc000400");
    QTest::newRow("empty symbol") << cipRequest(cip::ReadTag, hx("9100"), hx("0100"))
                                  << hx("cc000400");
    QTest::newRow("unsupported service")
        << cipRequest(0x4D, sym("DintTag"), hx("c40001002a000000")) << hx("cd000800");
    QTest::newRow("no element count")
        << cipRequest(cip::ReadTag, sym("DintTag"), QByteArray()) << hx("cc001300");
    QTest::newRow("fragmented read without offset")
        << cipRequest(cip::ReadTagFragmented, sym("DintTag"), hx("0100")) << hx("d2001300");
    QTest::newRow("path longer than the message") << hx("4c0591014100") << hx("cc001300");
    QTest::newRow("service byte only") << hx("4c") << hx("cc001300");
    QTest::newRow("unconnected send cut short") << hx("5202200624010af0") << hx("d2001300");
    QTest::newRow("unconnected send without route")
        << cipRequest(cip::UnconnectedSend, hx("20062401"), hx("0af006004c0291014100"))
        << hx("d2001300");
    QTest::newRow("routed error is the embedded reply")
        << routed(readTag(sym("Nope"), 1)) << hx("cc000500");
    QTest::newRow("unconnected send routed again")
        << routed(routed(readTag(sym("DintTag"), 1))) << hx("d2000500");
}

void TestSimFrames::cipErrors()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QCOMPARE(cipReply(request).toHex(), reply.toHex());
}

void TestSimFrames::encapsulationErrors_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("unknown session") << sendRR(0x12345678, readTag(sym("DintTag"), 1))
                                     << hx("6f0000007856341264000000000000000000000000000000");
    QTest::newRow("unsupported command") << hx("64000000b179379e00000000000000000000000000000000")
                                         << hx("64000000b179379e01000000000000000000000000000000");
    QTest::newRow("SendUnitData without items")
        << hx("70000000b179379e00000000000000000000000000000000")
        << hx("70000000b179379e03000000000000000000000000000000");
    QTest::newRow("SendUnitData with an unconnected data item")
        << hx("70001400b179379e00000000000000000000000000000000000000000000020000000000b20004004c00"
              "0100")
        << hx("70000000b179379e03000000000000000000000000000000");
    QTest::newRow("SendUnitData for an unknown session")
        << sendUnit(0x12345678, 1, 1, readTag(sym("DintTag"), 1))
        << hx("700000007856341264000000000000000000000000000000");
    QTest::newRow("one item only")
        << hx("6f000c00b179379e00000000000000000000000000000000000000000a00010000000000")
        << hx("6f000000b179379e03000000000000000000000000000000");
    QTest::newRow("data item length past the frame")
        << hx("6f001400b179379e00000000000000000000000000000000000000000a00020000000000b20009004c00"
              "0100")
        << hx("6f000000b179379e03000000000000000000000000000000");
    QTest::newRow("address item not null")
        << hx("6f001400b179379e00000000000000000000000000000000000000000a000200a1000000b20004004c00"
              "0100")
        << hx("6f000000b179379e03000000000000000000000000000000");
    QTest::newRow("length field shorter than the frame")
        << hx("6f000000b179379e000000000000000000000000000000000000")
        << hx("6f000000b179379e65000000000000000000000000000000");
    QTest::newRow("register with 6 data bytes")
        << hx("650006000000000000000000000000000000000000000000010000000000")
        << hx("650000000000000065000000000000000000000000000000");
    QTest::newRow("not even a header") << hx("6f00") << QByteArray();
}

void TestSimFrames::encapsulationErrors()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    qsim::SessionTable sessions;
    QCOMPARE(registered(sessions), FirstHandle);
    QCOMPARE(qsim::handleFrame(request, sessions, db).reply.toHex(), reply.toHex());
}

void TestSimFrames::sessionLifecycle()
{
    quint32 counter = 0;
    qsim::SessionTable a(&counter), b(&counter);
    const quint32 ha = registered(a);
    const quint32 hb = registered(b);
    QVERIFY(ha != 0 && hb != 0 && ha != hb);
    // A handle belongs to the connection that registered it.
    QCOMPARE(statusOf(qsim::handleFrame(sendRR(ha, readTag(sym("DintTag"), 1)), b, db).reply),
             quint32(eip::StatusInvalidSession));

    QByteArray unregister = registerSession();
    le::set16(unregister, eip::OffCommand, eip::UnRegisterSession);
    le::set16(unregister, eip::OffLength, 0);
    unregister.chop(4);
    unregister.replace(eip::OffSession, 4, QByteArray::fromRawData("\xb1\x79\x37\x9e", 4));
    const qsim::FrameResult bye = qsim::handleFrame(unregister, a, db);
    QVERIFY(bye.reply.isEmpty());
    QVERIFY(bye.close);
    QCOMPARE(statusOf(qsim::handleFrame(sendRR(ha, readTag(sym("DintTag"), 1)), a, db).reply),
             quint32(eip::StatusInvalidSession));

    // A client that only registers cannot grow the table without bound.
    qsim::SessionTable full;
    for (int i = 0; i < qsim::SessionTable::MaxSessions; ++i)
        QVERIFY(registered(full) != 0);
    const QByteArray refused = qsim::handleFrame(registerSession(), full, db).reply;
    QCOMPARE(statusOf(refused), quint32(eip::StatusInsufficientMemory));
    QCOMPARE(sessionOf(refused), 0u);

    qsim::FrameOptions reject;
    reject.rejectRegister = true;
    qsim::SessionTable c;
    const QByteArray rejected = qsim::handleFrame(registerSession(), c, db, reject).reply;
    QCOMPARE(rejected.toHex(), QByteArray("650004000000000069000000010000000000000000000000"
                                          "01000000"));
}

void TestSimFrames::serialLineNeedsNoSession()
{
    qsim::FrameOptions serial;
    serial.requireSession = false;
    qsim::SessionTable sessions;
    const QByteArray reply =
        qsim::handleFrame(sendRR(0xDEADBEEF, routed(readTag(sym("DintTag"), 1))), sessions, db,
                          serial)
            .reply;
    QCOMPARE(sessionOf(reply), 0xDEADBEEFu);
    QCOMPARE(cipOf(reply).toHex(), QByteArray("cc000000c4002a000000"));
}

void TestSimFrames::forcedStatus()
{
    qsim::FrameOptions forced;
    forced.cip.forcedStatus = cip::PathDestinationUnknown;
    qsim::SessionTable sessions;
    const quint32 h = registered(sessions);
    QCOMPARE(
        cipOf(qsim::handleFrame(sendRR(h, routed(readTag(sym("DintTag"), 1))), sessions, db, forced)
                  .reply)
            .toHex(),
        QByteArray("cc000500"));
    forced.cip.forcedStatus = cip::GeneralError;
    QCOMPARE(
        cipOf(qsim::handleFrame(sendRR(h, readFrag(sym("BigArray"), 500, 0)), sessions, db, forced)
                  .reply)
            .toHex(),
        QByteArray("d200ff010521"));
}

// Deterministic random frames and mutations of valid ones: every reply is
// either nothing or a frame whose length field matches its size.
void TestSimFrames::nonsenseNeverCrashes()
{
    quint32 seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return seed >> 8;
    };
    const QByteArray valid[] = {
        registerSession(),
        sendRR(FirstHandle, routed(readFrag(sym("Motors") + el8(1) + sym("Limits"), 2, 4))),
        sendRR(FirstHandle, readTag(sym("Cube") + el16(1) + el32(2) + el8(3), 1)),
    };
    qsim::SessionTable sessions;
    registered(sessions);
    for (int round = 0; round < 20000; ++round) {
        QByteArray f;
        if (round % 4 == 0) {
            f.resize(static_cast<int>(next() % 120));
            for (char &c : f)
                c = static_cast<char>(next());
        } else {
            f = valid[round % 3];
            const int flips = 1 + static_cast<int>(next() % 4);
            for (int i = 0; i < flips; ++i)
                f[static_cast<int>(next() % f.size())] = static_cast<char>(next());
            if (next() % 3 == 0)
                f.truncate(static_cast<int>(next() % (f.size() + 1)));
        }
        const QByteArray reply = qsim::handleFrame(f, sessions, db).reply;
        if (!reply.isEmpty()) {
            QVERIFY(reply.size() >= eip::HeaderSize);
            QCOMPARE(int(le::getPadded(reply, eip::OffLength, 2)) + eip::HeaderSize, reply.size());
        }
    }
}

void TestSimFrames::routeParsing_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<int>("consumed");
    QTest::addColumn<QString>("segments");

    QTest::newRow("backplane slot 3") << hx("0103") << 2 << "1:03";
    QTest::newRow("bridged route") << hx("01021208") + QByteArray("10.0.0.7") + hx("0100") << 14
                                   << "1:02 2:=31302e302e302e37 1:00";
    QTest::newRow("odd address padded")
        << hx("12093139322e302e322e310001") + hx("05") << 14 << "2:=3139322e302e322e31 1:05";
    QTest::newRow("16-bit port") << hx("0f3412000107") << 6 << "4660:00 1:07";
    QTest::newRow("16-bit port, long address") << hx("1f02cdab0a0b") << 6 << "43981:=0a0b";
    QTest::newRow("stops at a logical segment") << hx("010020022401") << 2 << "1:00";
    QTest::newRow("empty") << QByteArray() << 0 << "";
    QTest::newRow("link byte missing") << hx("01") << -1 << "";
    QTest::newRow("address past the end") << hx("120831302e30") << -1 << "";
    QTest::newRow("pad byte missing") << hx("120131") << -1 << "";
    QTest::newRow("16-bit port cut short") << hx("0f34") << -1 << "";
    QTest::newRow("zero-length address") << hx("12000100") << -1 << "";
}

void TestSimFrames::routeParsing()
{
    QFETCH(QByteArray, path);
    QFETCH(int, consumed);
    QFETCH(QString, segments);
    QVector<qsim::PortSegment> route;
    QCOMPARE(qsim::parsePortSegments(path, &route), consumed);
    QCOMPARE(qsim::parseRoute(path, &route), consumed == path.size());
    if (consumed < 0)
        return;
    qsim::parsePortSegments(path, &route);
    QStringList shown;
    for (const qsim::PortSegment &s : route)
        shown << QStringLiteral("%1:%2%3")
                     .arg(s.port)
                     .arg(s.longLink ? "=" : "")
                     .arg(QString::fromLatin1(s.link.toHex()));
    QCOMPARE(shown.join(QLatin1Char(' ')), segments);
}

// An Unconnected Send around a read of DintTag, along `route`, to a
// controller set up with a slot, a bridge or as addressed directly.
void TestSimFrames::routesUnderPolicy_data()
{
    QTest::addColumn<int>("slot");
    QTest::addColumn<QByteArray>("bridge");
    QTest::addColumn<bool>("direct");
    QTest::addColumn<QByteArray>("route");
    QTest::addColumn<QByteArray>("reply");

    const QByteArray ok = hx("cc000000c4002a000000");
    const QByteArray bridged = hx("01021208") + QByteArray("10.0.0.7") + hx("0100");
    const QByteArray ip = "10.0.0.7";
    // 0xD2, status 0x01, one word of extended status, the route's words.
    auto refused = [](quint16 ext, quint8 words) {
        QByteArray r = hx("d2000101");
        le::put16(r, ext);
        le::put8(r, words);
        return r;
    };
    const quint16 badLink = 0x0312;
    QTest::newRow("no setup, any route") << -1 << QByteArray() << false << hx("0109") << ok;
    QTest::newRow("no setup, even nonsense") << -1 << QByteArray() << false << hx("ffff") << ok;
    QTest::newRow("slot 2, route to 2") << 2 << QByteArray() << false << hx("0102") << ok;
    QTest::newRow("slot 2, route to 0")
        << 2 << QByteArray() << false << hx("0100") << refused(badLink, 1);
    QTest::newRow("slot 2, route through port 2")
        << 2 << QByteArray() << false << hx("0202") << refused(badLink, 1);
    QTest::newRow("slot 2, longer route")
        << 2 << QByteArray() << false << hx("01020100") << refused(badLink, 2);
    QTest::newRow("slot 2, slot as a long address")
        << 2 << QByteArray() << false << hx("11010200") << refused(badLink, 2);
    QTest::newRow("bridge, module in slot 2") << -1 << ip << false << bridged << ok;
    QTest::newRow("bridge, processor slot 3")
        << 3 << ip << false << hx("01051208") + ip + hx("0103") << ok;
    QTest::newRow("bridge, processor in the wrong slot")
        << 3 << ip << false << bridged << refused(badLink, 7);
    QTest::newRow("bridge, other address")
        << -1 << QByteArray("10.0.0.8") << false << bridged << refused(badLink, 7);
    QTest::newRow("bridge, route to the local slot")
        << -1 << ip << false << hx("0100") << refused(badLink, 1);
    QTest::newRow("direct refuses any route")
        << -1 << QByteArray() << true << hx("0100") << refused(0x0311, 1);
    QTest::newRow("bridge, truncated route")
        << -1 << ip << false << hx("01021208") << refused(badLink, 2);
}

void TestSimFrames::routesUnderPolicy()
{
    QFETCH(int, slot);
    QFETCH(QByteArray, bridge);
    QFETCH(bool, direct);
    QFETCH(QByteArray, route);
    QFETCH(QByteArray, reply);
    qsim::FrameOptions options;
    options.cip.route.slot = slot;
    options.cip.route.bridge = bridge;
    options.cip.route.direct = direct;
    qsim::SessionTable sessions;
    const quint32 h = registered(sessions);
    const QByteArray request = sendRR(h, routedVia(readTag(sym("DintTag"), 1), route));
    QCOMPARE(cipOf(qsim::handleFrame(request, sessions, db, options).reply).toHex(), reply.toHex());
    // The bare request reaches the controller's own Message Router whatever the setup.
    QCOMPARE(
        cipOf(qsim::handleFrame(sendRR(h, readTag(sym("DintTag"), 1)), sessions, db, options).reply)
            .toHex(),
        QByteArray("cc000000c4002a000000"));
}

void TestSimFrames::connectionManager_data()
{
    QTest::addColumn<int>("maxSize");
    QTest::addColumn<int>("slot");
    QTest::addColumn<bool>("direct");
    QTest::addColumn<int>("refuse"); // 1: no Large Forward Open, 2: no Forward Open at all
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    const QByteArray toSlot0 = hx("010020022401");
    const QByteArray triad = hx("0700 3412 efcdab89");
    auto opened = [](const char *service, const QByteArray &otId) {
        return hx(service) + hx("0000") + otId + hx("44332211 0700 3412 efcdab89") +
               hx("80841e00 80841e00 0000");
    };
    const QByteArray firstId = hx("91f44525");
    QTest::newRow("large forward open, 4002 bytes")
        << 4002 << -1 << false << 0 << forwardOpen(true, 7, 0x42000FA2, 0x42000FA2, toSlot0)
        << opened("db00", firstId);
    QTest::newRow("large forward open, 4003 bytes")
        << 4002 << -1 << false << 0 << forwardOpen(true, 7, 0x42000FA3, 0x42000FA2, toSlot0)
        << hx("db000102 0901 a20f") + triad + hx("0000");
    QTest::newRow("large forward open over a smaller maximum")
        << 1000 << -1 << false << 0 << forwardOpen(true, 7, 0x420001F4, 0x420003E9, toSlot0)
        << hx("db000102 0901 e803") + triad + hx("0000");
    QTest::newRow("forward open, 511 bytes")
        << 4002 << -1 << false << 0 << forwardOpen(false, 7, 0x43FF, 0x43FF, toSlot0)
        << opened("d400", firstId);
    QTest::newRow("forward open over a maximum of 400")
        << 400 << -1 << false << 0 << forwardOpen(false, 7, 0x43F4, 0x4300, toSlot0)
        << hx("d4000102 0901 9001") + triad + hx("0000");
    QTest::newRow("transport class 1")
        << 4002 << -1 << false << 0 << forwardOpen(false, 7, 0x43F4, 0x43F4, toSlot0, 0x81)
        << hx("d4000101 0301") + triad + hx("0000");
    QTest::newRow("path ends at the Connection Manager")
        << 4002 << -1 << false << 0 << forwardOpen(false, 7, 0x43F4, 0x43F4, hx("010020062401"))
        << hx("d4000101 1503") + triad + hx("0300");
    QTest::newRow("path without a target")
        << 4002 << -1 << false << 0 << forwardOpen(false, 7, 0x43F4, 0x43F4, hx("0100"))
        << hx("d4000101 1503") + triad + hx("0100");
    QTest::newRow("slot 2, route to slot 0")
        << 4002 << 2 << false << 0 << forwardOpen(false, 7, 0x43F4, 0x43F4, toSlot0)
        << hx("d4000101 1203") + triad + hx("0300");
    QTest::newRow("slot 2, route to slot 2")
        << 4002 << 2 << false << 0 << forwardOpen(false, 7, 0x43F4, 0x43F4, hx("010220022401"))
        << opened("d400", firstId);
    QTest::newRow("direct, with a route")
        << 4002 << -1 << true << 0 << forwardOpen(false, 7, 0x43F4, 0x43F4, toSlot0)
        << hx("d4000101 1103") + triad + hx("0300");
    QTest::newRow("direct, to the Message Router only")
        << 4002 << -1 << true << 0 << forwardOpen(false, 7, 0x43F4, 0x43F4, hx("20022401"))
        << opened("d400", firstId);
    QTest::newRow("large forward open refused")
        << 4002 << -1 << false << 1 << forwardOpen(true, 7, 0x42000FA2, 0x42000FA2, toSlot0)
        << hx("db000800");
    QTest::newRow("forward open kept while only the large one is refused")
        << 4002 << -1 << false << 1 << forwardOpen(false, 7, 0x43F4, 0x43F4, toSlot0)
        << opened("d400", firstId);
    QTest::newRow("no forward open at all")
        << 4002 << -1 << false << 2 << forwardOpen(false, 7, 0x43F4, 0x43F4, toSlot0)
        << hx("d4000800");
    QTest::newRow("forward open cut short")
        << 4002 << -1 << false << 0 << forwardOpen(false, 7, 0x43F4, 0x43F4, toSlot0).left(40)
        << hx("d4001300");
    QTest::newRow("forward open inside an unconnected send")
        << 4002 << -1 << false << 0 << routed(forwardOpen(false, 7, 0x43F4, 0x43F4, toSlot0))
        << hx("d4000800");
    QTest::newRow("forward close of nothing")
        << 4002 << -1 << false << 0 << forwardClose(7, toSlot0)
        << hx("ce000101 0701") + triad + hx("0000");
}

void TestSimFrames::connectionManager()
{
    QFETCH(int, maxSize);
    QFETCH(int, slot);
    QFETCH(bool, direct);
    QFETCH(int, refuse);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    qsim::ConnectionTable connections;
    qsim::FrameOptions options;
    options.cip.client.connections = &connections;
    options.cip.maxConnectionSize = maxSize;
    options.cip.route.slot = slot;
    options.cip.route.direct = direct;
    options.cip.largeForwardOpen = refuse == 0;
    options.cip.forwardOpen = refuse < 2;
    qsim::SessionTable sessions;
    const quint32 h = registered(sessions);
    QCOMPARE(cipOf(qsim::handleFrame(sendRR(h, request), sessions, db, options).reply).toHex(),
             reply.toHex());
    QCOMPARE(connections.size(), openedId(reply) ? 1 : 0);
}

// Opening, duplicates, the limit, closing, idle time-out and the end of the
// client, with the time passed in.
void TestSimFrames::connectionLifecycle()
{
    qsim::ConnectionTable connections;
    qsim::FrameOptions options;
    options.cip.client.connections = &connections;
    options.cip.client.owner = 1;
    qsim::SessionTable sessions;
    const quint32 h = registered(sessions);
    const QByteArray path = hx("010020022401");
    auto cip = [&](const QByteArray &request) {
        return cipOf(qsim::handleFrame(sendRR(h, request), sessions, db, options).reply);
    };
    auto unit = [&](quint32 id) {
        return connectedCipOf(
            qsim::handleFrame(sendUnit(h, id, 1, readTag(sym("DintTag"), 1)), sessions, db, options)
                .reply);
    };

    QSet<quint32> ids;
    for (quint16 serial = 1; serial <= qsim::ConnectionTable::MaxConnections; ++serial)
        ids.insert(openedId(cip(forwardOpen(false, serial, 0x43F4, 0x43F4, path))));
    QCOMPARE(ids.size(), qsim::ConnectionTable::MaxConnections);
    QVERIFY(!ids.contains(0));
    QCOMPARE(cip(forwardOpen(false, 5, 0x43F4, 0x43F4, path)).mid(2, 4).toHex(),
             QByteArray("01010001"));
    QCOMPARE(cip(forwardOpen(false, 99, 0x43F4, 0x43F4, path)).mid(2, 4).toHex(),
             QByteArray("01011301"));
    QCOMPARE(cip(forwardClose(5, path)).toHex(), hx("ce000000 0500 3412 efcdab89 0000").toHex());
    QCOMPARE(cip(forwardClose(5, path)).mid(2, 4).toHex(), QByteArray("01010701"));
    const quint32 reopened = openedId(cip(forwardOpen(false, 5, 0x43F4, 0x43F4, path)));
    QVERIFY(reopened != 0 && !ids.contains(reopened)); // never an id used before
    QCOMPARE(unit(reopened).toHex(), QByteArray("cc000000c4002a000000"));

    // 2 s RPI x 4: idle for 8 s is still alive, a little longer is not.
    options.cip.client.nowMs = 8000;
    QCOMPARE(unit(reopened).toHex(), QByteArray("cc000000c4002a000000"));
    options.cip.client.nowMs = 16001;
    QCOMPARE(unit(reopened).toHex(), QByteArray("cc0001010701"));
    QCOMPARE(connections.size(), 0);

    // An override of the idle time, and connections end with their client.
    options.cip.client.connectionTimeoutMs = 50;
    const quint32 a = openedId(cip(forwardOpen(false, 1, 0x43F4, 0x43F4, path)));
    options.cip.client.nowMs += 50;
    QCOMPARE(unit(a).toHex(), QByteArray("cc000000c4002a000000"));
    options.cip.client.owner = 2; // another client cannot use it
    QCOMPARE(unit(a).toHex(), QByteArray("cc0001010701"));
    QCOMPARE(connections.dropOwner(1), 1);
    QCOMPARE(qsim::connectionTimeoutMs(2000000, 0), qint64(8000));
    QCOMPARE(qsim::connectionTimeoutMs(10000, 3), qint64(320));
    QCOMPARE(qsim::connectionTimeoutMs(500, 0), qint64(2));
}

// Connected replies are bounded by the T->O size: the CIP reply plus the
// sequence count fit it, in whole elements; connected requests reach the
// target itself, so routing and connection services are not there.
void TestSimFrames::connectedReplyParts_data()
{
    QTest::addColumn<quint32>("toParams");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("replyStart");
    QTest::addColumn<int>("replySize");

    QTest::newRow("4002 bytes: 998 DINTs a part")
        << 0x42000FA2u << readFrag(sym("BigArray"), 2000, 0) << hx("d2000600c400") << 6 + 3992;
    QTest::newRow("4002 bytes: last part") << 0x42000FA2u << readFrag(sym("BigArray"), 1000, 3992)
                                           << hx("d2000000c400e6030000") << 6 + 8;
    QTest::newRow("500 bytes: 123 DINTs")
        << 0x420001F4u << readTag(sym("BigArray"), 200) << hx("cc000600c4000000") << 6 + 492;
    QTest::newRow("500 bytes: 5 STRINGs in one part")
        << 0x420001F4u << readFrag(sym("Names"), 5, 0) << hx("d2000000a002ce0f") << 8 + 440;
    QTest::newRow("400 bytes: 4 STRINGs a part")
        << 0x42000190u << readFrag(sym("Names"), 5, 0) << hx("d2000600a002ce0f") << 8 + 352;
    QTest::newRow("100 bytes: part of a structure")
        << 0x42000064u << readTag(sym("Motor"), 1) << hx("cc000600a002018a") << 8 + 90;
    QTest::newRow("8 bytes: no room for a value")
        << 0x42000008u << readTag(sym("DintTag"), 1) << hx("cc001100") << 4;
    QTest::newRow("unconnected send is not for a connection")
        << 0x42000FA2u << routed(readTag(sym("DintTag"), 1)) << hx("d2000800") << 4;
    QTest::newRow("nor a forward open")
        << 0x42000FA2u << forwardOpen(false, 2, 0x43F4, 0x43F4, hx("20022401")) << hx("d4000800")
        << 4;
}

void TestSimFrames::connectedReplyParts()
{
    QFETCH(quint32, toParams);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, replyStart);
    QFETCH(int, replySize);
    qsim::ConnectionTable connections;
    qsim::FrameOptions options;
    options.cip.client.connections = &connections;
    qsim::SessionTable sessions;
    const quint32 h = registered(sessions);
    const quint32 id = openedId(cipOf(
        qsim::handleFrame(sendRR(h, forwardOpen(true, 1, 0x42000FA2, toParams, hx("20022401"))),
                          sessions, db, options)
            .reply));
    QVERIFY(id != 0);
    quint32 toId = 0;
    quint16 sequence = 0;
    const QByteArray reply = connectedCipOf(
        qsim::handleFrame(sendUnit(h, id, 0xBEEF, request), sessions, db, options).reply, &toId,
        &sequence);
    QCOMPARE(reply.left(replyStart.size()).toHex(), replyStart.toHex());
    QCOMPARE(reply.size(), replySize);
    QCOMPARE(toId, 0x11223344u);
    QCOMPARE(sequence, quint16(0xBEEF));
    QVERIFY(reply.size() + 2 <= int(toParams & 0xFFFF));
}

QTEST_GUILESS_MAIN(TestSimFrames)
#include "tst_simframes.moc"
