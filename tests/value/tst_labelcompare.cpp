// Equality of two tag values: descriptions first, then the elements chosen
// by the left operand's type code.
#include "LabelTestSupport.h"

#include <QtTest>

#include <cmath>

class TestLabelCompare : public QObject
{
    Q_OBJECT

private slots:
    void equality_data();
    void equality();
    void operandAccessStatus_data();
    void operandAccessStatus();
};

void TestLabelCompare::equality_data()
{
    QTest::addColumn<CLabelVariable>("left");
    QTest::addColumn<CLabelVariable>("right");
    QTest::addColumn<bool>("expected");

    const CLabelVariable ints = makeValue(DT_Int16, listOf<short>({1, 2, 3}), 3);
    auto changed = [&ints](auto change) {
        CLabelVariable v = ints;
        change(v);
        return v;
    };

    QTest::newRow("same value") << ints << ints << true;
    QTest::newRow("only timestamp differs")
        << ints << changed([](CLabelVariable &v) { v.timestamp = QDateTime::currentDateTime(); })
        << true;
    QTest::newRow("only accessStatus differs")
        << ints << changed([](CLabelVariable &v) { v.accessStatus = 10; }) << true;
    QTest::newRow("only auxInt differs")
        << ints << changed([](CLabelVariable &v) { v.auxInt = 99; }) << true;
    QTest::newRow("auxText differs")
        << ints << changed([](CLabelVariable &v) { v.auxText = QStringLiteral("x"); }) << false;
    QTest::newRow("status differs")
        << ints << changed([](CLabelVariable &v) { v.status = 8; }) << false;
    QTest::newRow("tagName differs")
        << ints << changed([](CLabelVariable &v) { v.tagName = QStringLiteral("tag"); }) << false;
    QTest::newRow("right type differs")
        << ints << changed([](CLabelVariable &v) { v.type = DT_UInt16; }) << false;
    QTest::newRow("last element differs") << ints << changed([](CLabelVariable &v) {
        v.values = listOf<short>({1, 2, 4});
    }) << false;
    QTest::newRow("lengths differ") << ints << changed([](CLabelVariable &v) {
        v.values = listOf<short>({1, 2});
    }) << false;
    QTest::newRow("right holds another list type") << ints << changed([](CLabelVariable &v) {
        v.values = listOf<int>({1, 2, 3});
    }) << false;

    const CLabelVariable int32Empty = makeValue(DT_Int32, listOf<int>({}), 0);
    QTest::newRow("count 0, empty lists") << int32Empty << int32Empty << true;
    CLabelVariable int32EmptyOther = int32Empty;
    int32EmptyOther.tagName = QStringLiteral("Other");
    QTest::newRow("count 0, descriptions differ") << int32Empty << int32EmptyOther << false;
    QTest::newRow("count 0, lengths differ")
        << int32Empty << makeValue(DT_Int32, listOf<int>({1}), 0) << false;

    QTest::newRow("type 30 ignores the lists")
        << makeValue(30, listOf<int>({1}), 1) << makeValue(30, listOf<short>({2, 3}), 1) << true;
    CLabelVariable type30Aux = makeValue(30, listOf<int>({1}), 1);
    type30Aux.auxText = QStringLiteral("x");
    QTest::newRow("type 30 still compares descriptions")
        << makeValue(30, listOf<int>({1}), 1) << type30Aux << false;
    QTest::newRow("negative type ignores the lists")
        << makeValue(-1, listOf<int>({1}), 1) << makeValue(-1, listOf<int>({2}), 1) << true;
    QTest::newRow("type 0 ignores the lists")
        << makeValue(0, listOf<int>({1}), 1) << makeValue(0, QVariant(), 1) << true;

    const double nan = std::nan("");
    QTest::newRow("double NaN never equal")
        << makeValue(DT_Double, listOf<double>({1.0, nan}), 2)
        << makeValue(DT_Double, listOf<double>({1.0, nan}), 2) << false;
    QTest::newRow("double +0 equals -0") << makeValue(DT_Double, listOf<double>({0.0}), 1)
                                         << makeValue(DT_Double, listOf<double>({-0.0}), 1) << true;
    QTest::newRow("float NaN never equal")
        << makeValue(DT_Float, listOf<float>({std::nanf("")}), 1)
        << makeValue(DT_Float, listOf<float>({std::nanf("")}), 1) << false;
    QTest::newRow("float +0 equals -0") << makeValue(DT_Float, listOf<float>({0.0f}), 1)
                                        << makeValue(DT_Float, listOf<float>({-0.0f}), 1) << true;
    QTest::newRow("float code 34") << makeValue(34, listOf<float>({2.5f}), 1)
                                   << makeValue(34, listOf<float>({2.5f}), 1) << true;
    QTest::newRow("uint64 top bit differs")
        << makeValue(DT_UInt64, listOf<unsigned long long>({1ull << 63}), 1)
        << makeValue(DT_UInt64, listOf<unsigned long long>({0}), 1) << false;

    QTest::newRow("texts equal") << makeValue(DT_String, listOf<QString>({"ab", "c"}), 2)
                                 << makeValue(DT_String, listOf<QString>({"ab", "c"}), 2) << true;
    QTest::newRow("texts differ in case")
        << makeValue(DT_String, listOf<QString>({"ab"}), 1)
        << makeValue(DT_String, listOf<QString>({"AB"}), 1) << false;
    QTest::newRow("null text equals empty text")
        << makeValue(DT_String, listOf<QString>({QString()}), 1)
        << makeValue(DT_String, listOf<QString>({QString("")}), 1) << true;

    QTest::newRow("bool lists longer than count, differing past count")
        << makeValue(DT_Bool, listOf<bool>({true, false, true, true}), 2)
        << makeValue(DT_Bool, listOf<bool>({true, false, false, false}), 2) << true;
    QTest::newRow("bool lists longer than count, differing within count")
        << makeValue(DT_Bool, listOf<bool>({true, false, true, true}), 2)
        << makeValue(DT_Bool, listOf<bool>({true, true, true, true}), 2) << false;
    QTest::newRow("lists shorter than count, equal")
        << makeValue(DT_Int32, listOf<int>({5}), 3) << makeValue(DT_Int32, listOf<int>({5}), 3)
        << true;
    QTest::newRow("lists shorter than count, differing")
        << makeValue(DT_Int32, listOf<int>({5}), 3) << makeValue(DT_Int32, listOf<int>({6}), 3)
        << false;
    // A host count far beyond the data must not turn into a long walk.
    QTest::newRow("huge count over short lists")
        << makeValue(DT_Int32, listOf<int>({5}), std::numeric_limits<int>::max())
        << makeValue(DT_Int32, listOf<int>({5}), std::numeric_limits<int>::max()) << true;
}

