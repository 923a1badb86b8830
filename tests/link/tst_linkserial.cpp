#include "CmdQuorvex.h"
#include "LinkTestFrames.h"
#include "LoopbackPeer.h"
#include "PtyPair.h"

#include <QSerialPort>
#include <QtTest>

using namespace linktest;

Q_DECLARE_METATYPE(QSerialPort::Parity)
Q_DECLARE_METATYPE(QSerialPort::DataBits)
Q_DECLARE_METATYPE(QSerialPort::StopBits)

class TstLinkSerial : public QObject
{
    Q_OBJECT

private:
    static bool openOn(CmdQuorvex &link, const PtyPair &pty, int baud = 9600,
                       const QString &parity = "N")
    {
        return link.serialConnectDrive(pty.slaveName(), baud, 8, 1, parity) == 0;
    }

private slots:
    void replies_data()
    {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("splitAt");
        QTest::addColumn<int>("gapMs");
        QTest::addColumn<int>("rc");
        QTest::addColumn<int>("baud");
        QTest::addColumn<int>("byteGapUs"); // 0: as fast as the pty goes
        QTest::addColumn<QByteArray>("taken");
        const QByteArray frame = rrFrame(QByteArray::fromHex("cc000000c400e8030000"));
        QTest::newRow("taken after the line goes quiet")
            << frame << -1 << 0 << 0 << 9600 << 0 << frame;
        QTest::newRow("pause inside the header") << frame << 12 << 25 << 0 << 9600 << 0 << frame;
        QTest::newRow("pause inside the data") << frame << 30 << 40 << 0 << 9600 << 0 << frame;
        // Replies that take longer on the wire than any fixed poll: a DINT,
        // a text and a full fragment, at 8N1 (10 bits a byte).
        const auto sized = [](int total) { return rrFrame(QByteArray(total - 24, '\x5a')); };
        QTest::newRow("9600: DINT reply, 50 bytes")
            << sized(50) << -1 << 0 << 0 << 9600 << 1042 << sized(50);
        QTest::newRow("9600: text reply, 136 bytes")
            << sized(136) << -1 << 0 << 0 << 9600 << 1042 << sized(136);
        QTest::newRow("9600: full fragment, 526 bytes")
            << sized(526) << -1 << 0 << 0 << 9600 << 1042 << sized(526);
        QTest::newRow("19200: full fragment, 526 bytes")
            << sized(526) << -1 << 0 << 0 << 19200 << 521 << sized(526);
        // Bytes that cannot start a frame (the tail of a reply cut off
        // earlier) are dropped, never taken as this request's frame.
        QTest::newRow("no frame start: dropped")
            << QByteArray("bonjour") << -1 << 0 << -1 << 9600 << 0 << QByteArray();
        QTest::newRow("a cut frame's tail before the reply")
            << frame.mid(30) + frame << -1 << 0 << 0 << 9600 << 0 << frame;
        QTest::newRow("no reply") << QByteArray() << -1 << 0 << -1 << 9600 << 0 << QByteArray();
    }
    void replies()
    {
        QFETCH(QByteArray, answer);
        QFETCH(int, splitAt);
        QFETCH(int, gapMs);
        QFETCH(int, rc);
        QFETCH(int, baud);
        QFETCH(int, byteGapUs);
        QFETCH(QByteArray, taken);
        PtyPair pty;
        QVERIFY(pty.isOpen());
        PtyPeer peer(pty);
        CmdQuorvex link;
        QVERIFY(openOn(link, pty, baud));
        QCOMPARE(link.Connection_status(), 0);
        if (answer.isEmpty())
            peer.enqueue(PeerStep::silent());
        else if (byteGapUs > 0)
            peer.enqueue(PeerStep::paced(answer, byteGapUs, 20));
        else
            peer.enqueue(PeerStep::split(answer, splitAt, gapMs, 20));
        const QByteArray request = ask(link, "question");
        QByteArray reply;
        QCOMPARE(link.SendData(request, reply, 50), rc);
        QCOMPARE(reply.toHex(), PeerStep::echoed(taken, request).toHex());
        QCOMPARE(peer.requests(), QList<QByteArray>{request});
    }

    void leftoverNotTakenByTheNextRequest_data()
    {
        QTest::addColumn<bool>("late");
        QTest::newRow("duplicate reply") << false;
        QTest::newRow("late reply") << true;
    }
    void leftoverNotTakenByTheNextRequest()
    {
        QFETCH(bool, late);
        PtyPair pty;
        PtyPeer peer(pty);
        CmdQuorvex link;
        QVERIFY(openOn(link, pty));
        const QByteArray stale = rrFrame("first");
        peer.enqueue(late ? PeerStep::reply(stale, 700) : PeerStep::duplicated(stale));
        peer.enqueue(PeerStep::reply(rrFrame("second"), 20));
        QByteArray first;
        const QByteArray one = ask(link, "one");
        QCOMPARE(link.SendData(one, first, 50), late ? -1 : 0);
        QCOMPARE(first, late ? QByteArray() : PeerStep::echoed(stale, one));
        // the late bytes wait on the line, unread, when the next request goes
        QVERIFY(waitWithoutEvents([&] { return peer.repliesDone() == 1; }, 5000));
        QByteArray second;
        const QByteArray two = ask(link, "two");
        QCOMPARE(link.SendData(two, second, 50), 0);
        QCOMPARE(second, PeerStep::echoed(rrFrame("second"), two));
        // the copy or the late reply was dropped, and counted as what it was
        const ReplyChannel::Counters n = link.replies().counters();
        QCOMPARE(late ? n.lateDropped : n.unmatchedDropped, quint64(1));
    }

