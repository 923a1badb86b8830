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
    QTest::newRow("program tag alone") << "Program:Main.Local" << true << "Program:Main.Local" << 6
                                       << 1 << "";
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

    QTest::newRow("int32") << value(DT_Int32, QVariant::fromValue(QList<int>{42, -7})) << "42,-7";
    QTest::newRow("int8 is a number, not a character")
        << value(DT_Int8, QVariant::fromValue(QList<char>{char(-5), 'A'})) << "-5,65";
    QTest::newRow("uint8") << value(DT_UInt8, QVariant::fromValue(QList<unsigned char>{200}))
                           << "200";
    QTest::newRow("uint64 keeps every digit")
        << value(DT_UInt64, QVariant::fromValue(QList<unsigned long long>{18000000000000000000ULL}))
        << "18000000000000000000";
    QTest::newRow("int64 minimum")
        << value(DT_Int64,
                 QVariant::fromValue(QList<long long>{std::numeric_limits<long long>::min()}))
        << "-9223372036854775808";
    QTest::newRow("float shortest form")
        << value(DT_Float, QVariant::fromValue(QList<float>{1.5f, 0.1f})) << "1.5,0.1";
    QTest::newRow("double shortest form")
        << value(DT_Double, QVariant::fromValue(QList<double>{2.25, 0.1})) << "2.25,0.1";
    QTest::newRow("non-finite is null")
        << value(DT_Float, QVariant::fromValue(
                               QList<float>{std::numeric_limits<float>::infinity(), std::nanf("")}))
        << "null,null";
    QTest::newRow("bool") << value(DT_Bool, QVariant::fromValue(QList<bool>{true, false}))
                          << "true,false";
    QTest::newRow("texts escaped")
        << value(DT_String,
                 QVariant::fromValue(QList<QString>{"Hello, PLC", "a\"b\\c\n", QString(QChar(1))}))
        << "\"Hello, PLC\",\"a\\\"b\\\\c\\n\",\"\\u0001\"";
}

void TstCliFormat::jsonLine()
{
    QFETCH(CLabelVariable, v);
    QFETCH(QString, values);
    const QString expected =
        QStringLiteral("{\"tag\":\"T\",\"type\":\"%1\",\"count\":1,\"status\":0,"
                       "\"values\":[%2],"
                       "\"timestamp\":\"2024-03-17T09:05:30.123+01:00\"}")
            .arg(typeName(v.type), values);
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

QTEST_GUILESS_MAIN(TstCliFormat)
#include "tst_cliformat.moc"
