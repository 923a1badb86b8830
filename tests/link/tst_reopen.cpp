#include "Line.h"
#include "MessageCapture.h"
#include "Recovery.h"

#include <QHostAddress>
#include <QtTest>

// When the recovery part starts attempts and what it tells of them, on a
// clock of the test's own: a controller that refuses, one whose cable is
// pulled (connects unanswered), one that takes connections but no
// registration, and a host that disconnects while an attempt waits.

class TstReopen : public QObject
{
    Q_OBJECT

private slots:
    void attemptsAndLines_data()
    {
        QTest::addColumn<QString>("answer"); // refused, unanswered, silent
        QTest::addColumn<int>("backAt");     // the attempt that succeeds; 0 none
        QTest::addColumn<int>("stopAtMs");   // DisConnectDrive; -1 none
        QTest::addColumn<int>("runMs");
        QTest::addColumn<QList<int>>("starts"); // of the first attempts, ms after the loss
        QTest::addColumn<int>("drops");
        QTest::addColumn<QStringList>("told"); // after "连接中断 ... reason = ..."

        const QString at = "lib[Quorvex]%1 127.0.0.1:44818 ";
        const QString failed = at.arg("重新连接失败") + "attempt = %1 retry in %2 ms reason = %3";
        QTest::newRow("back at the first attempt")
            << "refused" << 1 << -1 << 500 << QList<int>{0} << 0
            << QStringList{at.arg("重新连接成功") + "down = 0 ms attempts = 1"};
        QTest::newRow("refused until the sixth attempt")
            << "refused" << 6 << -1 << 5000 << QList<int>{0, 100, 300, 700, 1500, 2500} << 5
            << QStringList{failed.arg(1).arg(100).arg("Connection refused"),
                           failed.arg(2).arg(200).arg("Connection refused"),
                           failed.arg(3).arg(400).arg("Connection refused"),
                           at.arg("重新连接成功") + "down = 2500 ms attempts = 6"};
        // Each connect runs into its deadline, and the next starts at once.
        const QString unanswered = "no answer in 1000 ms";
        QTest::newRow("connects unanswered for 65 s")
            << "unanswered" << 0 << -1 << 65000 << QList<int>{0, 1000, 2000, 3000} << 64
            << QStringList{
                   failed.arg(1).arg(0).arg(unanswered), failed.arg(2).arg(0).arg(unanswered),
                   failed.arg(3).arg(0).arg(unanswered),
                   at.arg("仍在重新连接") + "down = 30000 ms attempts = 30 reason = " + unanswered,
                   at.arg("仍在重新连接") + "down = 60000 ms attempts = 60 reason = " + unanswered};
        const QString silent = "no answer in 550 ms";
        QTest::newRow("registrations unanswered until the third attempt")
            << "silent" << 3 << -1 << 3000 << QList<int>{0, 550, 1100} << 2
            << QStringList{failed.arg(1).arg(0).arg(silent), failed.arg(2).arg(0).arg(silent),
                           at.arg("重新连接成功") + "down = 1100 ms attempts = 3"};
        QTest::newRow("disconnect while a connect waits")
            << "unanswered" << 0 << 500 << 3000 << QList<int>{0} << 1 << QStringList();
    }

    void attemptsAndLines()
    {
        QFETCH(QString, answer);
        QFETCH(int, backAt);
        QFETCH(int, stopAtMs);
        QFETCH(int, runMs);
        QFETCH(QList<int>, starts);
        QFETCH(int, drops);
        QFETCH(QStringList, told);

        using Phase = Recovery::Phase;
        using Progress = Recovery::Progress;
        const QHostAddress host(QStringLiteral("127.0.0.1"));
        const int port = 44818;
        const bool trace = false;
        QByteArray received;
        const QByteArray session;
        QTcpSocket *socket = nullptr;
        QSerialPort *serialPort = nullptr;
        QTimer *timer = nullptr;
        int gapMs = 0;
        const Line line{LineFields{received, session, socket, serialPort, timer, gapMs}};
        qint64 now = 0;
        QList<int> started;
        int dropped = 0;
        int stepsAfterStop = 0;
        bool stopped = false;
        const auto step = [&](Phase phase, bool first, bool) {
            stepsAfterStop += stopped;
            if (phase == Phase::Transport && first)
                started << int(now);
            Recovery::Outcome o;
            if (started.size() == backAt) {
                o.progress = Progress::Done;
            } else if (answer == "refused") {
                o.progress = Progress::Failed;
                o.reason = "Connection refused";
            } else if (answer == "silent" && phase == Phase::Transport) {
                o.progress = Progress::Done;
            } else {
                o.progress = first ? Progress::Sent : Progress::Waiting;
            }
            return o;
        };
        Recovery r(linklog::Where{host, port, trace, line}, step, [&] { ++dropped; });
        r.setClock([&] { return now; });
        r.begin(true, 550);
        MessageCapture log;
        r.lost("The remote host closed the connection");
        QVERIFY(r.down());
        for (; now < runMs; now += 10) {
            if (now == stopAtMs) {
                r.stop();
                stopped = true;
            }
            r.advance();
        }

        QCOMPARE(started.mid(0, starts.size()), starts);
        QCOMPARE(dropped, drops);
        QCOMPARE(stepsAfterStop, 0);
        QCOMPARE(r.down(), backAt == 0);
        QCOMPARE(r.attempting(), backAt == 0 && stopAtMs < 0);
        QStringList lines = log.lines(QtWarningMsg);
        QCOMPARE(lines.value(0), "lib[Quorvex]连接中断 127.0.0.1:44818 reason = The remote host "
                                 "closed the connection");
        QCOMPARE(lines.mid(1), told);
    }
};

QTEST_GUILESS_MAIN(TstReopen)
#include "tst_reopen.moc"
