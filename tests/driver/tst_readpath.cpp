#include <QtTest>

#include "ByteOrder.h"
#include "LibQuorvex.h"
#include "MessageCapture.h"

namespace
{

// The reply to an unconnected request, echoing its session and context,
// with a Message Router reply of `service` | 0x80, status 0 and `data`.
QByteArray answerOf(const QByteArray &request, const QByteArray &data)
{
    const quint8 service = quint8(request.size() > 50 ? request.at(50) : 0) | 0x80;
    QByteArray mr;
    le::put8(mr, service);
    mr.append(QByteArray(3, '\0'));
    mr.append(data);
    QByteArray f = request.left(24);
    le::set16(f, 2, quint16(16 + mr.size()));
    f.replace(8, 4, QByteArray(4, '\0'));
    f.append(QByteArray::fromHex("000000000a0002000000 0000b200"));
    le::put16(f, quint16(mr.size()));
    return f + mr;
}

// The elements of a list in a variant, as texts.
QStringList elements(const QVariant &v)
{
    QStringList out;
    for (const QVariant &e : v.value<QVariantList>()) {
        if (e.userType() == QMetaType::Char)
            out.append(QString::number(int(e.value<char>())));
        else if (e.userType() == QMetaType::UChar)
            out.append(QString::number(int(e.value<unsigned char>())));
        else if (e.userType() == QMetaType::Bool)
            out.append(QString::number(int(e.toBool())));
        else
            out.append(e.toString());
    }
    return out;
}

// "1010": one text a bit.
QStringList bitTexts(const char *bits)
{
    QStringList out;
    for (const char *b = bits; *b; ++b)
        out << QString(QLatin1Char(*b));
    return out;
}

} // namespace

