#include "Explain.h"
#include "StatusText.h"
#include "TagRequest.h"
#include "ValueText.h"

#include <QtTest>
#include <limits>

using namespace tools;

Q_DECLARE_METATYPE(CLabelVariable)

// TAG:TYPE:COUNT arguments and the text forms of read results.
class TstCliFormat : public QObject
{
    Q_OBJECT

private slots:
    void tagRequest_data();
    void tagRequest();
    void jsonLine_data();
    void jsonLine();
    void failedReadJson();
    void shortList_data();
    void shortList();
    void timestampCarriesOffset();
    void everyStatusHasWords();
    void boolValuesShown_data();
    void boolValuesShown();
    void cipStatusInWords_data();
    void cipStatusInWords();
    void driverLineInWords_data();
    void driverLineInWords();
    void connectFailureInWords_data();
    void connectFailureInWords();
};

void TstCliFormat::tagRequest_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("errorPart");

    QTest::newRow("tag alone: int32, one") << "DintTag" << true << "DintTag" << 6 << 1 << "";
    QTest::newRow("type name") << "RealTag:float" << true << "RealTag" << 8 << 1 << "";
    QTest::newRow("type name in capitals") << "X:UINT64" << true << "X" << 10 << 1 << "";
    QTest::newRow("type code") << "X:11" << true << "X" << 11 << 1 << "";
    QTest::newRow("name and count") << "Big:int32:5000" << true << "Big" << 6 << 5000 << "";
    QTest::newRow("code and count") << "Names:12:5" << true << "Names" << 12 << 5 << "";
    QTest::newRow("every name: bool") << "a:bool" << true << "a" << 1 << 1 << "";
    QTest::newRow("every name: int8") << "a:int8" << true << "a" << 2 << 1 << "";
    QTest::newRow("every name: uint8") << "a:uint8" << true << "a" << 3 << 1 << "";
    QTest::newRow("every name: int16") << "a:int16" << true << "a" << 4 << 1 << "";
    QTest::newRow("every name: uint16") << "a:uint16" << true << "a" << 5 << 1 << "";
    QTest::newRow("every name: uint32") << "a:uint32" << true << "a" << 7 << 1 << "";
    QTest::newRow("every name: int64") << "a:int64" << true << "a" << 9 << 1 << "";
    QTest::newRow("every name: double") << "a:double" << true << "a" << 11 << 1 << "";
    QTest::newRow("every name: string") << "a:string" << true << "a" << 12 << 1 << "";
    QTest::newRow("paths pass as they are")
        << "Motors[1].Name:string" << true << "Motors[1].Name" << 12 << 1 << "";
    QTest::newRow("program tag keeps its scope")
        << "Program:Main.Steps[1]:int16:2" << true << "Program:Main.Steps[1]" << 4 << 2 << "";
    QTest::newRow("program tag alone")
        << "Program:Main.Local" << true << "Program:Main.Local" << 6 << 1 << "";
    QTest::newRow("largest count") << "a:int32:65535" << true << "a" << 6 << 65535 << "";

    QTest::newRow("empty argument") << "" << false << "" << 0 << 0 << "empty";
    QTest::newRow("empty tag with type") << ":int32" << false << "" << 0 << 0 << "empty";
    QTest::newRow("blank tag") << "  :int32:2" << false << "" << 0 << 0 << "empty";
    QTest::newRow("bad type") << "a:integer" << false << "" << 0 << 0 << "unknown type";
    QTest::newRow("empty type") << "a:" << false << "" << 0 << 0 << "unknown type";
    QTest::newRow("type code 0") << "a:0" << false << "" << 0 << 0 << "unknown type";
    QTest::newRow("type code 13") << "a:13" << false << "" << 0 << 0 << "unknown type";
    QTest::newRow("count 0") << "a:int32:0" << false << "" << 0 << 0 << "count";
    QTest::newRow("negative count") << "a:int32:-3" << false << "" << 0 << 0 << "count";
    QTest::newRow("count not a number") << "a:int32:many" << false << "" << 0 << 0 << "count";
    QTest::newRow("count too large") << "a:int32:65536" << false << "" << 0 << 0 << "count";
    QTest::newRow("empty count") << "a:int32:" << false << "" << 0 << 0 << "count";
    QTest::newRow("too many parts") << "a:int32:2:9" << false << "" << 0 << 0 << "TAG[:TYPE";
}

