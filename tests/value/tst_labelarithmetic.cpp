// Element-wise arithmetic between two tag values, as the host uses it.
#include "LabelTestSupport.h"

#include <QtTest>

namespace
{

using I32 = std::numeric_limits<int>;
using I64 = std::numeric_limits<long long>;
using U32 = std::numeric_limits<unsigned int>;
using U64 = std::numeric_limits<unsigned long long>;
constexpr float fInf = std::numeric_limits<float>::infinity();

CLabelVariable apply(CLabelVariable &a, const CLabelVariable &b, char op)
{
    switch (op) {
    case '+':
        return a + b;
    case '-':
        return a - b;
    case '*':
        return a * b;
    default:
        return a / b;
    }
}

void verifyDefault(const CLabelVariable &r)
{
    QCOMPARE(r.status, 1);
    QCOMPARE(r.accessStatus, 1);
    QVERIFY(!r.values.isValid());
    QVERIFY(r.timestamp.isNull());
    QVERIFY(r.tagName.isEmpty());
    QCOMPARE(r.count, 0);
    QCOMPARE(int(r.type), 0);
    QCOMPARE(r.auxInt, 0);
    QVERIFY(r.auxText.isEmpty());
}

} // namespace

class TestLabelArithmetic : public QObject
{
    Q_OBJECT

private slots:
    void elements_data();
    void elements();
    void resultDescribedByRightOperand_data();
    void resultDescribedByRightOperand();
    void hostCodesPickElementType_data();
    void hostCodesPickElementType();
    void unhandledCodesGiveDefault_data();
    void unhandledCodesGiveDefault();
    void operandAccessStatus_data();
    void operandAccessStatus();
    void operandsKeepTheirValues();
    void hugeCountDoesNotExhaustMemory();
};