    void baudRateAndFrameGap_data()
    {
        QTest::addColumn<QList<int>>("rates");
        QTest::addColumn<int>("gap");
        QTest::addColumn<qint32>("rateSet");
        QTest::newRow("1200 keeps the default") << QList<int>{1200} << 2 << 1200;
        QTest::newRow("2400") << QList<int>{2400} << 10 << 2400;
        QTest::newRow("4800") << QList<int>{4800} << 6 << 4800;
        QTest::newRow("9600") << QList<int>{9600} << 3 << 9600;
        QTest::newRow("115200 keeps the default") << QList<int>{115200} << 2 << 115200;
        QTest::newRow("2400 then 19200 keeps 10") << QList<int>{2400, 19200} << 10 << 19200;
        QTest::newRow("9600 then 300: rate and gap stay") << QList<int>{9600, 300} << 3 << 9600;
    }
    void baudRateAndFrameGap()
    {
        QFETCH(QList<int>, rates);
        QFETCH(int, gap);
        QFETCH(qint32, rateSet);
        PtyPair pty;
        CmdQuorvex link;
        for (int rate : rates)
            QCOMPARE(link.serialConnectDrive(pty.slaveName(), rate, 8, 1, "N"), 0);
        QCOMPARE(link.frameGapMs, gap);
        QCOMPARE(link.serialPort->baudRate(), rateSet);
        QVERIFY(link.serialPort->isOpen());
        QVERIFY(link.frameTimer != nullptr);
    }