void TstCliFormat::tagRequest()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    TagRequest s;
    QString error;
    QCOMPARE(parseTagRequest(text, &s, &error), ok);
    if (ok) {
        QFETCH(QString, tag);
        QFETCH(int, type);
        QFETCH(int, count);
        QCOMPARE(s.tag, tag);
        QCOMPARE(int(s.type), type);
        QCOMPARE(s.count, count);
        QCOMPARE(typeFromText(typeName(type)), type);
    } else {
        QFETCH(QString, errorPart);
        QVERIFY2(error.contains(errorPart), qPrintable(error));
        QVERIFY2(error.contains(text), "the message names the argument");
    }
}

namespace
{

CLabelVariable value(DataType type, const QVariant &values, const QString &tag = "T")
{
    CLabelVariable v;
    v.status = 0;
    v.type = type;
    v.values = values;
    v.tagName = tag;
    v.count = 1;
    v.timestamp = QDateTime(QDate(2024, 3, 17), QTime(9, 5, 30, 123), Qt::OffsetFromUTC, 3600);
    return v;
}

} // namespace

void TstCliFormat::jsonLine_data()
{
    QTest::addColumn<CLabelVariable>("v");
    QTest::addColumn<QString>("values");
    QTest::addColumn<QString>("extra"); // keys between the values and the time

    QTest::newRow("int32") << value(DT_Int32, QVariant::fromValue(QList<int>{42, -7})) << "42,-7"
                           << "";
    QTest::newRow("int8 is a number, not a character")
        << value(DT_Int8, QVariant::fromValue(QList<char>{char(-5), 'A'})) << "-5,65"
        << "";
    QTest::newRow("uint8") << value(DT_UInt8, QVariant::fromValue(QList<unsigned char>{200}))
                           << "200"
                           << "";
    QTest::newRow("uint64 keeps every digit")
        << value(DT_UInt64, QVariant::fromValue(QList<unsigned long long>{18000000000000000000ULL}))
        << "18000000000000000000"
        << "";
    QTest::newRow("int64 minimum")
        << value(DT_Int64,
                 QVariant::fromValue(QList<long long>{std::numeric_limits<long long>::min()}))
        << "-9223372036854775808"
        << "";
    QTest::newRow("float shortest form")
        << value(DT_Float, QVariant::fromValue(QList<float>{1.5f, 0.1f})) << "1.5,0.1"
        << "";
    QTest::newRow("double shortest form")
        << value(DT_Double, QVariant::fromValue(QList<double>{2.25, 0.1})) << "2.25,0.1"
        << "";
    QTest::newRow("non-finite is null")
        << value(DT_Float, QVariant::fromValue(
                               QList<float>{std::numeric_limits<float>::infinity(), std::nanf("")}))
        << "null,null"
        << "";
    // A BOOL read of n brings 8 (n + 1) bits: the n asked for are shown.
    QTest::newRow("bool, padding bits said")
        << value(DT_Bool, QVariant::fromValue(QList<bool>{true, false})) << "true"
        << "\"padding_bits\":1,";
    QTest::newRow("texts escaped")
        << value(DT_String,
                 QVariant::fromValue(QList<QString>{"Hello, PLC", "a\"b\\c\n", QString(QChar(1))}))
        << "\"Hello, PLC\",\"a\\\"b\\\\c\\n\",\"\\u0001\""
        << "";
}

