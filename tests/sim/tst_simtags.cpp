// Paths, fragmentation and tag files, through the CIP handler.
#include "SimFrames.h"

#include "CipService.h"
#include "TagDatabase.h"

#include <QtTest>

using namespace simtest;

namespace
{

QByteArray hx(const char *hex)
{
    return QByteArray::fromHex(hex);
}

QByteArray dints(std::initializer_list<qint32> values)
{
    QByteArray out;
    for (qint32 v : values)
        le::put32(out, static_cast<quint32>(v));
    return out;
}

} // namespace

class TestSimTags : public QObject
{
    Q_OBJECT

    qsim::TagDatabase db = qsim::defaultTags();

private slots:
    void paths_data();
    void paths();
    void partBoundary_data();
    void partBoundary();
    void wholeBigArrayInParts();
    void structuresAndArraysOfThem();
    void tagFileExample();
    void tagFileErrors_data();
    void tagFileErrors();
    void stringArrayPartsKeepWholeStructures();
    void writesOfBitsAndTexts_data();
    void writesOfBitsAndTexts();
    void toggledBitFlipsBeforeEveryRequest();
};

void TestSimTags::paths_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");

    QTest::newRow("8-bit index") << readTag(sym("DintArray") + el8(7), 1)
                                 << hx("cc000000c40046000000");
    QTest::newRow("16-bit index") << readTag(sym("BigArray") + el16(300), 1)
                                  << hx("cc000000c4002c010000");
    QTest::newRow("32-bit index") << readTag(sym("BigArray") + el32(19999), 1)
                                  << hx("cc000000c4001f4e0000");
    QTest::newRow("index 0x91 is a value, not a segment")
        << readTag(sym("BigArray") + el8(0x91), 1) << hx("cc000000c40091000000");
    QTest::newRow("negative INT element")
        << readTag(sym("IntArray") + el8(0), 1) << hx("cc000000c3006aff");
    QTest::newRow("REAL element") << readTag(sym("RealArray") + el8(3), 1)
                                  << hx("cc000000ca000000c03f");
    QTest::newRow("two dimensions")
        << readTag(sym("Grid") + el8(2) + el8(3), 1) << hx("cc000000c40017000000");
    QTest::newRow("two dimensions, count runs into the next row")
        << readFrag(sym("Grid") + el8(1) + el8(3), 3, 0)
        << hx("d2000000c400") + dints({13, 14, 20});
    QTest::newRow("three dimensions, mixed widths")
        << readTag(sym("Cube") + el8(1) + el16(2) + el32(3), 1) << hx("cc000000c3007b00");
    QTest::newRow("leading index only")
        << readTag(sym("Grid") + el8(3), 1) << hx("cc000000c4001e000000");
    QTest::newRow("member") << readTag(sym("Motor") + sym("Temp"), 1) << hx("cc000000ca0000001242");
    QTest::newRow("member of an array element")
        << readTag(sym("Motors") + el8(2) + sym("Rpm"), 1) << hx("cc000000c400b0040000");
    QTest::newRow("array member of an array element")
        << readFrag(sym("Motors") + el8(1) + sym("Limits") + el8(2), 2, 0)
        << hx("d2000000c400") + dints({13, 14});
    QTest::newRow("array member") << readTag(sym("Cfg") + sym("Limits") + el8(3), 1)
                                  << hx("cc000000c40067000000");
    QTest::newRow("three levels deep")
        << readTag(sym("Cfg") + sym("Inner") + sym("Deep") + sym("Code"), 1)
        << hx("cc000000c40063000000");
    QTest::newRow("INT member") << readTag(sym("Cfg") + sym("Inner") + sym("Level"), 1)
                                << hx("cc000000c3000700");
    QTest::newRow("nested structure")
        << readTag(sym("Cfg") + sym("Inner"), 1) << hx("cc000000a002038a0700000063000000");
    QTest::newRow("STRING member of an array element")
        << readTag(sym("Motors") + el8(0) + sym("Name") + sym("DATA") + el8(5), 1)
        << hx("cc000000c20041");
}

void TestSimTags::paths()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QCOMPARE(qsim::handleCip(request, db).toHex(), reply.toHex());
}

