#include "PcapFile.h"

#include "EipProtocol.h"
#include "ForwardOpen.h"
#include "Pcap.h"
#include "RawClient.h"
#include "TraceTap.h"
#include "UnitData.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace tools;

namespace
{

QByteArray recordHeader(int size)
{
    QByteArray h(8, '\0');
    le::put32(h, quint32(size));
    le::put32(h, quint32(size));
    return h;
}

} // namespace

// The pcap writer, the reading of the driver's trace lines that feed it,
// and where the raw client puts the fragment offset.
class TstCliPcap : public QObject
{
    Q_OBJECT

private slots:
    void globalHeader();
    void checksum_data();
    void checksum();
    void packetHeaders();
    void writerKeepsOneTcpStream();
    void traceLines_data();
    void traceLines();
    void tapCapturesAndKeepsWarnings();
    void fragmentOffset_data();
    void fragmentOffset();
    void connectedFramesDissect_data();
    void connectedFramesDissect();
};

void TstCliPcap::globalHeader()
{
    QCOMPARE(pcap::globalHeader(),
             QByteArray::fromHex("d4c3b2a1020004000000000000000000ffff000001000000"));
}

void TstCliPcap::checksum_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<int>("sum");
    // RFC 1071's example sums to ddf2, so its checksum is 220d.
    QTest::newRow("rfc 1071 example") << QByteArray::fromHex("0001f203f4f5f6f7") << 0x220d;
    QTest::newRow("odd length pads with zero") << QByteArray::fromHex("0001f203f4f5f6") << 0x2304;
    QTest::newRow("carry folds back") << QByteArray::fromHex("ffffffff0001") << 0xfffe;
    // A well-known IPv4 header whose checksum field holds b861.
    QTest::newRow("ipv4 header") << QByteArray::fromHex("450000730000400040110000c0a80001c0a800c7")
                                 << 0xb861;
}

void TstCliPcap::checksum()
{
    QFETCH(QByteArray, data);
    QFETCH(int, sum);
    QCOMPARE(int(pcap::internetChecksum(data)), sum);
}

void TstCliPcap::packetHeaders()
{
    pcap::Segment s;
    s.srcIp = 0x7F000001;
    s.dstIp = 0xC0000202;
    s.srcPort = pcap::ClientTcpPort;
    s.dstPort = pcap::EnipTcpPort;
    s.seq = 0x01020304;
    s.ack = 0x0A0B0C0D;
    s.flags = pcap::Psh | pcap::Ack;
    s.ipId = 7;
    s.payload = QByteArray::fromHex("65000400000000000000000001000000000000000000000001000000");
    const QByteArray p = pcap::packet(s);
    QCOMPARE(p.size(), 14 + 20 + 20 + s.payload.size());

    const pcaptest::File f = pcaptest::parse(pcap::globalHeader() + recordHeader(p.size()) + p);
    QVERIFY2(f.ok, qPrintable(f.error));
    const pcaptest::Record &r = f.records.first();
    QCOMPARE(r.srcIp, s.srcIp);
    QCOMPARE(r.dstIp, s.dstIp);
    QCOMPARE(r.srcPort, quint16(50000));
    QCOMPARE(r.dstPort, quint16(44818));
    QCOMPARE(r.seq, s.seq);
    QCOMPARE(r.ack, s.ack);
    QCOMPARE(r.flags, quint8(0x18));
    QCOMPARE(int(r.ipTotal), 20 + 20 + s.payload.size());
    QCOMPARE(r.payload, s.payload);
    // A correct checksum makes the sum over the covered bytes come out 0.
    QCOMPARE(int(pcap::internetChecksum(p.mid(14, 20))), 0);
    QByteArray pseudo = p.mid(26, 8) + QByteArray::fromHex("0006");
    pseudo.append(char(0));
    pseudo.append(char(20 + s.payload.size()));
    QCOMPARE(int(pcap::internetChecksum(pseudo + p.mid(34))), 0);
}

