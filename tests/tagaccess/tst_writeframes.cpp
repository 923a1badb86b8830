#include <QtTest>

#include "LibQuorvex.h"
#include "Messaging.h"
#include "ReadFrames.h"
#include "TagAddress.h"
#include "WriteEncoding.h"
#include "WriteFrames.h"

// A host value through the whole write encoding, as the controller receives
// it: element type to CIP type, values to bytes, the address to its request
// path, the data to Write Tag or to parts of Write Tag Fragmented.

namespace
{

template <typename T> QVariant listOf(std::initializer_list<T> items)
{
    return QVariant::fromValue(QList<T>(items));
}

const int Unconnected = messaging::unconnectedLimits(route::Route()).request;

QVariant shorts(int n)
{
    QList<short> l;
    for (int i = 0; i < n; ++i)
        l.append(short(i));
    return QVariant::fromValue(l);
}

} // namespace

class TestWriteFrames : public QObject
{
    Q_OBJECT

private slots:
    void requests_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("count");
        QTest::addColumn<QVariant>("values");
        QTest::addColumn<int>("maxRequest");
        QTest::addColumn<int>("part");       // which request to show; -1: the framed first
        QTest::addColumn<int>("status");     // of the encoding
        QTest::addColumn<QByteArray>("hex"); // the request, or the frame
        auto row = [&](const char *name, const char *tag, DataType type, int count,
                       const QVariant &v, const char *hex, int part = 0, int max = Unconnected) {
            QTest::newRow(name) << tag << int(type) << count << v << max << part << 0
                                << QByteArray::fromHex(hex);
        };
        auto refused = [&](const char *name, DataType type, int count, const QVariant &v,
                           int status) {
            QTest::newRow(name) << "T" << int(type) << count << v << Unconnected << 0 << status
                                << QByteArray();
        };
        row("bool", "T", DT_Bool, 1, listOf<bool>({true}), "4d02 91015400 c100 0100 01");
        row("two bools", "T", DT_Bool, 2, listOf<bool>({true, false}),
            "4d02 91015400 c100 0200 0100");
        row("int8", "T", DT_Int8, 1, listOf<char>({-1}), "4d02 91015400 c200 0100 ff");
        row("uint8", "T", DT_UInt8, 1, listOf<unsigned char>({200}), "4d02 91015400 c600 0100 c8");
        row("int16", "T", DT_Int16, 1, listOf<short>({-2}), "4d02 91015400 c300 0100 feff");
        row("uint16", "T", DT_UInt16, 1, listOf<unsigned short>({65535}),
            "4d02 91015400 c700 0100 ffff");
        row("uint32", "T", DT_UInt32, 1, listOf<unsigned int>({0x01020304}),
            "4d02 91015400 c800 0100 04030201");
        row("float", "T", DT_Float, 1, listOf<float>({1.5f}), "4d02 91015400 ca00 0100 0000c03f");
        row("int64", "T", DT_Int64, 1, listOf<long long>({-2}),
            "4d02 91015400 c500 0100 feffffffffffffff");
        row("uint64", "T", DT_UInt64, 1, listOf<unsigned long long>({0x0102030405060708ULL}),
            "4d02 91015400 c900 0100 0807060504030201");
        row("double", "T", DT_Double, 1, listOf<double>({2.25}),
            "4d02 91015400 cb00 0100 0000000000000240");
        row("only count elements are taken", "T", DT_Int16, 2, listOf<short>({1, 2, 3}),
            "4d02 91015400 c300 0200 0100 0200");
        row("DINT 42 to DintTag", "DintTag", DT_Int32, 1, listOf<int>({42}),
            "4d05 910744696e7454616700 c400 0100 2a000000");
        row("INT array of 3", "IntArray", DT_Int16, 3, listOf<short>({1, -2, 300}),
            "4d05 9108496e744172726179 c300 0300 0100feff2c01");
        row("text Hi", "StringTag", DT_String, 1, listOf<QString>({"Hi"}),
            "4d06 9109537472696e6754616700 a002ce0f 0100 02000000 4869 "
            "00000000000000000000000000000000000000000000000000000000000000000000000000000000"
            "00000000000000000000000000000000000000000000000000000000000000000000000000000000"
            "0000");
        row("member", "Motor.Rpm", DT_Int32, 1, listOf<int>({1500}),
            "4d07 91054d6f746f7200 910352706d00 c400 0100 dc050000");
        row("two dimensions", "Grid[1,2]", DT_Int32, 1, listOf<int>({-1}),
            "4d05 910447726964 2801 2802 c400 0100 ffffffff");
        // 13 INTs do not fit 40 bytes; the parts hold 10 and 3 of them.
        row("fragmented, first part", "IntArray", DT_Int16, 13, shorts(13),
            "5305 9108496e744172726179 c300 0d00 00000000 0000010002000300040005000600070008000900",
            0, 40);
        row("fragmented, second part", "IntArray", DT_Int16, 13, shorts(13),
            "5305 9108496e744172726179 c300 0d00 14000000 0a000b000c00", 1, 40);
        row("12 INTs fit one request of 40", "IntArray", DT_Int16, 12, shorts(12),
            "4d05 9108496e744172726179 c300 0c00 000001000200030004000500060007000800090"
            "00a000b00",
            0, 40);
        row("framed, padded to an even size", "T", DT_Bool, 1, listOf<bool>({true}),
            "6f002a00 11223344 00000000 0000000000000000 00000000 00000000 0a00 0200 0000 0000 "
            "b200 1a00 5202 20062401 0af0 0b00 4d0291015400c100010001 00 01000100",
            -1);
        refused("type 0", DT_None, 1, listOf<int>({1}), LR_UnsupportedType);
        refused("type 13", DataType(13), 1, listOf<int>({1}), LR_UnsupportedType);
        refused("int list for int16", DT_Int16, 1, listOf<int>({1}), LR_WrongElementType);
        refused("no list", DT_Int32, 1, QVariant(), LR_WrongElementType);
        refused("fewer values than count", DT_Int32, 3, listOf<int>({1, 2}), LR_IndexOutOfRange);
        refused("83-byte text", DT_String, 1, listOf<QString>({QString(83, 'x')}),
                LR_WrongElementType);
        refused("28 characters, 84 UTF-8 bytes", DT_String, 1,
                listOf<QString>({QString(28, QChar(0x6E29))}), LR_WrongElementType);
    }

    void requests()
    {
        QFETCH(QString, tag);
        QFETCH(int, type);
        QFETCH(int, count);
        QFETCH(QVariant, values);
        QFETCH(int, maxRequest);
        QFETCH(int, part);
        QFETCH(int, status);
        QFETCH(QByteArray, hex);
        const writeencoding::Encoded e = writeencoding::encode(DataType(type), values, count);
        QCOMPARE(e.status, status);
        if (status != 0) {
            QVERIFY(e.data.isEmpty());
            return;
        }
        const QString area = tagaddress::areaString(tag);
        const QByteArray path = tagread::requestPath(area, tagread::firstNameLength(tag, area));
        QList<QByteArray> sent;
        const tagwrite::WriteOutcome o =
            tagwrite::writeTag(path, e.typeBytes, quint16(count), e.data, e.elementSize, maxRequest,
                               [&](const QByteArray &request, QByteArray &reply) {
                                   sent << request;
                                   reply = QByteArray::fromHex("00000000");
                                   reply[0] = char(quint8(request.at(0)) | 0x80);
                                   return 0;
                               });
        QCOMPARE(o.rc, 0);
        QCOMPARE(o.written, qint64(e.data.size()));
        for (const QByteArray &r : sent)
            QVERIFY(r.size() <= maxRequest);
        const QByteArray shown = part < 0
                                     ? messaging::unconnectedFrame(QByteArray::fromHex("11223344"),
                                                                   route::Route(), sent.value(0))
                                     : sent.value(part);
        QCOMPARE(shown.toHex(), hex.toHex());
    }

    // Read-Modify-Write of a bit: masks of the integer's width, the bit set
    // in the OR mask or cleared in the AND mask, every other bit kept.
    void readModifyWriteRequests_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("value");
        QTest::addColumn<QByteArray>("hex");
        auto row = [](const char *address, int width, bool value, const char *hex) {
            QTest::newRow(address) << address << width << value << QByteArray::fromHex(hex);
        };
        row("SintTag.7", 1, true, "4e05 910753696e7454616700 0100 80 ff");
        row("SintTag.0", 1, false, "4e05 910753696e7454616700 0100 00 fe");
        row("IntTag.15", 2, false, "4e04 9106496e74546167 0200 0000 ff7f");
        row("DintTag.0", 4, true, "4e05 910744696e7454616700 0400 01000000 ffffffff");
        row("DintTag.31", 4, false, "4e05 910744696e7454616700 0400 00000000 ffffff7f");
        row("LintTag.63", 8, true,
            "4e05 91074c696e7454616700 0800 0000000000000080 ffffffffffffffff");
        row("LintTag.32", 8, false,
            "4e05 91074c696e7454616700 0800 0000000000000000 fffffffffeffffff");
        // bit 37 of a BOOL array: bit 5 of word 1
        row("BoolArray[37]", 4, true, "4e07 9109426f6f6c4172726179002801 0400 20000000 ffffffff");
        row("Motors[2].Rpm.9", 4, true,
            "4e08 91064d6f746f72732802910352706d00 0400 00020000 ffffffff");
    }

    void readModifyWriteRequests()
    {
        QFETCH(QString, address);
        QFETCH(int, width);
        QFETCH(bool, value);
        QFETCH(QByteArray, hex);
        const tagaddress::Address a = tagaddress::parse(address);
        LibQuorvex d;
        const LibQuorvex::BitTarget t =
            a.bit >= 0 ? LibQuorvex::BitTarget{a.area, a.arrayArea, a.index, quint64(a.bit), width}
                       : d.boolArrayBit(a);
        const quint64 bit = quint64(1) << t.firstBit;
        const quint64 all = width == 8 ? ~quint64(0) : (quint64(1) << (8 * width)) - 1;
        const QByteArray request = tagwrite::readModifyWriteRequest(
            tagread::requestPath(t.area, tagread::firstNameLength(address, t.area)),
            tagwrite::mask(value ? bit : 0, width),
            tagwrite::mask(value ? all : all & ~bit, width));
        QCOMPARE(request.toHex(), hex.toHex());
    }

    // A type mismatch (0xFF/0x2107) of an integer is sent once more as the
    // bit string of its width; other refusals and other types are final.
    void typeMismatchResentAsBitString_data()
    {
        QTest::addColumn<QByteArray>("type");
        QTest::addColumn<QByteArray>("replies"); // one general status byte a request
        QTest::addColumn<QByteArray>("sentTypes");
        QTest::addColumn<int>("rc");
        QTest::newRow("UDINT then DWORD")
            << QByteArray::fromHex("c800") << QByteArray::fromHex("ff00")
            << QByteArray::fromHex("c800d300") << 0;
        QTest::newRow("SINT then BYTE")
            << QByteArray::fromHex("c200") << QByteArray::fromHex("ff00")
            << QByteArray::fromHex("c200d100") << 0;
        QTest::newRow("INT then WORD, refused too")
            << QByteArray::fromHex("c300") << QByteArray::fromHex("ffff")
            << QByteArray::fromHex("c300d200") << -1;
        QTest::newRow("ULINT then LWORD")
            << QByteArray::fromHex("c900") << QByteArray::fromHex("ff00")
            << QByteArray::fromHex("c900d400") << 0;
        QTest::newRow("REAL has no bit string")
            << QByteArray::fromHex("ca00") << QByteArray::fromHex("ff")
            << QByteArray::fromHex("ca00") << -1;
        QTest::newRow("BOOL has none") << QByteArray::fromHex("c100") << QByteArray::fromHex("ff")
                                       << QByteArray::fromHex("c100") << -1;
        QTest::newRow("another refusal is final")
            << QByteArray::fromHex("c400") << QByteArray::fromHex("05")
            << QByteArray::fromHex("c400") << -1;
    }

    void typeMismatchResentAsBitString()
    {
        QFETCH(QByteArray, type);
        QFETCH(QByteArray, replies);
        QFETCH(QByteArray, sentTypes);
        QFETCH(int, rc);
        const QByteArray path = QByteArray::fromHex("91015400");
        QByteArray sent;
        int n = 0;
        const tagwrite::WriteOutcome o = tagwrite::writeTag(
            path, type, 1, QByteArray(8, '\x11'), 8, Unconnected,
            [&](const QByteArray &request, QByteArray &reply) {
                sent += request.mid(2 + path.size(), 2);
                const quint8 status = quint8(replies.at(n++));
                reply = QByteArray::fromHex(status == 0xFF ? "cd00ff010721" : "cd000000");
                reply[2] = char(status);
                return 0;
            });
        QCOMPARE(sent.toHex(), sentTypes.toHex());
        QCOMPARE(o.rc, rc);
        QCOMPARE(o.parts, sentTypes.size() / 2);
    }
};

QTEST_GUILESS_MAIN(TestWriteFrames)
#include "tst_writeframes.moc"