void TestLabelArithmetic::elements_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QChar>("op");
    QTest::addColumn<QVariant>("left");
    QTest::addColumn<QVariant>("right");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("expected");

    auto row = [](const char *name, int type, char op, const QVariant &l, const QVariant &r,
                  int count, const char *expected) {
        QTest::newRow(name) << type << QChar(op) << l << r << count << QString(expected);
    };
    // Single-element rows need a count of 1.
    auto one = [&row](const char *name, int type, char op, const QVariant &l, const QVariant &r,
                      const char *expected) { row(name, type, op, l, r, 1, expected); };

    row("int16 list sum", DT_Int16, '+', listOf<short>({1, 2, 3}), listOf<short>({10, 20, 30}), 3,
        "short[11,22,33]");
    row("int16 list difference", DT_Int16, '-', listOf<short>({1, 2, 3}),
        listOf<short>({10, 20, 30}), 3, "short[-9,-18,-27]");

    one("bool true+true", DT_Bool, '+', listOf<bool>({true}), listOf<bool>({true}), "bool[true]");
    one("bool false+false", DT_Bool, '+', listOf<bool>({false}), listOf<bool>({false}),
        "bool[false]");
    one("bool true-true", DT_Bool, '-', listOf<bool>({true}), listOf<bool>({true}), "bool[false]");
    one("bool true-false", DT_Bool, '-', listOf<bool>({true}), listOf<bool>({false}), "bool[true]");
    one("bool true*false", DT_Bool, '*', listOf<bool>({true}), listOf<bool>({false}),
        "bool[false]");
    one("bool true*true", DT_Bool, '*', listOf<bool>({true}), listOf<bool>({true}), "bool[true]");
    one("bool false/true", DT_Bool, '/', listOf<bool>({false}), listOf<bool>({true}),
        "bool[false]");
    one("bool true/true", DT_Bool, '/', listOf<bool>({true}), listOf<bool>({true}), "bool[true]");
    one("bool true/false", DT_Bool, '/', listOf<bool>({true}), listOf<bool>({false}),
        "bool[false]");

    one("int8 127+1 wraps", DT_Int8, '+', int8s({127}), int8s({1}), "char[-128]");
    one("int8 -128-1 wraps", DT_Int8, '-', int8s({-128}), int8s({1}), "char[127]");
    one("int8 16*16 wraps", DT_Int8, '*', int8s({16}), int8s({16}), "char[0]");
    one("int8 -128/-1", DT_Int8, '/', int8s({-128}), int8s({-1}), "char[-128]");
    one("int8 7/-2 truncates", DT_Int8, '/', int8s({7}), int8s({-2}), "char[-3]");
    one("int8 5/0", DT_Int8, '/', int8s({5}), int8s({0}), "char[0]");

    one("uint8 0-1 wraps", DT_UInt8, '-', listOf<unsigned char>({0}), listOf<unsigned char>({1}),
        "uchar[255]");
    one("uint8 255+1 wraps", DT_UInt8, '+', listOf<unsigned char>({255}),
        listOf<unsigned char>({1}), "uchar[0]");
    one("uint8 255*255 wraps", DT_UInt8, '*', listOf<unsigned char>({255}),
        listOf<unsigned char>({255}), "uchar[1]");
    one("uint8 255/2", DT_UInt8, '/', listOf<unsigned char>({255}), listOf<unsigned char>({2}),
        "uchar[127]");
    one("uint8 9/0", DT_UInt8, '/', listOf<unsigned char>({9}), listOf<unsigned char>({0}),
        "uchar[0]");

    one("int16 32767+1 wraps", DT_Int16, '+', listOf<short>({32767}), listOf<short>({1}),
        "short[-32768]");
    one("int16 300*300 wraps", DT_Int16, '*', listOf<short>({300}), listOf<short>({300}),
        "short[24464]");
    one("int16 -32768/-1", DT_Int16, '/', listOf<short>({-32768}), listOf<short>({-1}),
        "short[-32768]");
    one("int16 -7/2 truncates", DT_Int16, '/', listOf<short>({-7}), listOf<short>({2}),
        "short[-3]");
    one("int16 1/0", DT_Int16, '/', listOf<short>({1}), listOf<short>({0}), "short[0]");

    one("uint16 0-1 wraps", DT_UInt16, '-', listOf<unsigned short>({0}),
        listOf<unsigned short>({1}), "ushort[65535]");
    one("uint16 65535*65535 wraps", DT_UInt16, '*', listOf<unsigned short>({65535}),
        listOf<unsigned short>({65535}), "ushort[1]");
    one("uint16 65535/0", DT_UInt16, '/', listOf<unsigned short>({65535}),
        listOf<unsigned short>({0}), "ushort[0]");

    one("int32 max+1 wraps", DT_Int32, '+', listOf<int>({I32::max()}), listOf<int>({1}),
        "int[-2147483648]");
    one("int32 min-1 wraps", DT_Int32, '-', listOf<int>({I32::min()}), listOf<int>({1}),
        "int[2147483647]");
    one("int32 65536*65536 wraps", DT_Int32, '*', listOf<int>({65536}), listOf<int>({65536}),
        "int[0]");
    one("int32 min*-1 wraps", DT_Int32, '*', listOf<int>({I32::min()}), listOf<int>({-1}),
        "int[-2147483648]");
    one("int32 min/-1", DT_Int32, '/', listOf<int>({I32::min()}), listOf<int>({-1}),
        "int[-2147483648]");
    one("int32 -7/2 truncates", DT_Int32, '/', listOf<int>({-7}), listOf<int>({2}), "int[-3]");
    row("int32 zero divisor mid-list", DT_Int32, '/', listOf<int>({10, 5, 9}),
        listOf<int>({2, 0, -3}), 3, "int[5,0,-3]");

    one("uint32 0-1 wraps", DT_UInt32, '-', listOf<unsigned int>({0}), listOf<unsigned int>({1}),
        "uint[4294967295]");
    one("uint32 max*max wraps", DT_UInt32, '*', listOf<unsigned int>({U32::max()}),
        listOf<unsigned int>({U32::max()}), "uint[1]");
    one("uint32 max/2", DT_UInt32, '/', listOf<unsigned int>({U32::max()}),
        listOf<unsigned int>({2}), "uint[2147483647]");
    one("uint32 7/0", DT_UInt32, '/', listOf<unsigned int>({7}), listOf<unsigned int>({0}),
        "uint[0]");

    one("int64 max+1 wraps", DT_Int64, '+', listOf<long long>({I64::max()}), listOf<long long>({1}),
        "int64[-9223372036854775808]");
    one("int64 2^32*2^32 wraps", DT_Int64, '*', listOf<long long>({1LL << 32}),
        listOf<long long>({1LL << 32}), "int64[0]");
    one("int64 min/-1", DT_Int64, '/', listOf<long long>({I64::min()}), listOf<long long>({-1}),
        "int64[-9223372036854775808]");
    one("int64 min/2", DT_Int64, '/', listOf<long long>({I64::min()}), listOf<long long>({2}),
        "int64[-4611686018427387904]");
    one("int64 3/0", DT_Int64, '/', listOf<long long>({3}), listOf<long long>({0}), "int64[0]");

    one("uint64 0-1 wraps", DT_UInt64, '-', listOf<unsigned long long>({0}),
        listOf<unsigned long long>({1}), "uint64[18446744073709551615]");
    one("uint64 max*max wraps", DT_UInt64, '*', listOf<unsigned long long>({U64::max()}),
        listOf<unsigned long long>({U64::max()}), "uint64[1]");
    one("uint64 max/0", DT_UInt64, '/', listOf<unsigned long long>({U64::max()}),
        listOf<unsigned long long>({0}), "uint64[0]");

    one("float 1/0", DT_Float, '/', listOf<float>({1}), listOf<float>({0}), "float[inf]");
    one("float -1/0", DT_Float, '/', listOf<float>({-1}), listOf<float>({0}), "float[-inf]");
    one("float 0/0", DT_Float, '/', listOf<float>({0}), listOf<float>({0}), "float[nan]");
    one("float inf-inf", DT_Float, '-', listOf<float>({fInf}), listOf<float>({fInf}), "float[nan]");
    one("float 1.5*-2", DT_Float, '*', listOf<float>({1.5f}), listOf<float>({-2}), "float[-3]");
    // 2^24 + 1 has no float; in double it would survive.
    one("float single precision", DT_Float, '+', listOf<float>({16777216.0f}),
        listOf<float>({1.0f}), "float[16777216]");
    one("double 1/0", DT_Double, '/', listOf<double>({1}), listOf<double>({0}), "double[inf]");
    one("double 0/0", DT_Double, '/', listOf<double>({0}), listOf<double>({0}), "double[nan]");
    one("double overflow", DT_Double, '*', listOf<double>({1e308}), listOf<double>({10}),
        "double[inf]");
    one("double 0.5-0.25", DT_Double, '-', listOf<double>({0.5}), listOf<double>({0.25}),
        "double[0.25]");
    one("double keeps 2^53+2", DT_Double, '+', listOf<double>({9007199254740992.0}),
        listOf<double>({2.0}), "double[9007199254740994]");

    row("text concatenation", DT_String, '+', listOf<QString>({"ab", "", "x"}),
        listOf<QString>({"cd", "e", ""}), 3, "text[\"abcd\",\"e\",\"x\"]");
    row("text of null and empty", DT_String, '+', listOf<QString>({QString()}),
        listOf<QString>({QString("")}), 1, "text[\"\"]");
    row("text lengths differ", DT_String, '+', listOf<QString>({"a", "b"}), listOf<QString>({"c"}),
        2, "text[]");

    row("lengths differ", DT_Int16, '+', listOf<short>({1, 2}), listOf<short>({1}), 2, "short[]");
    row("right holds int list", DT_Int16, '+', listOf<short>({1}), listOf<int>({1}), 1, "short[]");
    row("left holds int list", DT_Int16, '+', listOf<int>({1}), listOf<short>({1}), 1, "short[]");
    row("both invalid read as empty lists", DT_Int32, '*', QVariant(), QVariant(), 2, "int[0,0]");
    row("count 0", DT_Int32, '+', listOf<int>({1}), listOf<int>({2}), 0, "int[]");
    row("count negative", DT_Int32, '+', listOf<int>({1}), listOf<int>({2}), -1, "int[]");
    row("bool lists longer than count", DT_Bool, '+',
        listOf<bool>({true, false, false, false, false, false, false, true}),
        listOf<bool>({false, false, true, false, false, false, false, false}), 2,
        "bool[true,false]");
    row("lists longer than count", DT_Int32, '-', listOf<int>({5, 6, 7}), listOf<int>({1, 1, 1}), 2,
        "int[4,5]");
    row("lists shorter than count read zero", DT_Int32, '+', listOf<int>({1, 2}),
        listOf<int>({3, 4}), 3, "int[4,6,0]");
}