void TstCliPcap::writerKeepsOneTcpStream()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("t.pcap");
    PcapWriter w;
    QString error;
    QVERIFY(w.open(path, &error));
    w.setEndpoints(0x7F000001, 0x7F000001);
    const QByteArray req(28, 'a'), rep(28, 'b'), big(3000, 'c'), small(50, 'd');
    const qint64 t0 = 1700000000LL * 1000000 + 999999;
    w.write(true, req, t0);
    w.write(false, rep, t0 + 1);
    w.write(true, big, t0 + 2);
    w.write(false, small, t0 + 3);
    w.write(false, QByteArray(), t0 + 4); // nothing came: nothing written
    QCOMPARE(w.framesWritten(), 4);
    w.close();

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const pcaptest::File f = pcaptest::parse(file.readAll());
    QVERIFY2(f.ok, qPrintable(f.error));
    QCOMPARE(f.magic, 0xA1B2C3D4u);
    QCOMPARE(f.major, quint16(2));
    QCOMPARE(f.minor, quint16(4));
    QCOMPARE(f.linktype, 1u);
    // Handshake, then the frames; 3000 bytes take three segments.
    QCOMPARE(f.records.size(), 3 + 1 + 1 + 3 + 1);
    QCOMPARE(f.records[0].flags, quint8(pcap::Syn));
    QCOMPARE(f.records[1].flags, quint8(pcap::Syn | pcap::Ack));
    QCOMPARE(f.records[2].flags, quint8(pcap::Ack));
    QCOMPARE(f.records[0].sec, 1700000000u);
    QCOMPARE(f.records[0].usec, 999999u);
    QCOMPARE(f.records[4].sec, 1700000001u);
    QCOMPARE(f.records[4].usec, 0u);

    quint32 nextClient = f.records[0].seq + 1, nextController = f.records[1].seq + 1;
    QCOMPARE(f.records[1].ack, nextClient);
    QByteArray toController, fromController;
    for (int i = 3; i < f.records.size(); ++i) {
        const pcaptest::Record &r = f.records[i];
        const bool up = r.dstPort == pcap::EnipTcpPort;
        QCOMPARE(r.seq, up ? nextClient : nextController);
        QCOMPARE(r.ack, up ? nextController : nextClient);
        QVERIFY(r.payload.size() <= pcap::MaxSegment);
        (up ? nextClient : nextController) += quint32(r.payload.size());
        (up ? toController : fromController) += r.payload;
    }
    QCOMPARE(toController, req + big);
    QCOMPARE(fromController, rep + small);
}

void TstCliPcap::traceLines_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("frame");
    QTest::addColumn<bool>("toController");
    QTest::addColumn<QByteArray>("bytes");

    const QByteArray reg =
        QByteArray::fromHex("65000400000000000000000001000000000000000000000001000000");
    QTest::newRow("register request")
        << QString("lib[Quorvex]读命令 127.0.0.1:44818 msg : ") + reg.toHex() << true << true
        << reg;
    QTest::newRow("register reply") << QString("lib[Quorvex]响应 127.0.0.1:44818 msg : 6500")
                                    << true << false << QByteArray::fromHex("6500");
    QTest::newRow("read request")
        << QString("lib[Quorvex]读命令 127.0.0.1:44818  A:x len = 1 msg : 6f00") << true << true
        << QByteArray::fromHex("6f00");
    QTest::newRow("read reply")
        << QString("lib[Quorvex]读响应 127.0.0.1:44818  Tag len = 3 msg : 6F00CC") << true << false
        << QByteArray::fromHex("6f00cc");
    QTest::newRow("no reply came")
        << QString("lib[Quorvex]读响应 127.0.0.1:44818  T len = 1 msg : ") << false << false
        << QByteArray();
    QTest::newRow("warning with a dump")
        << QString("lib[Quorvex]报文返回长度错误 127.0.0.1:44818  T len = 1 msg : 6f00") << false
        << false << QByteArray();
    QTest::newRow("someone else's line")
        << QString("other 读命令 msg : 6f00") << false << false << QByteArray();
    QTest::newRow("odd hex") << QString("lib[Quorvex]读命令 1:2 msg : 6f0") << false << false
                             << QByteArray();
    QTest::newRow("not hex") << QString("lib[Quorvex]读命令 1:2 msg : 6x00") << false << false
                             << QByteArray();
}