void TstCliFormat::jsonLine()
{
    QFETCH(CLabelVariable, v);
    QFETCH(QString, values);
    QFETCH(QString, extra);
    const QString expected =
        QStringLiteral("{\"tag\":\"T\",\"type\":\"%1\",\"count\":1,\"status\":0,"
                       "\"values\":[%2],%3"
                       "\"timestamp\":\"2024-03-17T09:05:30.123+01:00\"}")
            .arg(typeName(v.type), values, extra);
    QCOMPARE(tools::jsonLine(v), expected);
    // Whatever is in it, the line is valid JSON.
    QJsonParseError e;
    QJsonDocument::fromJson(tools::jsonLine(v).toUtf8(), &e);
    QCOMPARE(e.error, QJsonParseError::NoError);
}

void TstCliFormat::failedReadJson()
{
    CLabelVariable v; // as the read path leaves a failed read: no values, no time
    v.status = 7;
    v.tagName = "Tag\"x";
    v.type = DT_Int16;
    v.count = 3;
    QCOMPARE(tools::jsonLine(v), QStringLiteral("{\"tag\":\"Tag\\\"x\",\"type\":\"int16\","
                                                "\"count\":3,\"status\":7,\"values\":[],"
                                                "\"timestamp\":null}"));
    // A type code without a name still makes valid JSON.
    v.type = static_cast<DataType>(13);
    QVERIFY(tools::jsonLine(v).contains("\"type\":\"type 13\""));
}

void TstCliFormat::shortList_data()
{
    QTest::addColumn<int>("n");
    QTest::addColumn<QString>("expected");
    QTest::newRow("short list whole") << 3 << "0, 1, 2";
    QTest::newRow("at the limit whole") << 8 << "0, 1, 2, 3, 4, 5, 6, 7";
    QTest::newRow("longer list cut") << 9 << "0, 1, 2, 3, 4, 5, ..., 7, 8 (9 values)";
    QTest::newRow("empty") << 0 << "";
}

void TstCliFormat::shortList()
{
    QFETCH(int, n);
    QFETCH(QString, expected);
    QStringList l;
    for (int i = 0; i < n; ++i)
        l << QString::number(i);
    QCOMPARE(tools::shortList(l), expected);
}

void TstCliFormat::timestampCarriesOffset()
{
    QCOMPARE(isoTimestamp(QDateTime()), QString());
    const QDateTime local = QDateTime::currentDateTime();
    const QString t = isoTimestamp(local);
    QVERIFY2(QRegularExpression(
                 "^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}(Z|[+-]\\d\\d:\\d\\d)$")
                 .match(t)
                 .hasMatch(),
             qPrintable(t));
    QCOMPARE(QDateTime::fromString(t, Qt::ISODateWithMs), local);
}

void TstCliFormat::everyStatusHasWords()
{
    for (const int s : {0, 1, 2, 3, 4, 7, 8, 9})
        QVERIFY(statusMeaning(s) != statusMeaning(-100));
    for (const int r : {-1, -3, -4})
        QVERIFY(connectMeaning(r) != connectMeaning(-100));
}

namespace
{

CLabelVariable bits(int count, int unpacked)
{
    CLabelVariable v;
    v.type = DT_Bool;
    v.count = count;
    QList<bool> l;
    for (int i = 0; i < unpacked; ++i)
        l << (i % 3 == 0);
    v.values = QVariant::fromValue(l);
    return v;
}

} // namespace

void TstCliFormat::boolValuesShown_data()
{
    QTest::addColumn<CLabelVariable>("v");
    QTest::addColumn<int>("padding");
    QTest::addColumn<QString>("cell");
    QTest::newRow("one of 16") << bits(1, 16) << 15 << "true (+15 padding bits)";
    QTest::newRow("three of 32") << bits(3, 32) << 29 << "true, false, false (+29 padding bits)";
    QTest::newRow("ten of 88, shortened")
        << bits(10, 88) << 78
        << "true, false, false, true, false, false, ..., false, true (10 values) (+78 padding "
           "bits)";
    QTest::newRow("fewer than asked: all shown") << bits(4, 2) << 0 << "true, false";
    QTest::newRow("count 0: all shown") << bits(0, 3) << 0 << "true, false, false";
}

