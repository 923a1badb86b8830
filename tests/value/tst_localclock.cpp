// The local time of reads and writes, taken from the UTC clock and an offset
// asked once per UTC second.
#include "LocalClock.h"

#include <QtTest>

namespace
{

// A zone that moves from +01:00 to +02:00 at ChangeSecond.
constexpr qint64 ChangeSecond = 1711846800; // 2024-03-31T01:00:00Z
int zone(qint64 utcSecond)
{
    return utcSecond < ChangeSecond ? 3600 : 7200;
}

} // namespace

class TestLocalClock : public QObject
{
    Q_OBJECT

private slots:
    void followsTheOffset_data();
    void followsTheOffset();
    void systemZone();
};

// Each row runs its instants in order through one cache: the local time
// must be the zone's for every instant, and the zone is asked only when a
// new second begins.
void TestLocalClock::followsTheOffset_data()
{
    QTest::addColumn<QList<qint64>>("utcMs");
    QTest::addColumn<QStringList>("local");
    QTest::addColumn<int>("asks");

    const qint64 change = ChangeSecond * 1000;
    QTest::newRow("one second, asked once")
        << QList<qint64>{change - 999, change - 500, change - 1}
        << QStringList{"2024-03-31T01:59:59.001+01:00", "2024-03-31T01:59:59.500+01:00",
                       "2024-03-31T01:59:59.999+01:00"}
        << 1;
    QTest::newRow("across the change")
        << QList<qint64>{change - 1, change, change + 1}
        << QStringList{"2024-03-31T01:59:59.999+01:00", "2024-03-31T03:00:00.000+02:00",
                       "2024-03-31T03:00:00.001+02:00"}
        << 2;
    QTest::newRow("back in time, asked again")
        << QList<qint64>{change, change - 1}
        << QStringList{"2024-03-31T03:00:00.000+02:00", "2024-03-31T01:59:59.999+01:00"} << 2;
    QTest::newRow("before 1970") << QList<qint64>{-1, 0}
                                 << QStringList{"1970-01-01T00:59:59.999+01:00",
                                                "1970-01-01T01:00:00.000+01:00"}
                                 << 2;
}

void TestLocalClock::followsTheOffset()
{
    QFETCH(QList<qint64>, utcMs);
    QFETCH(QStringList, local);
    QFETCH(int, asks);
    localclock::OffsetCache cache;
    int asked = 0;
    const localclock::OffsetAt counted = [&asked](qint64 s) {
        ++asked;
        return zone(s);
    };
    for (int i = 0; i < utcMs.size(); ++i) {
        const QDateTime t = localclock::localTime(utcMs[i], cache, counted);
        QCOMPARE(t.toString(Qt::ISODateWithMs), local[i]);
        QCOMPARE(t.toMSecsSinceEpoch(), utcMs[i]);
    }
    QCOMPARE(asked, asks);
}

// The system's own zone gives the same wall-clock time and offset as Qt's
// local time of the same instant.
void TestLocalClock::systemZone()
{
    const QDateTime before = QDateTime::currentDateTime();
    const QDateTime t = localclock::now();
    const QDateTime after = QDateTime::currentDateTime();
    QVERIFY(t >= before && t <= after);
    const QDateTime qt = QDateTime::fromMSecsSinceEpoch(t.toMSecsSinceEpoch(), Qt::LocalTime);
    QCOMPARE(t.offsetFromUtc(), qt.offsetFromUtc());
    QCOMPARE(t.date(), qt.date());
    QCOMPARE(t.time(), qt.time());
}

QTEST_GUILESS_MAIN(TestLocalClock)
#include "tst_localclock.moc"
