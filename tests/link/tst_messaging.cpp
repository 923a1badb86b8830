#include <QtTest>

#include "ByteOrder.h"
#include "EncapFrame.h"
#include "ForwardOpen.h"
#include "Messaging.h"
#include "UnitData.h"

using messaging::Verdict;

namespace
{

const QByteArray Session = QByteArray::fromHex("11223344");
const char *const EncapTail = "11223344 00000000 0000000000000000 00000000";
constexpr quint32 OtId = 0x55667788; // the target's choice
constexpr quint32 ToId = 0xA1B2C3D4; // ours
constexpr quint16 Sequence = 7;

QByteArray hex(const char *h)
{
    return QByteArray::fromHex(h);
}

// A SendRRData request: encapsulation length, then item length and message.
QByteArray rr(const char *length, const char *item)
{
    return hex(QByteArray("6f00") + length + EncapTail + "00000000 0a00 0200 0000 0000 b200" +
               item);
}

route::Route routeOf(const char *text)
{
    route::Route r;
    if (!route::parseRoute(QString::fromLatin1(text), &r))
        qFatal("bad route in the test: %s", text);
    return r;
}

const char *verdictName(Verdict v)
{
    static const char *const names[] = {"ok",      "partial", "empty", "length", "encapsulation",
                                        "service", "refused", "stale", "lost"};
    return names[int(v)];
}

// Reply frames as a target sends them, lengths counted here.
QByteArray rrReply(const char *mr, quint32 status = 0)
{
    const QByteArray m = hex(mr);
    QByteArray f =
        hex("6f00 0000") + hex(EncapTail) + hex("00000000 0000 0200 0000 0000 b200 0000");
    le::set16(f, 2, quint16(16 + m.size()));
    le::set16(f, 8, quint16(status));
    le::set16(f, 38, quint16(m.size()));
    return f + m;
}

QByteArray unitReply(quint32 id, quint16 sequence, const char *mr, quint32 status = 0)
{
    const QByteArray m = hex(mr);
    QByteArray f = hex("7000 0000") + hex(EncapTail) + hex("00000000 0000 0200 a100 0400");
    le::put32(f, id);
    le::put16(f, 0x00B1);
    le::put16(f, quint16(2 + m.size()));
    le::put16(f, sequence);
    le::set16(f, 2, quint16(f.size() - 24 + m.size()));
    le::set16(f, 8, quint16(status));
    return f + m;
}

// What a reply was taken for, in one line: the envelope's verdict, the
// Message Router reply, and what the parser of its kind made of it.
QString describe(const QString &kind, const QByteArray &frame)
{
    // What tells whose reply a frame is: the sender context, or on a
    // connection the id and the sequence count.
    if (kind == QLatin1String("key")) {
        const unitdata::Address a = unitdata::addressOf(frame);
        if (a.ok)
            return QStringLiteral("id=%1 seq=%2").arg(a.connectionId, 0, 16).arg(a.sequence);
        return QStringLiteral("context=%1").arg(encap::contextOf(frame), 0, 16);
    }
    Verdict v;
    QByteArray mr;
    if (kind == QLatin1String("unit")) {
        const unitdata::Unwrapped u = unitdata::unwrap(frame, {OtId, ToId, Sequence});
        v = u.verdict;
        mr = u.mr;
    } else {
        const messaging::Unwrapped u = messaging::unwrapUnconnected(frame);
        v = u.verdict;
        mr = u.mr;
    }
    QString s = QLatin1String(verdictName(v));
    if (mr.isEmpty())
        return s;
    const messaging::MrReply m = messaging::parseMrReply(mr);
    QStringList ext;
    for (quint16 e : m.ext)
        ext << QString::number(e, 16);
    s += QStringLiteral(" %1 %2 status=%3 ext=%4")
             .arg(QLatin1String(verdictName(m.verdict)))
             .arg(m.service, 0, 16)
             .arg(m.generalStatus, 0, 16)
             .arg(ext.join(QLatin1Char(',')));
    if (kind == QLatin1String("fo") || kind == QLatin1String("lfo")) {
        const connmgr::OpenReply o = connmgr::parseForwardOpenReply(mr, kind == "lfo");
        return s + QStringLiteral(": %1 ot=%2 to=%3 serial=%4 rpi=%5 accepted=%6")
                       .arg(QLatin1String(verdictName(o.verdict)))
                       .arg(o.otConnectionId, 0, 16)
                       .arg(o.toConnectionId, 0, 16)
                       .arg(o.serial, 0, 16)
                       .arg(o.toRpiUs)
                       .arg(o.acceptedSize);
    }
    if (kind == QLatin1String("fc")) {
        const connmgr::CloseReply c = connmgr::parseForwardCloseReply(mr);
        return s + QStringLiteral(": %1 serial=%2")
                       .arg(QLatin1String(verdictName(c.verdict)))
                       .arg(c.serial, 0, 16);
    }
    return s + QStringLiteral(" gone=%1 data=%2")
                   .arg(int(messaging::connectionGone(m)))
                   .arg(QString::fromLatin1(m.data.toHex()));
}

} // namespace

