// The value object as the host sees it: binary layout, defaults, copies,
// element accessors and the list types they rely on.
#include "LabelTestSupport.h"

#include <QThread>
#include <QtTest>

#include <type_traits>

static_assert(!std::is_polymorphic<CLabelVariable>::value, "no virtuals across the boundary");
static_assert(sizeof(DataType) == 4, "the host passes type codes as 32-bit ints");
static_assert(std::is_same<std::underlying_type<DataType>::type, int>::value,
              "negative host codes must stay representable");

namespace
{

std::ptrdiff_t offsetIn(const CLabelVariable &v, const void *field)
{
    return static_cast<const char *>(field) - reinterpret_cast<const char *>(&v);
}

// Calls an accessor by its name and renders the element it returned.
QString callAccessor(CLabelVariable &v, const QString &name, int index)
{
    if (name == "atbool")
        return elementText(v.atbool(index));
    if (name == "atchar")
        return elementText(v.atchar(index));
    if (name == "atInt8")
        return elementText(v.atInt8(index));
    if (name == "atUInt8")
        return elementText(v.atUInt8(index));
    if (name == "atInt16")
        return elementText(v.atInt16(index));
    if (name == "atUInt16")
        return elementText(v.atUInt16(index));
    if (name == "atInt32")
        return elementText(v.atInt32(index));
    if (name == "atUInt32")
        return elementText(v.atUInt32(index));
    if (name == "atFloat")
        return elementText(v.atFloat(index));
    if (name == "atInt64")
        return elementText(v.atInt64(index));
    if (name == "atUInt64")
        return elementText(v.atUInt64(index));
    if (name == "atDouble")
        return elementText(v.atDouble(index));
    if (name == "atQString")
        return elementText(v.atQString(index));
    return QStringLiteral("no accessor %1").arg(name);
}

const char *const accessorNames[] = {"atbool",   "atchar",   "atInt8",   "atUInt8", "atInt16",
                                     "atUInt16", "atInt32",  "atUInt32", "atFloat", "atInt64",
                                     "atUInt64", "atDouble", "atQString"};

// Zero of each accessor's return type, as rendered by elementText.
QString zeroText(const QString &accessor)
{
    if (accessor == "atbool")
        return QStringLiteral("false");
    if (accessor == "atQString")
        return QStringLiteral("<null>");
    return QStringLiteral("0");
}

} // namespace

class TestLabelValue : public QObject
{
    Q_OBJECT

private slots:
    void layout_data();
    void layout();
    void defaults();
    void copiesCarryEveryField();
    void accessors_data();
    void accessors();
    void int8AndCharAgree_data();
    void int8AndCharAgree();
    void accessLeavesOtherFieldsAlone();
    void listTypesRegisteredUnderQtNames_data();
    void listTypesRegisteredUnderQtNames();
    void registrationFromSeveralThreads();
};

void TestLabelValue::layout_data()
{
    QTest::addColumn<qlonglong>("offset");
    QTest::addColumn<qlonglong>("expected");

    static const CLabelVariable v;
    QTest::newRow("status") << qlonglong(offsetIn(v, &v.status)) << 0LL;
    QTest::newRow("accessStatus") << qlonglong(offsetIn(v, &v.accessStatus)) << 4LL;
    QTest::newRow("values") << qlonglong(offsetIn(v, &v.values)) << 8LL;
    QTest::newRow("values size") << qlonglong(sizeof(v.values)) << 16LL;
    QTest::newRow("timestamp") << qlonglong(offsetIn(v, &v.timestamp)) << 24LL;
    QTest::newRow("tagName") << qlonglong(offsetIn(v, &v.tagName)) << 32LL;
    QTest::newRow("count") << qlonglong(offsetIn(v, &v.count)) << 40LL;
    QTest::newRow("type") << qlonglong(offsetIn(v, &v.type)) << 44LL;
    QTest::newRow("auxInt") << qlonglong(offsetIn(v, &v.auxInt)) << 48LL;
    QTest::newRow("auxText") << qlonglong(offsetIn(v, &v.auxText)) << 56LL;
    QTest::newRow("size") << qlonglong(sizeof(CLabelVariable)) << 64LL;
}