void TstCliPcap::traceLines()
{
    QFETCH(QString, line);
    QFETCH(bool, frame);
    TraceFrame f;
    QCOMPARE(parseTraceFrame(line, &f), frame);
    if (frame) {
        QFETCH(bool, toController);
        QFETCH(QByteArray, bytes);
        QCOMPARE(f.toController, toController);
        QCOMPARE(f.bytes, bytes);
    }
}

void TstCliPcap::tapCapturesAndKeepsWarnings()
{
    TraceTap &tap = TraceTap::instance();
    const QString refusedA = "lib[Quorvex]报文返回状态错误 1:2  A len = 1 status = 0x05 msg : 0304";
    const QString refusedB = "lib[Quorvex]报文返回状态错误 1:2  B len = 1 status = 0x04 msg : 0304";
    tap.handle(QtWarningMsg, "lib[Quorvex]1:2 Disconnected=-1"); // outside any call
    tap.beginCall(false);
    tap.setCapture(true);
    tap.handle(QtDebugMsg, "lib[Quorvex]读命令 1:2  T len = 1 msg : 0102");
    tap.handle(QtDebugMsg, "lib[Quorvex]读响应 1:2  T len = 1 msg : 0304");
    tap.handle(QtWarningMsg, refusedA);
    tap.setCapture(false);
    tap.handle(QtDebugMsg, "lib[Quorvex]读命令 1:2  T len = 1 msg : 0506");
    const QList<TraceFrame> got = tap.takeCaptured();
    QCOMPARE(got.size(), 2);
    QVERIFY(got[0].toController);
    QCOMPARE(got[1].bytes, QByteArray::fromHex("0304"));
    // Each call keeps its own warnings, trace lines only when asked.
    QCOMPARE(tap.endCall(), QStringList{refusedA});
    tap.beginCall(true);
    tap.handle(QtDebugMsg, "lib[Quorvex]读命令 1:2  B len = 1 msg : 0708");
    tap.handle(QtWarningMsg, refusedB);
    QCOMPARE(tap.endCall(),
             (QStringList{"lib[Quorvex]读命令 1:2  B len = 1 msg : 0708", refusedB}));
    tap.handle(QtWarningMsg, refusedA);
    tap.beginCall(false);
    QCOMPARE(tap.endCall(), QStringList());
}

void TstCliPcap::fragmentOffset_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("position");
    const QByteArray head = QByteArray::fromHex(
        "6f003000b179379e00000000000000000000000000000000000000000a00020000000000b2002000");
    // BigArray, 200 elements, inside an Unconnected Send, as the driver sent it.
    QTest::newRow("inside unconnected send")
        << head + QByteArray::fromHex(
                      "5202200624010af01200520591084269674172726179c8000000000001000100")
        << 24;
    QTest::newRow("bare read tag fragmented")
        << head + QByteArray::fromHex("520291024142c80000000000") << 8;
    QTest::newRow("read tag has no offset")
        << head + QByteArray::fromHex("5202200624010af00e004c05910744696e7454616700010001000100")
        << -1;
    QTest::newRow("cut short before the offset")
        << head + QByteArray::fromHex("520291024142c800000000") << -1;
    QTest::newRow("no cip message") << head.left(30) << -1;
    QTest::newRow("bare read tag fragmented over a connection")
        << unitdata::frame(QByteArray(4, '\1'), 0x11223344, 7,
                           QByteArray::fromHex("520291024142c80000000000"))
        << 8;
}

void TstCliPcap::fragmentOffset()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, position);
    QCOMPARE(fragmentOffsetPosition(messageRouterRequest(frame)), position);
}