    void parity_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QSerialPort::Parity>("parity");
        // every row starts from odd parity
        QTest::newRow("N") << "N" << QSerialPort::NoParity;
        QTest::newRow("none") << "none" << QSerialPort::NoParity;
        QTest::newRow("E") << "E" << QSerialPort::EvenParity;
        QTest::newRow("e") << "e" << QSerialPort::EvenParity;
        QTest::newRow("Even is even") << "Even" << QSerialPort::EvenParity;
        QTest::newRow("o") << "o" << QSerialPort::OddParity;
        QTest::newRow("m") << "m" << QSerialPort::MarkParity;
        QTest::newRow("Mark") << "Mark" << QSerialPort::MarkParity;
        QTest::newRow("s") << "s" << QSerialPort::SpaceParity;
        QTest::newRow("Space") << "Space" << QSerialPort::SpaceParity;
        QTest::newRow("empty leaves it") << "" << QSerialPort::OddParity;
        QTest::newRow("unknown letter leaves it") << "x-none" << QSerialPort::OddParity;
    }
    void parity()
    {
        QFETCH(QString, text);
        QFETCH(QSerialPort::Parity, parity);
        PtyPair pty;
        CmdQuorvex link;
        QVERIFY(openOn(link, pty, 9600, "O"));
        QCOMPARE(link.serialPort->parity(), QSerialPort::OddParity);
        QVERIFY(openOn(link, pty, 9600, text));
        QCOMPARE(link.serialPort->parity(), parity);
    }

    void dataAndStopBits_data()
    {
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<QSerialPort::DataBits>("data");
        QTest::addColumn<QSerialPort::StopBits>("stop");
        // Every row starts from 8 data bits and two stop bits. (A pty refuses
        // 6 and 7 data bits outright, so those values are not among the rows.)
        QTest::newRow("8 / 1") << 8 << 1 << QSerialPort::Data8 << QSerialPort::OneStop;
        QTest::newRow("5 / 2") << 5 << 2 << QSerialPort::Data5 << QSerialPort::TwoStop;
        QTest::newRow("3 is one and a half")
            << 8 << 3 << QSerialPort::Data8 << QSerialPort::OneAndHalfStop;
        QTest::newRow("9 and 0 leave both") << 9 << 0 << QSerialPort::Data8 << QSerialPort::TwoStop;
        QTest::newRow("4 and 4 leave both") << 4 << 4 << QSerialPort::Data8 << QSerialPort::TwoStop;
    }
    void dataAndStopBits()
    {
        QFETCH(int, dataBits);
        QFETCH(int, stopBits);
        QFETCH(QSerialPort::DataBits, data);
        QFETCH(QSerialPort::StopBits, stop);
        PtyPair pty;
        CmdQuorvex link;
        QCOMPARE(link.serialConnectDrive(pty.slaveName(), 9600, 8, 2, "N"), 0);
        QCOMPARE(link.serialPort->stopBits(), QSerialPort::TwoStop);
        QCOMPARE(link.serialConnectDrive(pty.slaveName(), 9600, dataBits, stopBits, "N"), 0);
        QCOMPARE(link.serialPort->dataBits(), data);
        QCOMPARE(link.serialPort->stopBits(), stop);
        QCOMPARE(link.serialPort->flowControl(), QSerialPort::NoFlowControl);
    }

    void openAndClose()
    {
        CmdQuorvex link;
        QCOMPARE(link.serialConnectDrive("/dev/quorvex-no-such-port", 9600, 8, 1, "N"), -1);
        QVERIFY(link.serialPort != nullptr);
        QVERIFY(link.frameTimer == nullptr);
        QCOMPARE(link.Connection_status(), -3);
        QCOMPARE(link.serialDisConnectDrive(), 1);
        PtyPair pty;
        QVERIFY(openOn(link, pty));
        QCOMPARE(link.Connection_status(), 0);
        QCOMPARE(link.serialDisConnectDrive(), 0);
        QCOMPARE(link.Connection_status(), -3);
        QCOMPARE(link.DestroyFree(), 0);
        QVERIFY(link.serialPort == nullptr && link.frameTimer == nullptr);
        QCOMPARE(link.line().active(), Line::Transport::None);
    }

    void lastConnectedTransportCarriesTraffic()
    {
        LoopbackPeer tcpPeer;
        PtyPair pty;
        PtyPeer serialPeer(pty);
        CmdQuorvex link;
        tcpPeer.enqueue(PeerStep::reply(registerReply(0x0A0B0C0D)));
        QCOMPARE(link.EthConnectDrive("127.0.0.1", tcpPeer.port()), 0);
        QCOMPARE(link.line().active(), Line::Transport::Tcp);

        // opened later: the serial line now carries the requests
        QVERIFY(openOn(link, pty));
        QCOMPARE(link.line().active(), Line::Transport::Serial);
        serialPeer.enqueue(PeerStep::reply(rrFrame("by serial"), 10));
        QByteArray reply;
        const QByteArray overSerial = ask(link, "over serial");
        QCOMPARE(link.SendData(overSerial, reply, 50), 0);
        QCOMPARE(reply, PeerStep::echoed(rrFrame("by serial"), overSerial));
        QCOMPARE(serialPeer.requests(), QList<QByteArray>{overSerial});
        QCOMPARE(tcpPeer.requestCount(), 1); // the registration only

        // a closed serial port is what the status reports, not the socket
        QCOMPARE(link.serialDisConnectDrive(), 0);
        QCOMPARE(link.Connection_status(), -3);

        // releasing the serial objects hands the traffic back to the socket,
        // whose slots are still attached
        QCOMPARE(link.deleteSerialPort(), 0);
        QCOMPARE(link.line().active(), Line::Transport::None);
        QCOMPARE(link.Connection_status(), 0);
        tcpPeer.enqueue(PeerStep::reply(rrFrame("by tcp")));
        reply.clear();
        const QByteArray overTcp = ask(link, "over tcp");
        QCOMPARE(link.SendData(overTcp, reply, 50), 0);
        QCOMPARE(reply, PeerStep::echoed(rrFrame("by tcp"), overTcp));

        // and a TCP connect after a serial open takes the traffic back
        QVERIFY(openOn(link, pty));
        tcpPeer.enqueue(PeerStep::reply(registerReply(0x0A0B0C0E)));
        QCOMPARE(link.EthConnectDrive("127.0.0.1", tcpPeer.port()), 0);
        QCOMPARE(link.line().active(), Line::Transport::Tcp);
        QCOMPARE(serialPeer.requestCount(), 1);

        // a controller that refuses the session leaves the serial line in charge
        QVERIFY(openOn(link, pty));
        tcpPeer.enqueue(PeerStep::reply(registerReply(0, 0x69)));
        QCOMPARE(link.EthConnectDrive("127.0.0.1", tcpPeer.port()), -3);
        QCOMPARE(link.line().active(), Line::Transport::Serial);
        serialPeer.enqueue(PeerStep::reply(rrFrame("still serial"), 10));
        reply.clear();
        const QByteArray afterRefusal = ask(link, "after refusal");
        QCOMPARE(link.SendData(afterRefusal, reply, 50), 0);
        QCOMPARE(reply, PeerStep::echoed(rrFrame("still serial"), afterRefusal));

        // a release lets go of both, the socket's connection included
        QCOMPARE(link.DestroyFree(), 0);
        QVERIFY(link.tcpSocket == nullptr && link.serialPort == nullptr);
        QTRY_COMPARE(tcpPeer.openConnections(), 0);
        QCOMPARE(link.DestroyFree(), 1);
    }
};

QTEST_GUILESS_MAIN(TstLinkSerial)
#include "tst_linkserial.moc"