void TestLabelValue::layout()
{
    QFETCH(qlonglong, offset);
    QFETCH(qlonglong, expected);
    QCOMPARE(offset, expected);
}

void TestLabelValue::defaults()
{
    const CLabelVariable v;
    QCOMPARE(v.status, 1);
    QCOMPARE(v.accessStatus, 1);
    QVERIFY(!v.values.isValid());
    QVERIFY(v.timestamp.isNull());
    QVERIFY(v.tagName.isNull());
    QCOMPARE(v.count, 0);
    QCOMPARE(int(v.type), 0);
    QCOMPARE(v.auxInt, 0);
    QVERIFY(v.auxText.isNull());
}

void TestLabelValue::copiesCarryEveryField()
{
    CLabelVariable source = makeValue(DT_Int32, listOf<int>({4, 5}), 2);
    source.status = 8;
    source.timestamp = QDateTime(QDate(2023, 5, 11), QTime(8, 30));
    source.auxInt = 77;
    source.auxText = QStringLiteral("unit");
    source.atInt32(9); // accessStatus 10

    CLabelVariable assigned;
    assigned = source;
    const CLabelVariable constructed(source);
    for (const CLabelVariable *copy :
         {&constructed, static_cast<const CLabelVariable *>(&assigned)}) {
        QCOMPARE(copy->status, 8);
        QCOMPARE(copy->accessStatus, int(LR_IndexOutOfRange));
        QCOMPARE(listText(copy->values), QStringLiteral("int[4,5]"));
        QCOMPARE(copy->timestamp, source.timestamp);
        QCOMPARE(copy->tagName, QStringLiteral("Tag"));
        QCOMPARE(copy->count, 2);
        QCOMPARE(copy->type, DT_Int32);
        QCOMPARE(copy->auxInt, 77);
        QCOMPARE(copy->auxText, QStringLiteral("unit"));
    }

    CLabelVariable reader(source);
    QCOMPARE(reader.atInt32(1), 5);
    QCOMPARE(reader.accessStatus, int(LR_Success));
    QCOMPARE(source.accessStatus, int(LR_IndexOutOfRange));
}