// 120 DINTs are exactly one reply's worth of value bytes.
void TestSimTags::partBoundary_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<bool>("fragmented");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("valueBytes");

    QTest::newRow("119 elements, fragmented") << 119 << true << 0x00 << 476;
    QTest::newRow("120 elements, fragmented") << 120 << true << 0x00 << 480;
    QTest::newRow("121 elements, fragmented") << 121 << true << 0x06 << 480;
    QTest::newRow("120 elements, read tag") << 120 << false << 0x00 << 480;
    QTest::newRow("121 elements, read tag") << 121 << false << 0x06 << 480;
}

void TestSimTags::partBoundary()
{
    QFETCH(int, count);
    QFETCH(bool, fragmented);
    QFETCH(int, status);
    QFETCH(int, valueBytes);
    const QByteArray path = sym("BigArray") + el8(5);
    const QByteArray reply =
        qsim::handleCip(fragmented ? readFrag(path, count, 0) : readTag(path, count), db);
    QCOMPARE(reply.left(6).toHex(), QByteArray(fragmented ? "d200" : "cc00") +
                                        QByteArray::number(status, 16).rightJustified(2, '0') +
                                        "00c400");
    QCOMPARE(reply.size(), 6 + valueBytes);
    QCOMPARE(le::getPadded(reply, 6, 4), quint64(5));
    QCOMPARE(le::getPadded(reply, reply.size() - 4, 4), quint64(5 + valueBytes / 4 - 1));
    if (status == 0x06) {
        // The rest follows at the byte offset where this part ended.
        const QByteArray rest = qsim::handleCip(readFrag(path, count, 480), db);
        QCOMPARE(rest.toHex(), (hx("d2000000c400") + dints({5 + 120})).toHex());
    }
}

void TestSimTags::wholeBigArrayInParts()
{
    QByteArray values;
    int parts = 0;
    for (quint32 offset = 0; parts < 1000; ++parts) {
        const QByteArray reply = qsim::handleCip(readFrag(sym("BigArray"), 20000, offset), db);
        QVERIFY2(reply.size() > 6, reply.toHex().constData());
        QCOMPARE(reply.mid(3, 3).toHex(), QByteArray("00c400"));
        values += reply.mid(6);
        offset += static_cast<quint32>(reply.size() - 6);
        if (static_cast<quint8>(reply.at(2)) == cip::Success)
            break;
        QCOMPARE(int(static_cast<quint8>(reply.at(2))), int(cip::PartialTransfer));
    }
    QCOMPARE(parts + 1, (80000 + 479) / 480);
    QCOMPARE(values.size(), 80000);
    for (int i = 0; i < 20000; ++i)
        QCOMPARE(le::getPadded(values, 4 * i, 4), quint64(i));
}

void TestSimTags::structuresAndArraysOfThem()
{
    const QByteArray motor = qsim::handleCip(readTag(sym("Motor"), 1), db);
    QCOMPARE(motor.left(8).toHex(), QByteArray("cc000000a002018a"));
    QCOMPARE(motor.size(), 8 + 112);
    const QByteArray m = motor.mid(8);
    QCOMPARE(m.left(8).toHex(), QByteArray("dc05000000001242"));        // Rpm, Temp
    QCOMPARE(m.mid(8, 10).toHex(), QByteArray("0600000050756d702d31")); // "Pump-1"
    QCOMPARE(m.mid(96).toHex(), dints({10, 20, 30, 40}).toHex());

    const QByteArray motors = qsim::handleCip(readFrag(sym("Motors") + el8(1), 2, 0), db);
    QCOMPARE(motors.left(8).toHex(), QByteArray("d2000000a002018a"));
    QCOMPARE(motors.size(), 8 + 2 * 112);
    QCOMPARE(le::getPadded(motors, 8, 4), quint64(1100));
    QCOMPARE(le::getPadded(motors, 8 + 112, 4), quint64(1200));
    QCOMPARE(motors.mid(8 + 112 + 12, 6), QByteArray("Pump-C"));

    const QByteArray cfg = qsim::handleCip(readTag(sym("Cfg"), 1), db);
    QCOMPARE(cfg.toHex(),
             (hx("cc000000a002028a") + dints({100, 101, 102, 103, 104, 105, 106, 107}) +
              hx("0000403f") + hx("07000000") + dints({99}))
                 .toHex());
}