// Read and write paths that are decided before anything reaches a
// controller; exchanges with a controller are covered end to end.
class TestReadPath : public QObject
{
    Q_OBJECT

private slots:
    void refusedBeforeSending_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("status");
        QTest::newRow("empty name") << "" << int(DT_Int32) << 1 << int(LR_BadAddress);
        QTest::newRow("empty name wins over count 0")
            << "" << int(DT_Int32) << 0 << int(LR_BadAddress);
        QTest::newRow("count 0") << "Speed" << int(DT_Int32) << 0 << int(LR_BadCount);
        QTest::newRow("count negative") << "Speed" << int(DT_Int32) << -5 << int(LR_BadCount);
        QTest::newRow("count beyond 16 bits")
            << "Speed" << int(DT_Int32) << 65536 << int(LR_BadCount);
        QTest::newRow("type 0") << "Speed" << int(DT_None) << 1 << int(LR_UnsupportedType);
    }

    void refusedBeforeSending()
    {
        QFETCH(QString, name);
        QFETCH(int, type);
        QFETCH(int, count);
        QFETCH(int, status);
        LibQuorvex d;
        const QDateTime before = QDateTime::currentDateTime();
        const CLabelVariable v = d.ReadVariable(name, DataType(type), count);
        QCOMPARE(v.status, status);
        QCOMPARE(v.tagName, name);
        QCOMPARE(int(v.type), type);
        QCOMPARE(v.count, count);
        QCOMPARE(v.accessStatus, int(LR_Initial));
        QVERIFY(!v.values.isValid());
        // A refusal carries the time of the call.
        QVERIFY(v.timestamp.isValid());
        QVERIFY(v.timestamp >= before.addMSecs(-1));
    }

    void notConnected()
    {
        LibQuorvex d;
        CLabelVariable v = d.ReadVariable(QStringLiteral("Speed"), DT_Int32, 1);
        QCOMPARE(v.status, int(LR_NotConnected));
        QVERIFY(v.timestamp.isNull());
        // Type codes without a decoder still go to the link.
        v = d.ReadVariable(QStringLiteral("Speed"), DataType(13), 1);
        QCOMPARE(v.status, int(LR_NotConnected));
        v = d.ReadVariable(QStringLiteral("Speed"), DT_Double);
        QCOMPARE(v.status, int(LR_NotConnected));
        QCOMPARE(v.count, 1);
    }

    // What a reply's data type allows: the host's type when the bits are the
    // same, the reply's integers converted when only their width differs,
    // nothing otherwise (status 7, a warning naming both types).
    void replyTypeDecides_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("data"); // type code, then the value bytes
        QTest::addColumn<int>("status");
        QTest::addColumn<QStringList>("values");
        QTest::addColumn<QString>("warning");
        auto ok = [](const char *name, DataType type, int count, const char *hex,
                     const QStringList &values) {
            QTest::newRow(name) << int(type) << count << QByteArray::fromHex(hex) << 0 << values
                                << QString();
        };
        auto refused = [](const char *name, DataType type, int count, const char *hex,
                          const char *warning) {
            QTest::newRow(name) << int(type) << count << QByteArray::fromHex(hex) << 7
                                << QStringList() << QString::fromUtf8(warning);
        };
        ok("DINT as int32", DT_Int32, 1, "c400 2a000000", {"42"});
        ok("UDINT as int32: the same bits", DT_Int32, 1, "c800 ffffffff", {"-1"});
        ok("DINT as uint32: the same bits", DT_UInt32, 1, "c400 feffffff", {"4294967294"});
        ok("DWORD as uint32", DT_UInt32, 1, "d300 efbeadde", {"3735928559"});
        ok("WORD as int16", DT_Int16, 1, "d200 efbe", {"-16657"});
        ok("BYTE as uint8", DT_UInt8, 1, "d100 a5", {"165"});
        ok("LWORD as uint64", DT_UInt64, 1, "d400 efcdab8967452301", {"81985529216486895"});
        ok("REAL as float", DT_Float, 1, "ca00 0000c03f", {"1.5"});
        ok("LREAL as double", DT_Double, 1, "cb00 0000000000000240", {"2.25"});
        ok("DINT as int16, converted", DT_Int16, 1, "c400 2a000000", {"42"});
        ok("DINT array as int16, each element", DT_Int16, 3, "c400 0a000000 14000000 f6ffffff",
           {"10", "20", "-10"});
        ok("INT as int32", DT_Int32, 1, "c300 2efb", {"-1234"});
        ok("SINT as int64", DT_Int64, 1, "c200 fb", {"-5"});
        ok("USINT as int8 in range", DT_Int8, 1, "c600 7f", {"127"});
        ok("LINT -1 as int8", DT_Int8, 1, "c500 ffffffffffffffff", {"-1"});
        ok("LINT min as int64", DT_Int64, 1, "c500 0000000000000080", {"-9223372036854775808"});
        ok("INT min as int8 fits only at -128", DT_Int8, 2, "c300 80ff 7f00", {"-128", "127"});
        ok("UDINT max as uint64", DT_UInt64, 1, "c800 ffffffff", {"4294967295"});
        ok("BOOL as uint16", DT_UInt16, 1, "c100 ff", {"1"});
        ok("BOOL as bool", DT_Bool, 1, "c100 01", bitTexts("1000000000000000"));
        ok("DINT as bool: its bits", DT_Bool, 1, "c400 05000000", bitTexts("1010000000000000"));
        ok("STRING as string", DT_String, 1,
           "a002 ce0f 02000000 4869"
           "0000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
           "0000000000000000000000000000000000000000000000000000000000000000000000000000000",
           {"Hi"});
        // Texts: any structure of LEN and DATA, its size from the reply, and
        // short strings; a LEN the DATA cannot hold is a corrupt reply.
        ok("text type of 24 bytes", DT_String, 1,
           (QByteArray("a002 103f 03000000 616263") + QByteArray(34, '0')).constData(), {"abc"});
        ok("two short strings", DT_String, 2, "da00 02 6162 00", {"ab", ""});
        ok("short string", DT_String, 1, "da00 05 53686f7274", {"Short"});
        refused("LEN above the room", DT_String, 1,
                (QByteArray("a002 103f 15000000 ") + QByteArray(40, 'a')).constData(),
                "文本长度错误 127.0.0.1:0  T len = 1 index = 0 length = 21 limit = 20");
        refused("negative LEN", DT_String, 1,
                (QByteArray("a002 ce0f ffffffff ") + QByteArray(168, '0')).constData(),
                "index = 0 length = -1 limit = 82");
        refused("STRING cut short", DT_String, 1, "a002 ce0f 02000000 4869", "need = 90");
        refused("short string cut short", DT_String, 1, "da00 05 53686f", "need = 6");
        refused("SINT -5 as uint64", DT_UInt64, 1, "c200 fb",
                "数值超出范围 127.0.0.1:0  T len = 1 index = 0 value = -5 reply = 0x00c2 SINT "
                "asked = 10 DT_UInt64");
        refused("UINT 255 as int8, the second element", DT_Int8, 2, "c700 0100 ff00",
                "index = 1 value = 255 reply = 0x00c7 UINT asked = 2 DT_Int8");
        refused("INT -129 as int8", DT_Int8, 1, "c300 7fff", "index = 0 value = -129");
        refused("ULINT max as int32", DT_Int32, 1, "c900 ffffffffffffffff",
                "value = 18446744073709551615");
        refused("LINT as one byte", DT_Int8, 1, "c500 cb04fb711f010000",
                "value = 1234567890123 reply = 0x00c5 LINT asked = 2 DT_Int8");
        refused("DINT as float", DT_Float, 1, "c400 2a000000",
                "数据类型不符 127.0.0.1:0  T len = 1 reply = 0x00c4 DINT asked = 8 DT_Float");
        refused("REAL as int32", DT_Int32, 1, "ca00 0000c03f",
                "reply = 0x00ca REAL asked = 6 DT_Int32");
        refused("REAL as double", DT_Double, 1, "ca00 0000c03f",
                "reply = 0x00ca REAL asked = 11 DT_Double");
        refused("LREAL as float", DT_Float, 1, "cb00 0000000000000240",
                "reply = 0x00cb LREAL asked = 8 DT_Float");
        refused("REAL as bool", DT_Bool, 1, "ca00 0000c03f", "asked = 1 DT_Bool");
        refused("STRING as int32", DT_Int32, 1, "a002 ce0f 02000000 4869",
                "reply = 0x02a0 structure asked = 6 DT_Int32");
        refused("DINT as string", DT_String, 1, "c400 2a000000",
                "reply = 0x00c4 DINT asked = 12 DT_String");
        refused("unknown type code", DT_Int32, 1, "e000 2a000000", "reply = 0x00e0 0x00e0");
        refused("INT array short of its own type", DT_Int16, 2, "c300 0100",
                "报文数据长度不足 127.0.0.1:0  T len = 2 need = 4 msg : c3000100");
        refused("DINT short when converted", DT_Int16, 1, "c400 2a00", "need = 4");
        QTest::newRow("type 13: status 2 whatever came")
            << 13 << 1 << QByteArray::fromHex("ca000000c03f") << int(LR_UnsupportedType)
            << QStringList() << QString();
    }

    void replyTypeDecides()
    {
        QFETCH(int, type);
        QFETCH(int, count);
        QFETCH(QByteArray, data);
        QFETCH(int, status);
        QFETCH(QStringList, values);
        QFETCH(QString, warning);
        LibQuorvex d;
        d.link.sessionHandle = QByteArray::fromHex("11223344");
        d.link.hostAddress = QHostAddress(QHostAddress::LocalHost);
        int asked = 0;
        d.link.line().setStandIn([&](const QByteArray &request) {
            ++asked;
            return answerOf(request, data);
        });
        MessageCapture capture;
        const CLabelVariable v = d.ReadVariable(QStringLiteral("T"), DataType(type), count);
        QCOMPARE(asked, 1);
        QCOMPARE(v.status, status);
        QCOMPARE(elements(v.values), values);
        QCOMPARE(v.values.isValid(), status == 0);
        // A reply refused for its type is a rejected reply: no time.
        QCOMPARE(v.timestamp.isValid(), status != LR_LinkFailed);
        const QStringList warnings = capture.lines(QtWarningMsg);
        if (warning.isEmpty()) {
            QCOMPARE(warnings, QStringList());
        } else {
            QCOMPARE(warnings.size(), 1);
            QVERIFY2(warnings.first().contains(warning), qPrintable(warnings.first()));
        }
    }

    void writesOnlyLabel_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("count");
        QTest::newRow("int16 x3") << int(DT_Int16) << 3;
        QTest::newRow("count 0") << int(DT_Int32) << 0;
        QTest::newRow("type 0") << int(DT_None) << 1;
        QTest::newRow("type 40") << 40 << -2;
    }

    void writesOnlyLabel()
    {
        QFETCH(int, type);
        QFETCH(int, count);
        LibQuorvex d;
        CLabelVariable in;
        in.values = QVariant::fromValue(QList<int>{1, 2, 3});
        in.timestamp = QDateTime(QDate(2024, 3, 17), QTime(9, 5, 30));
        in.auxInt = 5;
        in.auxText = QStringLiteral("aux");
        in.accessStatus = 10;
        const CLabelVariable out =
            d.WriteVariable(QStringLiteral("Out"), DataType(type), in, count);
        QCOMPARE(out.tagName, QStringLiteral("Out"));
        QCOMPARE(int(out.type), type);
        QCOMPARE(out.count, count);
        QCOMPARE(out.status, int(LR_Initial));
        QCOMPARE(out.accessStatus, 10);
        QCOMPARE(out.values.value<QList<int>>(), (QList<int>{1, 2, 3}));
        QCOMPARE(out.timestamp, in.timestamp);
        QCOMPARE(out.auxInt, 5);
        QCOMPARE(out.auxText, QStringLiteral("aux"));
        // Nothing was opened for it.
        QVERIFY(!d.link.tcpSocket && !d.link.serialPort);
        QCOMPARE(d.WriteVariable(QStringLiteral("Out"), DataType(type), in).count, 1);
    }
};

QTEST_GUILESS_MAIN(TestReadPath)
#include "tst_readpath.moc"