void TstCliFormat::boolValuesShown()
{
    QFETCH(CLabelVariable, v);
    QFETCH(int, padding);
    QFETCH(QString, cell);
    QCOMPARE(boolPadding(v), padding);
    QCOMPARE(valuesCell(v), cell);
    QCOMPARE(elementTexts(v, TextStyle::Json).size(),
             qvariant_cast<QList<bool>>(v.values).size() - padding);
}

void TstCliFormat::cipStatusInWords_data()
{
    QTest::addColumn<QString>("general");
    QTest::addColumn<QString>("ext");
    QTest::addColumn<QString>("text");
    QTest::newRow("no such tag") << "0x05"
                                 << "none"
                                 << "0x05 path destination unknown: no such tag or member";
    QTest::newRow("beyond the end") << "0xff"
                                    << "0x2105"
                                    << "0xFF/0x2105 index beyond the end: an index or count past "
                                       "the end of the tag";
    QTest::newRow("type mismatch") << "0xff"
                                   << "0x2107"
                                   << "0xFF/0x2107 data type mismatch: the tag has another type; "
                                      "leave :TYPE out to take the controller's";
    QTest::newRow("wrong slot") << "0x01"
                                << "0x0312"
                                << "0x01/0x0312 link address not valid: check slot= or path=";
    QTest::newRow("service") << "0x08"
                             << "none"
                             << "0x08 service not supported";
    QTest::newRow("connection size with the largest")
        << "0x01"
        << "0x0109,0x01f4"
        << "0x01/0x0109 invalid connection size: the controller takes at most 500 bytes";
    QTest::newRow("unnamed extended status")
        << "0xff"
        << "0x1234"
        << "0xFF/0x1234 general error (extended status 0x1234)";
    QTest::newRow("unnamed general status") << "0x77"
                                            << "none"
                                            << "0x77 (a status without a name here)";
    QTest::newRow("no status: nothing said") << "none"
                                             << "none"
                                             << "";
}

void TstCliFormat::cipStatusInWords()
{
    QFETCH(QString, general);
    QFETCH(QString, ext);
    QFETCH(QString, text);
    QCOMPARE(cipStatusText(general, ext), text);
}