// The frames of routed, direct and connected messaging, and the judging of
// their replies.
class TestMessaging : public QObject
{
    Q_OBJECT

private slots:
    void goldenFrames_data()
    {
        QTest::addColumn<QByteArray>("built");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray bufRead = hex("4c04 9103427566002807 0100");
        const QByteArray bufFragmented = hex("5204 9103427566002807 0300 00000000");
        // Write Tag of one SINT: 13 bytes, so the Unconnected Send pads it.
        const QByteArray oddWrite = hex("4d03 9103414243 00 c200 0100 05");
        const route::Route defaults;

        QTest::newRow("default route as today, Buf[7] count 1")
            << messaging::unconnectedFrame(Session, defaults, bufRead)
            << rr("2a00", "1a00 5202200624010af00c00 4c04 9103427566002807 0100 01000100");
        QTest::newRow("default route as today, Buf[7] count 3")
            << messaging::unconnectedFrame(Session, defaults, bufFragmented)
            << rr("2e00", "1e00 5202200624010af01000 5204 9103427566002807 0300 00000000 01000100");
        QTest::newRow("slot 3, odd request padded")
            << messaging::unconnectedFrame(Session, route::backplane(3), oddWrite)
            << rr("2c00", "1c00 5202200624010af00d00 4d03 9103414243 00 c200 0100 05 00 0100 0103");
        QTest::newRow("bridged route")
            << messaging::unconnectedFrame(Session, routeOf("1,2,2,10.0.0.7,1,0"), bufRead)
            << rr("3600", "2600 5202200624010af00c00 4c04 9103427566002807 0100"
                          "0700 0102 1208 31302e302e302e37 0100");
        QTest::newRow("direct") << messaging::unconnectedFrame(Session, route::directRoute(),
                                                               bufRead)
                                << rr("1c00", "0c00 4c04 9103427566002807 0100");

        connmgr::OpenRequest open;
        open.toConnectionId = ToId;
        open.serial = 0x1234;
        QTest::newRow("forward open, default route")
            << messaging::sendRRData(Session, connmgr::forwardOpenRequest(open))
            << rr("4000", "3000 5402 20062401 0af0 00000000 d4c3b2a1 3412 feff 01005651 02 000000"
                          "80841e00 f443 80841e00 f443 a3 03 0100 20022401");
        open.large = true;
        open.toConnectionId = 0x01020304;
        open.serial = 1;
        open.connectionSize = connmgr::LargeConnectionSize;
        open.route = routeOf("1,2,2,10.0.0.7,1,0");
        QTest::newRow("large forward open, bridged")
            << messaging::sendRRData(Session, connmgr::forwardOpenRequest(open))
            << rr("5000", "4000 5b02 20062401 0af0 00000000 04030201 0100 feff 01005651 02 000000"
                          "80841e00 a20f0042 80841e00 a20f0042 a3 09"
                          "0102 1208 31302e302e302e37 0100 20022401");
        QTest::newRow("forward close, direct")
            << messaging::sendRRData(Session,
                                     connmgr::forwardCloseRequest({0x1234, route::directRoute()}))
            << rr("2600", "1600 4e02 20062401 0af0 3412 feff 01005651 02 00 20022401");
        QTest::newRow("send unit data")
            << unitdata::frame(Session, OtId, Sequence, bufRead)
            << hex("70002200 1122334400000000000000000000000000000000 00000000 0000 0200"
                   "a100 0400 88776655 b100 0e00 0700 4c04 9103427566002807 0100");
    }

    void goldenFrames()
    {
        QFETCH(QByteArray, built);
        QFETCH(QByteArray, expected);
        QCOMPARE(built.toHex(), expected.toHex());
    }

    // The largest request the limits allow fills one unconnected message.
    void unconnectedLimitFillsOneMessage_data()
    {
        QTest::addColumn<QString>("route");
        QTest::newRow("default") << "1,0";
        QTest::newRow("bridged") << "1,2,2,10.0.0.7,1,0";
        QTest::newRow("direct") << "none";
    }

    void unconnectedLimitFillsOneMessage()
    {
        QFETCH(QString, route);
        const route::Route r = routeOf(route.toLatin1().constData());
        const int n = messaging::unconnectedLimits(r).request;
        const QByteArray f = messaging::unconnectedFrame(Session, r, QByteArray(n, 'x'));
        QCOMPARE(int(le::getPadded(f, 38, 2)), 504);
    }