void TestLabelValue::accessors_data()
{
    QTest::addColumn<QVariant>("values");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("accessor");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<int>("expectedStatus");

    for (const char *name : accessorNames)
        QTest::addRow("invalid values, %s", name)
            << QVariant() << 0 << name << 0 << zeroText(name) << int(LR_WrongElementType);

    const QVariant shorts = listOf<short>({-5, 6, -32768});
    QTest::newRow("short list, last") << shorts << 3 << "atInt16" << 2 << "-32768" << 0;
    QTest::newRow("short list, first") << shorts << 3 << "atInt16" << 0 << "-5" << 0;
    QTest::newRow("short list, past end") << shorts << 3 << "atInt16" << 3 << "0" << 10;
    QTest::newRow("short list, negative index") << shorts << 3 << "atInt16" << -1 << "0" << 10;
    QTest::newRow("short list as ushort") << shorts << 3 << "atUInt16" << 0 << "0" << 11;
    QTest::newRow("short list as int") << shorts << 3 << "atInt32" << 0 << "0" << 11;
    QTest::newRow("wrong type beats bad index") << shorts << 3 << "atInt32" << 7 << "0" << 11;

    QTest::newRow("bool") << listOf<bool>({false, true}) << 2 << "atbool" << 1 << "true" << 0;
    QTest::newRow("char") << listOf<char>({'\x80', '\x7f'}) << 2 << "atchar" << 0 << "-128" << 0;
    QTest::newRow("int8") << listOf<char>({'\x80', '\x7f'}) << 2 << "atInt8" << 1 << "127" << 0;
    QTest::newRow("uint8") << listOf<unsigned char>({255}) << 1 << "atUInt8" << 0 << "255" << 0;
    QTest::newRow("uint16") << listOf<unsigned short>({65535}) << 1 << "atUInt16" << 0 << "65535"
                            << 0;
    QTest::newRow("int32") << listOf<int>({std::numeric_limits<int>::min()}) << 1 << "atInt32" << 0
                           << "-2147483648" << 0;
    QTest::newRow("uint32") << listOf<unsigned int>({4294967295u}) << 1 << "atUInt32" << 0
                            << "4294967295" << 0;
    QTest::newRow("float") << listOf<float>({1.5f}) << 1 << "atFloat" << 0 << "1.5" << 0;
    QTest::newRow("int64") << listOf<long long>({std::numeric_limits<long long>::min()}) << 1
                           << "atInt64" << 0 << "-9223372036854775808" << 0;
    QTest::newRow("uint64") << listOf<unsigned long long>({18446744073709551615ull}) << 1
                            << "atUInt64" << 0 << "18446744073709551615" << 0;
    QTest::newRow("double") << listOf<double>({-2.25}) << 1 << "atDouble" << 0 << "-2.25" << 0;
    QTest::newRow("text") << listOf<QString>({"", "ab"}) << 2 << "atQString" << 1 << "\"ab\"" << 0;
    QTest::newRow("text past end is null")
        << listOf<QString>({"ab"}) << 1 << "atQString" << 1 << "<null>" << 10;

    QTest::newRow("double list as float")
        << listOf<double>({1.0}) << 1 << "atFloat" << 0 << "0" << 11;
    QTest::newRow("float list as double")
        << listOf<float>({1.0f}) << 1 << "atDouble" << 0 << "0" << 11;
    QTest::newRow("int list as int64") << listOf<int>({1}) << 1 << "atInt64" << 0 << "0" << 11;
    QTest::newRow("uchar list as int8")
        << listOf<unsigned char>({1}) << 1 << "atInt8" << 0 << "0" << 11;
    QTest::newRow("plain int, not a list") << QVariant(5) << 1 << "atInt32" << 0 << "0" << 11;
    QTest::newRow("variant list") << QVariant(QVariantList{1, 2}) << 2 << "atInt32" << 0 << "0"
                                  << 11;

    QTest::newRow("list longer than count")
        << listOf<int>({1, 2, 3}) << 1 << "atInt32" << 2 << "3" << 0;
    QTest::newRow("list shorter than count")
        << listOf<int>({1}) << 5 << "atInt32" << 1 << "0" << 10;
}

void TestLabelValue::accessors()
{
    QFETCH(QVariant, values);
    QFETCH(int, count);
    QFETCH(QString, accessor);
    QFETCH(int, index);
    QFETCH(QString, expected);
    QFETCH(int, expectedStatus);

    CLabelVariable v = makeValue(DT_Int16, values, count);
    QCOMPARE(callAccessor(v, accessor, index), expected);
    QCOMPARE(v.accessStatus, expectedStatus);
}

void TestLabelValue::int8AndCharAgree_data()
{
    QTest::addColumn<QVariant>("values");
    QTest::addColumn<int>("index");

    const QVariant chars = listOf<char>({'\x80', '\0', '\x7f'});
    QTest::newRow("first") << chars << 0;
    QTest::newRow("last") << chars << 2;
    QTest::newRow("past end") << chars << 3;
    QTest::newRow("negative") << chars << -1;
    QTest::newRow("uchar list") << listOf<unsigned char>({1}) << 0;
    QTest::newRow("invalid") << QVariant() << 0;
}

void TestLabelValue::int8AndCharAgree()
{
    QFETCH(QVariant, values);
    QFETCH(int, index);

    CLabelVariable a = makeValue(DT_Int8, values, 3);
    CLabelVariable b = a;
    QCOMPARE(int(a.atInt8(index)), int(b.atchar(index)));
    QCOMPARE(a.accessStatus, b.accessStatus);
}