void TestSimTags::tagFileExample()
{
    qsim::TagDatabase file;
    QString error;
    QVERIFY2(qsim::loadTagFile(QStringLiteral(QUORVEX_SOURCE_DIR "/sim/example-tags.json"), &file,
                               &error),
             qPrintable(error));
    auto read = [&file](const QByteArray &request) {
        return qsim::handleCip(request, file).toHex();
    };
    QCOMPARE(read(readTag(sym("Counter"), 1)), QByteArray("cc000000c40007000000"));
    QCOMPARE(read(readTag(sym("Total"), 1)), QByteArray("cc000000c900000008c5a1d8ccf9"));
    QCOMPARE(read(readTag(sym("Running"), 1)), QByteArray("cc000000c10001"));
    QCOMPARE(read(readTag(sym("Matrix") + el8(1) + el8(0), 1)), QByteArray("cc000000c40004000000"));
    QCOMPARE(read(readFrag(sym("Flags"), 2, 0)), QByteArray("d2000000d3000f00000000000080"));
    QCOMPARE(read(readFrag(sym("Alarms"), 2, 0)), QByteArray("d2000000d3000900000000000000"));
    QCOMPARE(read(readTag(sym("Station"), 1)),
             QByteArray("cc000000a002203f07000000507265737320340000000000"));
    QCOMPARE(read(readTag(sym("Code"), 1)), QByteArray("cc000000da0004412d3137"));
    QCOMPARE(read(readTag(sym("Samples") + el8(3), 1)), QByteArray("cc000000c300fcff"));
    // ValveType: Open @0, Position @4, Label @8 (88), History INT[5] @96, size 108.
    QCOMPARE(read(readTag(sym("Line") + sym("Valves") + el8(0) + sym("History") + el8(4), 1)),
             QByteArray("cc000000c3000500"));
    QCOMPARE(read(readTag(sym("Line") + sym("Valves") + el8(1) + sym("Label"), 1)).left(30),
             QByteArray("cc000000a002ce0f03000000562d32"));
    const QByteArray line = qsim::handleCip(readTag(sym("Line"), 1), file);
    QCOMPARE(line.left(8).toHex(), QByteArray("cc000000a0020291"));
    QCOMPARE(line.size(), 8 + 4 + 2 * 108);
}

void TestSimTags::tagFileErrors_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("mentions");

    QTest::newRow("not JSON") << QByteArray("{tags") << "JSON";
    QTest::newRow("no tag list") << QByteArray("{}") << "tags";
    QTest::newRow("unknown type") << QByteArray(R"({"tags":[{"name":"A","type":"QWORD"}]})")
                                  << "QWORD";
    QTest::newRow("value out of range")
        << QByteArray(R"({"tags":[{"name":"A","type":"SINT","value":128}]})") << "A";
    QTest::newRow("fraction for an integer")
        << QByteArray(R"({"tags":[{"name":"A","type":"DINT","value":1.5}]})") << "A";
    QTest::newRow("too many values")
        << QByteArray(R"({"tags":[{"name":"A","type":"DINT","dims":[2],"value":[1,2,3]}]})") << "A";
    QTest::newRow("four dimensions")
        << QByteArray(R"({"tags":[{"name":"A","type":"DINT","dims":[2,2,2,2]}]})") << "dims";
    QTest::newRow("duplicate tag")
        << QByteArray(R"({"tags":[{"name":"A","type":"DINT"},{"name":"a","type":"INT"}]})")
        << "\"a\"";
    QTest::newRow("too large")
        << QByteArray(R"({"tags":[{"name":"A","type":"LREAL","dims":[1000,1000,1000]}]})") << "A";
    QTest::newRow("unknown member")
        << QByteArray(R"({"types":[{"name":"T","handle":1,"members":[{"name":"X","type":"INT"}]}],
                         "tags":[{"name":"A","type":"T","value":{"Y":1}}]})")
        << "Y";
    QTest::newRow("bad handle")
        << QByteArray(R"({"types":[{"name":"T","handle":"0x10000","members":[]}],"tags":[]})")
        << "handle";
}

