// The local time of reads and writes: the UTC clock and an offset asked once
// per UTC second.
#include "LocalClock.h"

#include <QtTest>

class TestLocalClock : public QObject
{
    Q_OBJECT

private slots:
    void followsTheOffset_data();
    void followsTheOffset();
    void systemZone();
};

// Each row's instants go in order through one cache; the zone moves from
// +01:00 to +02:00 at 2024-03-31T01:00:00Z and is asked only in a new second.
void TestLocalClock::followsTheOffset_data()
{
    QTest::addColumn<QList<qint64>>("utcMs");
    QTest::addColumn<QStringList>("local");
    QTest::addColumn<int>("asks");
    const qint64 change = 1711846800000;
    QTest::newRow("one second, asked once")
        << QList<qint64>{change - 999, change - 1}
        << QStringList{"2024-03-31T01:59:59.001+01:00", "2024-03-31T01:59:59.999+01:00"} << 1;
    QTest::newRow("across the change and back")
        << QList<qint64>{change - 1, change, change - 1}
        << QStringList{"2024-03-31T01:59:59.999+01:00", "2024-03-31T03:00:00.000+02:00",
                       "2024-03-31T01:59:59.999+01:00"}
        << 3;
}

void TestLocalClock::followsTheOffset()
{
    QFETCH(QList<qint64>, utcMs);
    QFETCH(QStringList, local);
    QFETCH(int, asks);
    localclock::OffsetCache cache;
    int asked = 0;
    const localclock::OffsetAt zone = [&asked](qint64 s) {
        ++asked;
        return s < 1711846800 ? 3600 : 7200;
    };
    for (int i = 0; i < utcMs.size(); ++i)
        QCOMPARE(localclock::localTime(utcMs[i], cache, zone).toString(Qt::ISODateWithMs),
                 local[i]);
    QCOMPARE(asked, asks);
}

// The system's zone gives the wall-clock time and offset Qt's local time
// gives for the same instant.
void TestLocalClock::systemZone()
{
    const QDateTime t = localclock::now();
    const QDateTime qt = QDateTime::fromMSecsSinceEpoch(t.toMSecsSinceEpoch(), Qt::LocalTime);
    QCOMPARE(t.offsetFromUtc(), qt.offsetFromUtc());
    QCOMPARE(t.toString(Qt::ISODateWithMs).left(23), qt.toString(Qt::ISODateWithMs).left(23));
}

QTEST_GUILESS_MAIN(TestLocalClock)
#include "tst_localclock.moc"