void TestLabelValue::accessLeavesOtherFieldsAlone()
{
    CLabelVariable v = makeValue(DT_Double, listOf<double>({1.0, 2.0}), 2);
    v.status = 9;
    v.auxInt = 3;
    v.auxText = QStringLiteral("x");
    v.timestamp = QDateTime(QDate(2020, 1, 2), QTime(3, 4));
    const CLabelVariable before = v;

    v.atDouble(1);
    v.atDouble(5);
    v.atInt32(0);

    QCOMPARE(v.status, before.status);
    QCOMPARE(listText(v.values), QStringLiteral("double[1,2]"));
    QCOMPARE(v.timestamp, before.timestamp);
    QCOMPARE(v.tagName, before.tagName);
    QCOMPARE(v.count, before.count);
    QCOMPARE(v.type, before.type);
    QCOMPARE(v.auxInt, before.auxInt);
    QCOMPARE(v.auxText, before.auxText);
}

void TestLabelValue::listTypesRegisteredUnderQtNames_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<int>("id");

    // The host finds these types by name; the ids must be the ones the
    // accessors test against.
    registerLabelListTypes();
    QTest::newRow("bool") << QByteArray("QList<bool>") << qMetaTypeId<QList<bool>>();
    QTest::newRow("char") << QByteArray("QList<char>") << qMetaTypeId<QList<char>>();
    QTest::newRow("uchar") << QByteArray("QList<uchar>") << qMetaTypeId<QList<unsigned char>>();
    QTest::newRow("short") << QByteArray("QList<short>") << qMetaTypeId<QList<short>>();
    QTest::newRow("ushort") << QByteArray("QList<ushort>") << qMetaTypeId<QList<unsigned short>>();
    QTest::newRow("int") << QByteArray("QList<int>") << qMetaTypeId<QList<int>>();
    QTest::newRow("uint") << QByteArray("QList<uint>") << qMetaTypeId<QList<unsigned int>>();
    QTest::newRow("float") << QByteArray("QList<float>") << qMetaTypeId<QList<float>>();
    QTest::newRow("int64") << QByteArray("QList<qlonglong>") << qMetaTypeId<QList<long long>>();
    QTest::newRow("uint64") << QByteArray("QList<qulonglong>")
                            << qMetaTypeId<QList<unsigned long long>>();
    QTest::newRow("double") << QByteArray("QList<double>") << qMetaTypeId<QList<double>>();
    QTest::newRow("text") << QByteArray("QList<QString>") << qMetaTypeId<QList<QString>>();
}

void TestLabelValue::listTypesRegisteredUnderQtNames()
{
    QFETCH(QByteArray, name);
    QFETCH(int, id);

    registerLabelListTypes();
    QCOMPARE(QMetaType::type(name.constData()), id);
    QVERIFY(QMetaType::isRegistered(id));
    // Sequential iteration lets generic host code walk any of the lists.
    QVERIFY(QMetaType::hasRegisteredConverterFunction(
        id, qMetaTypeId<QtMetaTypePrivate::QSequentialIterableImpl>()));
}

void TestLabelValue::registrationFromSeveralThreads()
{
    QVector<int> ids(4, -1);
    QVector<QThread *> threads;
    for (int i = 0; i < ids.size(); ++i) {
        threads << QThread::create([&ids, i] {
            registerLabelListTypes();
            ids[i] = qMetaTypeId<QList<unsigned short>>();
        });
        threads.last()->start();
    }
    for (QThread *t : threads) {
        QVERIFY(t->wait(10000));
        delete t;
    }
    for (int id : ids)
        QCOMPARE(id, QMetaType::type("QList<ushort>"));
}

QTEST_GUILESS_MAIN(TestLabelValue)
#include "tst_labelvalue.moc"