void TestSimTags::tagFileErrors()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, mentions);
    qsim::TagDatabase file;
    QString error;
    QVERIFY(!qsim::loadTagJson(json, &file, &error));
    QVERIFY2(error.contains(mentions), qPrintable(error));
}

void TestSimTags::stringArrayPartsKeepWholeStructures()
{
    qsim::TagDatabase file;
    QString error;
    QVERIFY2(qsim::loadTagJson(R"({"tags":[{"name":"S","type":"STRING","dims":[12],
                                "value":["a","b","c","d","e","f","g","h","i","j","k","l"]}]})",
                               &file, &error),
             qPrintable(error));
    const int expected[] = {440, 440, 176};
    quint32 offset = 0;
    for (int part = 0; part < 3; ++part) {
        const QByteArray reply = qsim::handleCip(readFrag(sym("S"), 12, offset), file);
        QCOMPARE(reply.left(8).toHex(),
                 QByteArray(part < 2 ? "d2000600a002ce0f" : "d2000000a002ce0f"));
        QCOMPARE(reply.size() - 8, expected[part]);
        QCOMPARE(reply.at(8 + 4), char('a' + offset / 88));
        offset += static_cast<quint32>(reply.size() - 8);
    }
}

// Read-Modify-Write on every integer kind, text types and the short string:
// the request's reply, then what a read returns.
void TestSimTags::writesOfBitsAndTexts_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QByteArray>("read");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<bool>("rmw"); // the controller has Read-Modify-Write
    auto rmw = [](const QByteArray &path, const char *masks) {
        return cipRequest(cip::ReadModifyWrite, path, hx(masks));
    };
    auto row = [](const char *name, const QByteArray &request, const char *reply,
                  const QByteArray &read, const char *after, bool enabled = true) {
        QTest::newRow(name) << request << hx(reply) << read << hx(after) << enabled;
    };
    row("SINT bit 2 set", rmw(sym("SintTag"), "0100 04 ff"), "ce000000", readTag(sym("SintTag"), 1),
        "cc000000c200ff");
    row("USINT bit 7 cleared", rmw(sym("UsintTag"), "0100 00 7f"), "ce000000",
        readTag(sym("UsintTag"), 1), "cc000000c60048");
    row("INT bits set and cleared at once", rmw(sym("IntTag"), "0200 0100 ff7f"), "ce000000",
        readTag(sym("IntTag"), 1), "cc000000c3002f7b");
    row("DINT bit 0 set, bit 1 cleared", rmw(sym("DintTag"), "0400 01000000 fdffffff"), "ce000000",
        readTag(sym("DintTag"), 1), "cc000000c40029000000");
    row("LINT bit 63 set", rmw(sym("LintTag"), "0800 0000000000000080 ffffffffffffffff"),
        "ce000000", readTag(sym("LintTag"), 1), "cc000000c500cb04fb711f010080");
    row("DWORD bit 31 cleared", rmw(sym("DwordTag"), "0400 00000000 ffffff7f"), "ce000000",
        readTag(sym("DwordTag"), 1), "cc000000d300efbead5e");
    row("BOOL array word 1 bit 1 cleared", rmw(sym("BoolArray") + el8(1), "0400 00000000 fdffffff"),
        "ce000000", readFrag(sym("BoolArray"), 2, 0), "d2000000d3004992244990244992");
    row("element of an array", rmw(sym("DintArray") + el8(3), "0400 01000000 ffffffff"), "ce000000",
        readTag(sym("DintArray") + el8(3), 1), "cc000000c4001f000000");
    row("member", rmw(sym("Motor") + sym("Rpm"), "0400 00000000 fbffffff"), "ce000000",
        readTag(sym("Motor") + sym("Rpm"), 1), "cc000000c400d8050000");
    row("masks of another size", rmw(sym("DintTag"), "0200 0100 ffff"), "ce001300",
        readTag(sym("DintTag"), 1), "cc000000c4002a000000");
    row("masks cut short", rmw(sym("DintTag"), "0400 01000000 ffff"), "ce001300",
        readTag(sym("DintTag"), 1), "cc000000c4002a000000");
    row("a REAL has no bits", rmw(sym("RealTag"), "0400 01000000 ffffffff"), "ce00ff010721",
        readTag(sym("RealTag"), 1), "cc000000ca000000c03f");
    row("a BOOL has none", rmw(sym("BoolTag"), "0100 01 ff"), "ce00ff010721",
        readTag(sym("BoolTag"), 1), "cc000000c10001");
    row("a structure has none", rmw(sym("Motor"), "0400 01000000 ffffffff"), "ce00ff010721",
        readTag(sym("DintTag"), 1), "cc000000c4002a000000");
    row("unknown tag", rmw(sym("Nope"), "0400 01000000 ffffffff"), "ce000500",
        readTag(sym("DintTag"), 1), "cc000000c4002a000000");
    row("no Read-Modify-Write", rmw(sym("DintTag"), "0400 01000000 ffffffff"), "ce000800",
        readTag(sym("DintTag"), 1), "cc000000c4002a000000", false);
    // Forward Close keeps its code on the Connection Manager.
    row("0x4E to the Connection Manager is Forward Close",
        cipRequest(cip::ForwardClose, hx("20062401"), hx("0af0 0100 3412 78563412 0000")),
        "ce000101070101003412785634120000", readTag(sym("DintTag"), 1), "cc000000c4002a000000");
    row("short string", cipRequest(cip::WriteTag, sym("ShortText"), hx("da00 0100 02 4869")),
        "cd000000", readTag(sym("ShortText"), 1), "cc000000da00024869");
    row("short string empty", cipRequest(cip::WriteTag, sym("ShortText"), hx("da00 0100 00")),
        "cd000000", readTag(sym("ShortText"), 1), "cc000000da0000");
    row("short string longer than its length byte",
        cipRequest(cip::WriteTag, sym("ShortText"), hx("da00 0100 01 4869")), "cd001300",
        readTag(sym("ShortText"), 1), "cc000000da000553686f7274");
    row("text type of its own handle",
        cipRequest(cip::WriteTag, sym("Text8"), hx("a002113f 0100 03000000 6f6e65 0000000000")),
        "cd000000", readTag(sym("Text8"), 1), "cc000000a002113f030000006f6e650000000000");
    row("text type under the STRING handle",
        cipRequest(cip::WriteTag, sym("Text8"), hx("a002ce0f 0100 03000000 6f6e65 0000000000")),
        "cd00ff010721", readTag(sym("Text8"), 1), "cc000000a002113f060000004569676874210000");
}