void TestLabelArithmetic::elements()
{
    QFETCH(int, type);
    QFETCH(QChar, op);
    QFETCH(QVariant, left);
    QFETCH(QVariant, right);
    QFETCH(int, count);
    QFETCH(QString, expected);

    CLabelVariable a = makeValue(type, left, count);
    const CLabelVariable b = makeValue(type, right, count);
    const CLabelVariable r = apply(a, b, op.toLatin1());
    QCOMPARE(listText(r.values), expected);
}

void TestLabelArithmetic::resultDescribedByRightOperand_data()
{
    QTest::addColumn<QChar>("op");
    QTest::newRow("+") << QChar('+');
    QTest::newRow("-") << QChar('-');
    QTest::newRow("*") << QChar('*');
    QTest::newRow("/") << QChar('/');
}

void TestLabelArithmetic::resultDescribedByRightOperand()
{
    QFETCH(QChar, op);

    CLabelVariable a = makeValue(DT_Int16, listOf<short>({8, 6}), 2);
    a.status = 0;
    a.tagName = QStringLiteral("Left");
    a.auxInt = 5;
    a.auxText = QStringLiteral("left text");
    a.timestamp = QDateTime(QDate(2001, 1, 1), QTime(0, 0));
    CLabelVariable b = makeValue(DT_Int32, listOf<short>({2, 3}), 7);
    b.status = 8;
    b.tagName = QStringLiteral("Right");
    b.auxInt = 6;
    b.auxText = QStringLiteral("right text");
    b.accessStatus = 4;

    const QDateTime before = QDateTime::currentDateTime();
    const CLabelVariable r = apply(a, b, op.toLatin1());
    const QDateTime after = QDateTime::currentDateTime();

    QCOMPARE(r.status, 8);
    QCOMPARE(r.accessStatus, 1);
    QCOMPARE(r.tagName, QStringLiteral("Right"));
    QCOMPARE(r.count, 7);
    QCOMPARE(r.type, DT_Int32);
    QCOMPARE(r.auxInt, 0);
    QCOMPARE(r.auxText, QStringLiteral("right text"));
    QVERIFY(r.timestamp >= before);
    QVERIFY(r.timestamp <= after);
    QCOMPARE(r.timestamp.timeSpec(), Qt::LocalTime);
    // The element type and number of elements are the left operand's.
    QCOMPARE(r.values.userType(), qMetaTypeId<QList<short>>());
    QCOMPARE(r.values.value<QList<short>>().size(), 2);
}