void TestLabelCompare::equality()
{
    QFETCH(CLabelVariable, left);
    QFETCH(CLabelVariable, right);
    QFETCH(bool, expected);

    const CLabelVariable constRight = right;
    QCOMPARE(left == constRight, expected);
}

void TestLabelCompare::operandAccessStatus_data()
{
    QTest::addColumn<CLabelVariable>("left");
    QTest::addColumn<CLabelVariable>("right");
    QTest::addColumn<int>("expectedLeft");
    QTest::addColumn<int>("expectedRight");

    const CLabelVariable ints = makeValue(DT_Int32, listOf<int>({1, 2}), 2);
    QTest::newRow("all elements read") << ints << ints << 0 << 0;
    QTest::newRow("reads past the lists") << makeValue(DT_Int32, listOf<int>({1}), 4)
                                          << makeValue(DT_Int32, listOf<int>({1}), 4) << 10 << 10;
    QTest::newRow("lengths differ, nothing read")
        << ints << makeValue(DT_Int32, listOf<int>({1}), 2) << 7 << 7;
    QTest::newRow("no element type, nothing read")
        << makeValue(27, listOf<int>({1}), 1) << makeValue(27, listOf<int>({1}), 1) << 7 << 7;
    CLabelVariable otherName = makeValue(DT_Int32, listOf<int>({1, 2}), 2);
    otherName.tagName = QStringLiteral("Other");
    // Differing descriptions end the walk at the first pair; reading it
    // still overwrites the codes.
    QTest::newRow("descriptions differ") << ints << otherName << 0 << 0;
}

void TestLabelCompare::operandAccessStatus()
{
    QFETCH(CLabelVariable, left);
    QFETCH(CLabelVariable, right);
    QFETCH(int, expectedLeft);
    QFETCH(int, expectedRight);

    left.accessStatus = 7;
    right.accessStatus = 7;
    const CLabelVariable &constRight = right;
    (void)(left == constRight);
    QCOMPARE(left.accessStatus, expectedLeft);
    QCOMPARE(right.accessStatus, expectedRight);
}

QTEST_GUILESS_MAIN(TestLabelCompare)
#include "tst_labelcompare.moc"