void TstCliFormat::driverLineInWords_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("text");
    const QString at = "lib[Quorvex]";
    const QString tag = " 127.0.0.1:44818  Tag len = 1 ";
    QTest::newRow("read refused")
        << at + "报文返回状态错误" + tag + "status = 0x05 ext = none msg : 00"
        << "the controller refused the read: 0x05 path destination unknown: no such tag or member";
    QTest::newRow("write refused")
        << at + "写入被拒绝" + tag + "status = 0xff ext = 0x2107 msg : 00"
        << "the controller refused the write: 0xFF/0x2107 data type mismatch: the tag has "
           "another type; leave :TYPE out to take the controller's";
    QTest::newRow("write in parts stopped")
        << at + "分段写入失败" + tag + "written = 960 of 4000 status = 0xff ext = 0x2105 msg : 00"
        << "a write in parts stopped after 960 of 4000 bytes: 0xFF/0x2105 index beyond the end: "
           "an index or count past the end of the tag";
    QTest::newRow("write in parts without a reply")
        << at + "分段写入失败" + tag + "written = 480 of 4000 status = none ext = none msg : "
        << "a write in parts stopped after 480 of 4000 bytes: no usable reply";
    QTest::newRow("no reply") << at + "返回的报文长度为0" + tag + "msg : "
                              << "no reply within the wait (0.55 s, or ;timeout=): a slow or "
                                 "silent controller; try ;timeout=3000";
    QTest::newRow("unknown session")
        << at + "报文封装错误" + tag + "command = 0x006f status = 0x00000064 msg : 00"
        << "encapsulation error: command 0x006f, status 0x0064 invalid session handle: the "
           "session is gone; connect again";
    QTest::newRow("too few value bytes")
        << at + "报文数据长度不足" + tag + "need = 40 msg : 00"
        << "the reply carried fewer value bytes than the 40 the count needs: the tag is "
           "shorter, or of a smaller type";
    QTest::newRow("text too long")
        << at + "写入文本过长" + tag + "index = 1 bytes = 90 limit = 82"
        << "text 1 is 90 bytes in UTF-8, more than the 82 the tag's text type holds (nothing sent)";
    QTest::newRow("registration refused")
        << at + "注册会话失败 127.0.0.1:44818 status = 0x69 msg : 00"
        << "the controller refused the session registration: encapsulation status 0x0069 "
           "unsupported protocol revision";
    QTest::newRow("forward open refused")
        << at + "打开连接失败 127.0.0.1:44818 service = 0x5b status = 0x01 ext = 0x0113 msg : 00"
        << "the controller refused the Large Forward Open (0x5B): 0x01/0x0113 out of "
           "connections: the controller has none free; try connected=off";
    QTest::newRow("option misspelt") << at + "连接参数无效 slto=3 : 未知参数"
                                     << "unknown option 'slto' (the options are " +
                                            linkOptionNames().join(", ") + "); did you mean slot?";
    QTest::newRow("option unknown, nothing near")
        << at + "连接参数无效 speed=3 : 未知参数"
        << "unknown option 'speed' (the options are " + linkOptionNames().join(", ") + ")";
    QTest::newRow("option out of range")
        << at + "连接参数无效 timeout=5 : 取值无效, 应为 timeout=MS (10..60000)"
        << "timeout=5 is out of range: timeout takes MS from 10 to 60000";
    QTest::newRow("option malformed")
        << at + "连接参数无效 connected=fast : 取值无效, 应为 connected=auto|large|small|off"
        << "connected=fast is not a value it takes: connected=auto|large|small|off";
    QTest::newRow("option without its value")
        << at + "连接参数无效 window : 取值无效, 应为 window=N (1..8)"
        << "window needs a value: window=N (1..8)";
    QTest::newRow("option twice") << at + "连接参数无效 timeout=20 : 重复"
                                  << "option timeout is given twice; give each option once";
    QTest::newRow("slot with path")
        << at + "连接参数无效 path=1,0 : 与 slot 冲突"
        << "path=1,0 cannot go with slot: slot and path both set the route; give one of them";
    QTest::newRow("peer closed") << at + "127.0.0.1:44818 Disconnected=1"
                                 << "the connection closed: the controller closed the connection";
    QTest::newRow("lost, with reconnect")
        << at + "连接中断 127.0.0.1:44818 reason = The remote host closed the connection"
        << "the connection was lost: The remote host closed the connection";
    QTest::newRow("reopening failed")
        << at + "重新连接失败 127.0.0.1:44818 attempt = 2 retry in 200 ms reason = Connection "
                "refused"
        << "reopening failed (attempt 2), next attempt in 200 ms: Connection refused";
    QTest::newRow("reopening failed, next at once")
        << at + "重新连接失败 127.0.0.1:44818 attempt = 3 retry in 0 ms reason = no answer in 1000 "
                "ms"
        << "reopening failed (attempt 3), next attempt at once: no answer in 1000 ms";
    QTest::newRow("still reopening")
        << at + "仍在重新连接 127.0.0.1:44818 down = 30012 ms attempts = 31 reason = no answer in "
                "1000 ms"
        << "still reopening after 30012 ms, 31 attempts so far: no answer in 1000 ms";
    // The Identity object's refusal carries a CIP status as a read's does.
    QTest::newRow("identity refused on a wrong route")
        << at + "Identity 响应错误 127.0.0.1:44818  Identity len = 1 msg : d2000101120301"
        << "the controller refused the Identity request: 0x01/0x0312 link address not valid: "
           "check slot= or path=";
    QTest::newRow("identity reply cut short")
        << at + "Identity 响应错误 127.0.0.1:44818  Identity len = 1 msg : 810000"
        << "the identity reply was rejected (malformed or an error status)";
    QTest::newRow("list identity reply rejected")
        << at + "ListIdentity 响应错误 127.0.0.1:44818  Identity len = 1 msg : 6300020000000000"
        << "the identity reply was rejected (malformed or an error status)";
    QTest::newRow("reply of another type")
        << at + "数据类型不符" + tag + "reply = 0x00ca REAL asked = 6 DT_Int32"
        << "the tag is REAL, which holds no int32 value; give the tag's type, or leave :TYPE out";
    QTest::newRow("element out of range")
        << at + "数值超出范围" + tag + "index = 3 value = -129 reply = 0x00c3 INT asked = 2 DT_Int8"
        << "element 3 of the INT tag is -129, which int8 cannot hold; read it as the tag's type";
    QTest::newRow("bit beyond the integer")
        << at + "位号超出范围" + tag + "bit = 8 width = 8"
        << "bit 8 is not one of the 8 bits of the tag's integer (nothing sent once its type is "
           "known)";
    QTest::newRow("text length beyond its type")
        << at + "文本长度错误" + tag + "index = 0 length = 21 limit = 20"
        << "text 0 of the reply says it is 21 characters long, where its type holds 0 to 20: a "
           "cut or corrupt reply, or no text type";
    QTest::newRow("trace line: nothing to say") << at + "读命令" + tag + "msg : 6f00"
                                                << "";
    QTest::newRow("another program's line") << "QObject: no such slot"
                                            << "";
}