void TestLabelArithmetic::hostCodesPickElementType_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QVariant>("left");
    QTest::addColumn<QVariant>("right");
    QTest::addColumn<QString>("expected");

    // Adding one of the element type shows both the type and the wrap width.
    struct Group {
        int first, last;
        QVariant left, right;
        const char *sum;
    };
    const Group groups[] = {
        {13, 14, listOf<short>({32767}), listOf<short>({1}), "short[-32768]"},
        {15, 16, listOf<unsigned short>({65535}), listOf<unsigned short>({1}), "ushort[0]"},
        {17, 20, listOf<int>({I32::max()}), listOf<int>({1}), "int[-2147483648]"},
        {21, 24, listOf<unsigned int>({U32::max()}), listOf<unsigned int>({1}), "uint[0]"},
        {33, 36, listOf<float>({0.5f}), listOf<float>({1}), "float[1.5]"},
        {37, 40, listOf<double>({0.25}), listOf<double>({1}), "double[1.25]"},
    };
    for (const Group &g : groups) {
        for (int code = g.first; code <= g.last; ++code)
            QTest::addRow("code %d", code) << code << g.left << g.right << QString(g.sum);
    }
}

void TestLabelArithmetic::hostCodesPickElementType()
{
    QFETCH(int, code);
    QFETCH(QVariant, left);
    QFETCH(QVariant, right);
    QFETCH(QString, expected);

    CLabelVariable a = makeValue(code, left, 1);
    const CLabelVariable b = makeValue(code, right, 1);
    QCOMPARE(listText((a + b).values), expected);
}