void TestSimTags::writesOfBitsAndTexts()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, reply);
    QFETCH(QByteArray, read);
    QFETCH(QByteArray, after);
    QFETCH(bool, rmw);
    qsim::TagDatabase store = qsim::defaultTags();
    qsim::CipOptions options;
    options.store = &store;
    options.readModifyWrite = rmw;
    QCOMPARE(qsim::handleCip(request, store, options).toHex(), reply.toHex());
    QCOMPARE(qsim::handleCip(read, store, options).toHex(), after.toHex());
}

void TestSimTags::toggledBitFlipsBeforeEveryRequest()
{
    qsim::TagDatabase store = qsim::defaultTags();
    QString error;
    QVERIFY(!store.setToggle(QStringLiteral("DintTag.32"), &error));
    QVERIFY(!store.setToggle(QStringLiteral("Nope.1"), &error));
    QVERIFY2(store.setToggle(QStringLiteral("dinttag.8"), &error), qPrintable(error));
    qsim::CipOptions options;
    options.store = &store;
    // Reads, writes and Read-Modify-Write alike: 42 ^ 256 each time.
    const QByteArray read = readTag(sym("DintTag"), 1);
    QCOMPARE(qsim::handleCip(read, store, options).toHex(), QByteArray("cc000000c4002a010000"));
    QCOMPARE(qsim::handleCip(read, store, options).toHex(), QByteArray("cc000000c4002a000000"));
    QCOMPARE(qsim::handleCip(cipRequest(cip::ReadModifyWrite, sym("IntTag"), hx("0200 0000 ffff")),
                             store, options)
                 .toHex(),
             QByteArray("ce000000"));
    QCOMPARE(qsim::handleCip(read, store, options).toHex(), QByteArray("cc000000c4002a000000"));
}

QTEST_GUILESS_MAIN(TestSimTags)
#include "tst_simtags.moc"