    void replies_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("taken");
        QTest::newRow("forward open accepted")
            << "fo"
            << rrReply("d4000000 0df00d60 d4c3b2a1 3412 feff 01005651 80841e00 40420f00 00 00")
            << "ok ok d4 status=0 ext=: ok ot=600df00d to=a1b2c3d4 serial=1234 rpi=1000000 "
               "accepted=0";
        QTest::newRow("forward open cut short")
            << "fo" << rrReply("d4000000 0df00d60 d4c3b2a1 3412 feff 01005651 80841e00")
            << "ok ok d4 status=0 ext=: length ot=600df00d to=a1b2c3d4 serial=1234 rpi=0 "
               "accepted=0";
        QTest::newRow("large forward open: size too large")
            << "lfo" << rrReply("db000102 0901 f401 3412 feff 01005651 00 00")
            << "ok ok db status=1 ext=109,1f4: refused ot=0 to=0 serial=1234 rpi=0 accepted=500";
        QTest::newRow("forward open: the target takes more than a Forward Open can ask")
            << "fo" << rrReply("d4000102 0901 5802 3412 feff 01005651 00 00")
            << "ok ok d4 status=1 ext=109,258: refused ot=0 to=0 serial=1234 rpi=0 accepted=511";
        QTest::newRow("large forward open not supported")
            << "lfo" << rrReply("db000800")
            << "ok ok db status=8 ext=: refused ot=0 to=0 serial=0 rpi=0 accepted=0";
        QTest::newRow("forward open answered by another service")
            << "fo" << rrReply("cc000000 c4002a000000")
            << "ok ok cc status=0 ext=: service ot=0 to=0 serial=0 rpi=0 accepted=0";
        QTest::newRow("forward close accepted")
            << "fc" << rrReply("ce000000 3412 feff 01005651 00 00")
            << "ok ok ce status=0 ext=: ok serial=1234";
        QTest::newRow("routing failure")
            << "rr" << rrReply("d2000101 1203 01") << "ok ok d2 status=1 ext=312 gone=0 data=01";
        QTest::newRow("status words past the end")
            << "rr" << rrReply("cc00ff02 0521") << "ok length cc status=ff ext= gone=0 data=";
        QTest::newRow("nothing came") << "rr" << QByteArray() << "empty";
        QTest::newRow("encapsulation status")
            << "rr" << rrReply("cc000000", 0x64) << "encapsulation";
        QTest::newRow("unit data where unconnected is awaited")
            << "rr" << unitReply(ToId, Sequence, "cc000000") << "encapsulation";
        QTest::newRow("one byte more") << "rr" << rrReply("cc000000") + hex("00") << "length";

        const char *dint = "cc000000 c4002a000000";
        QTest::newRow("unit data accepted") << "unit" << unitReply(ToId, Sequence, dint)
                                            << "ok ok cc status=0 ext= gone=0 data=c4002a000000";
        QTest::newRow("unit data, owed reply")
            << "unit" << unitReply(ToId, Sequence - 1, dint) << "stale";
        QTest::newRow("unit data, other connection")
            << "unit" << unitReply(0x0BADBEEF, Sequence, dint) << "stale";
        QTest::newRow("unit data cut short")
            << "unit" << unitReply(ToId, Sequence, dint).chopped(1) << "length";
        QTest::newRow("unit data, no sequence count")
            << "unit"
            << hex("70001400 1122334400000000000000000000000000000000 00000000 0000 0200 a100 0400"
                   "d4c3b2a1 b100 0000")
            << "length";
        QTest::newRow("unconnected where unit data is awaited")
            << "unit" << rrReply(dint) << "encapsulation";
        QTest::newRow("connection not found")
            << "unit" << unitReply(OtId, Sequence, "cc000101 0701")
            << "lost ok cc status=1 ext=107 gone=1 data=";
        QTest::newRow("connection timed out")
            << "unit" << unitReply(ToId, Sequence, "cc000101 0302")
            << "ok ok cc status=1 ext=203 gone=1 data=";
        QTest::newRow("routing failure on a connection")
            << "unit" << unitReply(ToId, Sequence, "cc000101 1203 01")
            << "ok ok cc status=1 ext=312 gone=0 data=01";

        // Replies are told apart by sequence count on a connection, by
        // sender context otherwise.
        QTest::newRow("key: a reply on the connection")
            << "key" << unitReply(ToId, Sequence, dint) << "id=a1b2c3d4 seq=7";
        QTest::newRow("key: another connection's reply")
            << "key" << unitReply(0x0BADBEEF, Sequence + 5, dint) << "id=badbeef seq=12";
        QTest::newRow("key: cut before the sequence count")
            << "key" << unitReply(ToId, Sequence, dint).left(45) << "context=0";
        QByteArray stamped = rrReply(dint);
        encap::setContext(stamped, 0x5156000000000005ULL);
        QTest::newRow("key: unconnected, by context")
            << "key" << stamped << "context=5156000000000005";
        QTest::newRow("key: a frame cut inside the context")
            << "key" << stamped.left(15) << "context=5";
    }

    void replies()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, frame);
        QFETCH(QString, taken);
        QCOMPARE(describe(kind, frame), taken);
    }
};

QTEST_GUILESS_MAIN(TestMessaging)
#include "tst_messaging.moc"