void TestLabelArithmetic::unhandledCodesGiveDefault_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QChar>("op");

    for (char op : {'+', '-', '*', '/'}) {
        for (int code : {0, 25, 28, 32, 41, 1000, -1, I32::min()})
            QTest::addRow("code %d %c", code, op) << code << QChar(op);
    }
    for (char op : {'-', '*', '/'})
        QTest::addRow("text %c", op) << int(DT_String) << QChar(op);
}

void TestLabelArithmetic::unhandledCodesGiveDefault()
{
    QFETCH(int, code);
    QFETCH(QChar, op);

    // Lists every accessor could be asked for would still be ignored.
    CLabelVariable a = makeValue(code, listOf<QString>({"a"}), 1);
    CLabelVariable b = makeValue(code, listOf<QString>({"b"}), 1);
    b.auxText = QStringLiteral("aux");
    a.accessStatus = 7;
    b.accessStatus = 9;
    verifyDefault(apply(a, b, op.toLatin1()));
    QCOMPARE(a.accessStatus, 7);
    QCOMPARE(b.accessStatus, 9);
}

void TestLabelArithmetic::operandAccessStatus_data()
{
    QTest::addColumn<QVariant>("left");
    QTest::addColumn<QVariant>("right");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("expectedLeft");
    QTest::addColumn<int>("expectedRight");

    QTest::newRow("every read succeeds")
        << listOf<int>({1, 2}) << listOf<int>({3, 4}) << 2 << 0 << 0;
    QTest::newRow("last read past the lists")
        << listOf<int>({1, 2}) << listOf<int>({3, 4}) << 3 << 10 << 10;
    QTest::newRow("lengths differ, nothing read")
        << listOf<int>({1, 2}) << listOf<int>({3}) << 2 << 7 << 7;
    QTest::newRow("count 0, nothing read") << listOf<int>({1}) << listOf<int>({3}) << 0 << 7 << 7;
}

void TestLabelArithmetic::operandAccessStatus()
{
    QFETCH(QVariant, left);
    QFETCH(QVariant, right);
    QFETCH(int, count);
    QFETCH(int, expectedLeft);
    QFETCH(int, expectedRight);

    for (char op : {'+', '-', '*', '/'}) {
        CLabelVariable a = makeValue(DT_Int32, left, count);
        const CLabelVariable b = makeValue(DT_Int32, right, count);
        a.accessStatus = 7;
        b.accessStatus = 7;
        apply(a, b, op);
        QCOMPARE(a.accessStatus, expectedLeft);
        QCOMPARE(b.accessStatus, expectedRight);
    }
}

void TestLabelArithmetic::operandsKeepTheirValues()
{
    CLabelVariable a = makeValue(DT_UInt8, listOf<unsigned char>({200, 100}), 2);
    const CLabelVariable b = makeValue(DT_UInt8, listOf<unsigned char>({100, 200}), 2);
    const CLabelVariable r = a + b;
    QCOMPARE(listText(r.values), QStringLiteral("uchar[44,44]"));
    QCOMPARE(listText(a.values), QStringLiteral("uchar[200,100]"));
    QCOMPARE(listText(b.values), QStringLiteral("uchar[100,200]"));
    QCOMPARE(a.count, 2);
    QCOMPARE(a.tagName, QStringLiteral("Tag"));

    // An operand may be combined with itself.
    const CLabelVariable twice = a + a;
    QCOMPARE(listText(twice.values), QStringLiteral("uchar[144,200]"));
}

void TestLabelArithmetic::hugeCountDoesNotExhaustMemory()
{
    // Short lists are padded with zeros up to count, but never past the
    // largest count a read can produce.
    CLabelVariable a = makeValue(DT_Int32, listOf<int>({1, 2, 3}), std::numeric_limits<int>::max());
    const CLabelVariable b = makeValue(DT_Int32, listOf<int>({10, 20, 30}), 3);
    const QList<int> sum = (a + b).values.value<QList<int>>();
    QCOMPARE(sum.size(), 65535);
    QCOMPARE(sum.mid(0, 4), (QList<int>{11, 22, 33, 0}));
    a.count = 5;
    QCOMPARE((a + b).values.value<QList<int>>(), (QList<int>{11, 22, 33, 0, 0}));
}

QTEST_GUILESS_MAIN(TestLabelArithmetic)
#include "tst_labelarithmetic.moc"