void TstCliFormat::driverLineInWords()
{
    QFETCH(QString, line);
    QFETCH(QString, text);
    QCOMPARE(explainDriverLine(line), text);
}

void TstCliFormat::connectFailureInWords_data()
{
    QTest::addColumn<QString>("connection");
    QTest::addColumn<int>("result");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("elapsedMs");
    QTest::addColumn<int>("probe");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("exitCode");
    const QString at = "127.0.0.1:44818";
    const QString reg = "lib[Quorvex]读命令 " + at +
                        " msg : 65000400000000000000000001000000000000000000000001000000";
    const QString noReply = "lib[Quorvex]响应 " + at + " msg : ";
    const int none = int(Probe::NotMade);
    QTest::newRow("no separator")
        << "plc" << -4 << QStringList() << 0 << none
        << "'plc' is neither ADDRESS:PORT nor PORT,BAUD,DATABITS,STOPBITS,PARITY (e.g. "
           "192.168.1.10:44818 or /dev/ttyUSB0,115200,8,1,N)"
        << 2;
    QTest::newRow("host name") << "plc.local:44818" << -1 << QStringList() << 0 << none
                               << "'plc.local' is not an IPv4 address: no name lookup is done; "
                                  "give an IPv4 address, e.g. 192.168.1.10:44818"
                               << 2;
    QTest::newRow("port 0") << "10.0.0.5:0" << -1 << QStringList() << 0 << none
                            << "the port '0' is not a number from 1 to 65535 (EtherNet/IP "
                               "listens on 44818)"
                            << 2;
    QTest::newRow("port too large") << "10.0.0.5:65536;slot=1" << -1 << QStringList() << 0 << none
                                    << "the port '65536' is not a number from 1 to 65535 "
                                       "(EtherNet/IP listens on 44818)"
                                    << 2;
    QTest::newRow("options before the port")
        << "10.0.0.5;slot=1" << -1 << QStringList() << 0 << none
        << "options come after ADDRESS:PORT, e.g. "
           "192.168.1.10:44818;slot=1"
        << 2;
    QTest::newRow("bad option, from the driver's line")
        << at + ";slto=3" << -1 << QStringList{"lib[Quorvex]连接参数无效 slto=3 : 未知参数"} << 0
        << none
        << "bad option in the connection string: unknown option 'slto' (the options are " +
               linkOptionNames().join(", ") + "); did you mean slot?"
        << 2;
    QTest::newRow("serial fields zero")
        << "/dev/ttyUSB0,0,8,1,N" << -1 << QStringList() << 0 << none
        << "the serial form is PORT,BAUD,DATABITS,STOPBITS,PARITY with a port name and numbers "
           "above 0, e.g. /dev/ttyUSB0,115200,8,1,N"
        << 2;
    QTest::newRow("serial port absent")
        << "/dev/ttyUSB9,9600,8,1,N" << -1 << QStringList() << 0 << none
        << "cannot open the serial port /dev/ttyUSB9: No such file or directory" << 1;
    QTest::newRow("nothing listening")
        << at << -3 << QStringList() << 1 << int(Probe::Refused)
        << "nothing listening on 127.0.0.1:44818 (connection refused)" << 1;
    QTest::newRow("network unreachable")
        << "10.9.9.9:44818" << -3 << QStringList() << 3 << int(Probe::Unreachable)
        << "cannot reach 10.9.9.9:44818: Network unreachable" << 1;
    QTest::newRow("silent host") << "10.9.9.9:44818" << -3 << QStringList() << 30012 << none
                                 << "no answer from 10.9.9.9:44818 in 30 s (host unreachable or "
                                    "filtered)"
                                 << 1;
    QTest::newRow("registration unanswered")
        << at << -3 << QStringList{reg, noReply} << 551 << none
        << "connected to 127.0.0.1:44818, but the session registration got no reply in 0.55 s; "
           "a slow controller? try ;timeout=3000"
        << 1;
    QTest::newRow("registration unanswered, own wait")
        << at + ";timeout=1500" << -3 << QStringList{reg, noReply} << 1501 << none
        << "connected to 127.0.0.1:44818, but the session registration got no reply in 1.5 s; "
           "a slow controller? try ;timeout=3000"
        << 1;
    QTest::newRow("closed on registration")
        << at << -3 << QStringList{reg, noReply, "lib[Quorvex]" + at + " Disconnected=1"} << 2
        << none
        << "connected to 127.0.0.1:44818, but it closed the connection when asked to register a "
           "session: is this an EtherNet/IP port?"
        << 1;
    QTest::newRow("registration refused")
        << at << -3
        << QStringList{reg, "lib[Quorvex]注册会话失败 " + at + " status = 0x69 msg : 00"} << 1
        << none
        << "connected to 127.0.0.1:44818, but the controller refused the session registration: "
           "encapsulation status 0x0069 unsupported protocol revision"
        << 1;
    QTest::newRow("forward open refused")
        << at + ";connected=large" << -3
        << QStringList{reg, "lib[Quorvex]打开连接失败 " + at +
                                " service = 0x5b status = 0x01 ext = 0x0113 msg : 00"}
        << 1 << none
        << "connected to 127.0.0.1:44818, but the controller refused the Large Forward Open "
           "(0x5B): 0x01/0x0113 out of connections: the controller has none free; try "
           "connected=off"
        << 1;
}

void TstCliFormat::connectFailureInWords()
{
    ConnectFacts f;
    QFETCH(QString, connection);
    QFETCH(int, result);
    QFETCH(QStringList, lines);
    QFETCH(int, elapsedMs);
    QFETCH(int, probe);
    QFETCH(QString, text);
    QFETCH(int, exitCode);
    f.connection = connection;
    f.result = result;
    f.lines = lines;
    f.elapsedMs = elapsedMs;
    // What the tool itself would have tried: only a quick failure short of
    // the registration needs it.
    QCOMPARE(probeWanted(f), probe != int(Probe::NotMade));
    f.probe = static_cast<Probe>(probe);
    if (f.probe == Probe::Unreachable)
        f.osError = "Network unreachable";
    if (connection.startsWith("/dev/ttyUSB9"))
        f.osError = "No such file or directory";
    const ConnectVerdict v = explainConnect(f);
    QCOMPARE(v.text, text);
    QCOMPARE(v.exitCode, exitCode);
}

QTEST_GUILESS_MAIN(TstCliFormat)
#include "tst_cliformat.moc"
