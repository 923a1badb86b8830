#include <QtTest>

#include "LibQuorvex.h"

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