// The driver's connection frames, with replies written by hand, as a
// dissector written by others reads them. Requests and replies alternate.
void TstCliPcap::connectedFramesDissect_data()
{
    QTest::addColumn<QList<QByteArray>>("frames");
    QTest::addColumn<QStringList>("shows");
    const QByteArray session = QByteArray::fromHex("11223344");
    auto rr = [&](const char *length, const char *item, const char *mr) {
        return QByteArray::fromHex(QByteArray("6f00") + length +
                                   "11223344 00000000 0000000000000000 00000000 00000000 0000 "
                                   "0200 0000 0000 b200" +
                                   item + mr);
    };
    const QByteArray read = QByteArray::fromHex("4c04 9103427566002807 0100");
    connmgr::OpenRequest open;
    open.toConnectionId = 0xA1B2C3D4;
    open.serial = 0x1234;
    QTest::newRow("open, read on the connection, close")
        << QList<QByteArray>{messaging::sendRRData(session, connmgr::forwardOpenRequest(open)),
                             rr("2e00", "1e00",
                                "d4000000 0df00d60 d4c3b2a1 3412 feff 01005651 "
                                "80841e00 80841e00 00 00"),
                             unitdata::frame(session, 0x600DF00D, 1, read),
                             QByteArray::fromHex("70002000 11223344 00000000 0000000000000000 "
                                                 "00000000 00000000 0000 0200 a100 0400 d4c3b2a1 "
                                                 "b100 0c00 0100 cc000000 c4002a000000"),
                             messaging::sendRRData(
                                 session, connmgr::forwardCloseRequest({0x1234, route::Route()})),
                             rr("1e00", "0e00", "ce000000 3412 feff 01005651 00 00")}
        // Both unit data frames are matched to the Forward Open, frame 4
        // after the TCP handshake.
        << QStringList{"Forward Open (Response)", "Forward Open Request In: 4",
                       "Forward Open Request In: 4", "Forward Close (Response)"};

    connmgr::OpenRequest large;
    large.large = true;
    large.toConnectionId = 0x01020304;
    large.serial = 1;
    large.connectionSize = connmgr::LargeConnectionSize;
    QVERIFY(route::parseRoute("1,2,2,10.0.0.7,1,0", &large.route));
    QTest::newRow("large forward open")
        << QList<QByteArray>{messaging::sendRRData(session, connmgr::forwardOpenRequest(large)),
                             rr("2e00", "1e00",
                                "db000000 0df00d60 04030201 0100 feff 01005651 "
                                "80841e00 80841e00 00 00")}
        << QStringList{"Large Forward Open (Response)", "Connection Size: 4002"};

    route::Route bridged;
    QVERIFY(route::parseRoute("1,2,2,10.0.0.7,300,10.0.0.17,18,5", &bridged));
    QTest::newRow("routed read, wide ports")
        << QList<QByteArray>{messaging::unconnectedFrame(session, bridged, read),
                             rr("1a00", "0a00", "cc000000 c4002a000000")}
        << QStringList{"Port Extended: 0x012c", "Port Extended: 0x0012"};
}

void TstCliPcap::connectedFramesDissect()
{
    QFETCH(QList<QByteArray>, frames);
    QFETCH(QStringList, shows);
    const QString tshark = QStandardPaths::findExecutable("tshark");
    if (tshark.isEmpty())
        QSKIP("tshark is not installed");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath("connected.pcap");
    PcapWriter w;
    QString error;
    QVERIFY2(w.open(path, &error), qPrintable(error));
    qint64 usec = 1700000000LL * 1000000;
    for (int i = 0; i < frames.size(); ++i)
        w.write(i % 2 == 0, frames[i], usec += 1000);
    w.close();

    QProcess t;
    t.start(tshark, {"-r", path, "-V", "-d", "tcp.port==44818,enip"});
    QVERIFY(t.waitForFinished(60000));
    QCOMPARE(t.exitCode(), 0);
    const QString out = QString::fromUtf8(t.readAllStandardOutput());
    QStringList complaints;
    for (const QString &line : out.split('\n')) {
        if (line.contains("Malformed") || line.contains("Expert Info (Warning") ||
            line.contains("Expert Info (Error"))
            complaints << line.trimmed();
    }
    QVERIFY2(complaints.isEmpty(), qPrintable(complaints.join('\n')));
    for (const QString &text : shows)
        QVERIFY2(out.count(text) >= shows.count(text), qPrintable(text));
}

QTEST_GUILESS_MAIN(TstCliPcap)
#include "tst_clipcap.moc"
