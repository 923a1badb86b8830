#include <QtTest>

#include "ByteOrder.h"
#include "FragmentWindow.h"
#include "ReadFrames.h"
#include "ReadReplyBuilder.h"

using namespace tagread;

Q_DECLARE_METATYPE(tagread::Verdict)
Q_DECLARE_METATYPE(tagread::Failure)
Q_DECLARE_METATYPE(QList<QList<QByteArray>>)

namespace
{

QString areaFromHex(const char *hex)
{
    const QByteArray b = QByteArray::fromHex(hex);
    return QString::fromLatin1(b.constData(), b.size());
}

const QByteArray Session = QByteArray::fromHex("11223344");

// The frame Read_area sends for a tag whose area string is given.
QByteArray frameFor(const QString &tag, const QString &area, int count, quint32 offset = 0)
{
    return buildReadFrame(Session, requestPath(area, firstNameLength(tag, area)), quint16(count),
                          count >= 2, offset);
}

struct Canned {
    QList<QByteArray> replies;
    QList<QByteArray> requests;
    Exchange exchange()
    {
        return [this](const QByteArray &request, QByteArray &reply) {
            requests << request;
            if (replies.isEmpty())
                return -1;
            reply.append(replies.takeFirst());
            return reply.isEmpty() ? -1 : 0;
        };
    }
};

QByteArray typed(quint16 type, const QByteArray &value)
{
    QByteArray d;
    le::put16(d, type);
    return d + value;
}

QByteArray structured(quint16 handle, const QByteArray &value)
{
    QByteArray d;
    le::put16(d, 0x02A0);
    le::put16(d, handle);
    return d + value;
}

QByteArray filler(int n, char from)
{
    QByteArray b;
    for (int i = 0; i < n; ++i)
        b.append(char(from + i));
    return b;
}

// A controller for windowed reads: replies by the offset asked, taken in
// turn for every ask (an empty one is lost), delivered newest first when
// `newestFirst`.
struct Windowed {
    int area = 0;
    bool newestFirst = false;
    QMap<quint32, QList<QByteArray>> byOffset;
    QList<int> offsets;     // as asked, the first part's included
    QList<QByteArray> lost; // requests given up
    quint32 offsetOf(const QByteArray &request) const
    {
        return quint32(le::getPadded(request, 56 + area, 4));
    }
    QByteArray answer(const QByteArray &request)
    {
        offsets << int(offsetOf(request));
        QList<QByteArray> &left = byOffset[offsetOf(request)];
        return left.isEmpty() ? QByteArray() : left.takeFirst();
    }
    QMap<QByteArray, QByteArray> due;
    fragwindow::WindowIo io()
    {
        fragwindow::WindowIo w;
        w.send = [this](QByteArray &request) {
            due.insert(request, answer(request));
            return 0;
        };
        w.receive = [this](const QVector<QByteArray> &requests, int, QByteArray &reply) {
            for (int k = 0; k < requests.size(); ++k) {
                const int i = newestFirst ? requests.size() - 1 - k : k;
                const QByteArray r = due.value(requests.at(i));
                if (!r.isEmpty()) {
                    due.remove(requests.at(i));
                    reply.append(r);
                    return i;
                }
            }
            return -1;
        };
        w.abandon = [this](const QByteArray &request) { lost << request; };
        w.nowMs = [] { return qint64(0); };
        return w;
    }
};

} // namespace

class TestReadFrames : public QObject
{
    Q_OBJECT

private slots:
    void goldenFrames_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("area");
        QTest::addColumn<int>("count");
        QTest::addColumn<QByteArray>("frame");
        const char *head = "6f00LL001122334400000000000000000000000000000000"
                           "000000000a0002000000 0000b200";
        auto frame = [&](const char *len, const char *rest) {
            return QByteArray::fromHex(QByteArray(head).replace("LL", len) + rest);
        };
        QTest::newRow("Buf[7] count 1")
            << "Buf[7]" << areaFromHex("427566002807") << 1
            << frame("2a", "1a00 5202200624010af00c00 4c04 9103427566002807 0100 01000100");
        QTest::newRow("Buf[7] count 3")
            << "Buf[7]" << areaFromHex("427566002807") << 3
            << frame("2e", "1e00 5202200624010af01000 5204 9103427566002807 0300 00000000 "
                           "01000100");
        QTest::newRow("Speed")
            << "Speed" << areaFromHex("537065656400") << 1
            << frame("2a", "1a00 5202200624010af00c00 4c04 9105537065656400 0100 01000100");
        QTest::newRow("A.B") << "A.B" << areaFromHex("410091014200") << 1
                             << frame("2a", "1a00 5202200624010af00c00 4c04 9101410091014200 "
                                            "0100 01000100");
        QTest::newRow("Buf[40]")
            << "Buf[40]" << areaFromHex("427566002828") << 1
            << frame("2a", "1a00 5202200624010af00c00 4c04 9103427566002828 0100 01000100");
        QTest::newRow("Buf[300], 16-bit element")
            << "Buf[300]" << areaFromHex("42756600 2900 2c01") << 1
            << frame("2c", "1c00 5202200624010af00e00 4c05 91034275660029002c01 0100 01000100");
        // A bit is read as its integer, an element of a BOOL array as its word.
        QTest::newRow("DintTag.5: DintTag")
            << "DintTag.5" << areaFromHex("44696e7454616700") << 1
            << frame("2c", "1c00 5202200624010af00e00 4c05 910744696e7454616700 0100 01000100");
        QTest::newRow("Flags[2].31: element 2")
            << "Flags[2].31" << areaFromHex("466c616773002802") << 1
            << frame("2c", "1c00 5202200624010af00e00 4c05 9105466c616773002802 0100 01000100");
        QTest::newRow("BoolArray[37]: word 1")
            << "BoolArray[37]" << areaFromHex("426f6f6c4172726179002801") << 1
            << frame("30", "2000 5202200624010af01200 4c07 9109426f6f6c4172726179002801 0100 "
                           "01000100");
        QTest::newRow("count 300 as 16 bits")
            << "Ab" << areaFromHex("4162") << 300
            << frame("2a", "1a00 5202200624010af00c00 5202 91024162 2c01 00000000 01000100");
    }

    void goldenFrames()
    {
        QFETCH(QString, tag);
        QFETCH(QString, area);
        QFETCH(int, count);
        QFETCH(QByteArray, frame);
        QCOMPARE(frameFor(tag, area, count).toHex(), frame.toHex());
    }

    void continuationCarriesOffset()
    {
        const QByteArray f =
            buildReadFrame(Session, requestPath(areaFromHex("4162"), 2), 1, true, 0x01020304);
        QCOMPARE(quint8(f.at(OffEmbeddedService)), quint8(0x52));
        QCOMPARE(f.mid(56, 6).toHex(), QByteArray("010004030201"));
    }

    // A path at the bound fills one unconnected message exactly, and every
    // length field carries its full 16-bit value.
    void longestPathFillsOneMessage()
    {
        const QString area(MaxAreaBytes, QLatin1Char('x'));
        const QByteArray f = buildReadFrame(Session, requestPath(area, 255), 2, true, 0);
        QCOMPARE(f.size(), 40 + MaxUnconnectedMessage);
        QCOMPARE(le::getPadded(f, 2, 2), quint64(f.size() - 24));
        QCOMPARE(le::getPadded(f, OffItemLength, 2), quint64(MaxUnconnectedMessage));
        QCOMPARE(le::getPadded(f, 48, 2), quint64(MaxRequestPathBytes + 8));
        QCOMPARE(quint8(f.at(51)), quint8(MaxRequestPathBytes / 2));
        QCOMPARE(quint8(f.at(53)), quint8(255));
    }

    void sessionBytes_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QByteArray>("sent");
        QTest::newRow("none yet") << QByteArray() << QByteArray::fromHex("00000000");
        QTest::newRow("three bytes")
            << QByteArray::fromHex("aabbcc") << QByteArray::fromHex("00000000");
        QTest::newRow("four") << QByteArray::fromHex("aabbccdd") << QByteArray::fromHex("aabbccdd");
        QTest::newRow("five") << QByteArray::fromHex("aabbccddee")
                              << QByteArray::fromHex("aabbccdd");
    }

    void sessionBytes()
    {
        QFETCH(QByteArray, stored);
        QFETCH(QByteArray, sent);
        const QByteArray f =
            buildReadFrame(stored, requestPath(areaFromHex("4162"), 2), 1, false, 0);
        QCOMPARE(f.mid(4, 4).toHex(), sent.toHex());
        QCOMPARE(f.size(), 62);
    }

    void firstNameLength_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("area");
        QTest::addColumn<int>("length");
        QTest::newRow("plain odd") << "Speed" << areaFromHex("537065656400") << 5;
        QTest::newRow("index equal to the index marker")
            << "Buf[40]" << areaFromHex("427566002828") << 3;
        QTest::newRow("index equal to the member marker")
            << "Buf[145]" << areaFromHex("427566002891") << 3;
        QTest::newRow("member after a pad") << "A.B" << areaFromHex("410091014200") << 1;
        QTest::newRow("member without pad") << "Ab.Cd" << areaFromHex("416291024364") << 2;
        QTest::newRow("member of an element")
            << "Motors[1].Rpm" << areaFromHex("4d6f746f72732801910352706d00") << 6;
        QTest::newRow("name holding a marker code") << "A(B" << areaFromHex("41284200") << 3;
        QTest::newRow("bounded by the area") << "Speed" << areaFromHex("5370") << 2;
    }

    void firstNameLength()
    {
        QFETCH(QString, tag);
        QFETCH(QString, area);
        QFETCH(int, length);
        QCOMPARE(tagread::firstNameLength(tag, area), length);
    }

    void judge_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<int>("requestService");
        QTest::addColumn<tagread::Verdict>("verdict");
        QTest::addColumn<int>("status");
        QTest::addColumn<QVector<quint16>>("ext");
        QTest::addColumn<QByteArray>("value");
        const QVector<quint16> none;
        const QByteArray dint = QByteArray::fromHex("2a000000");
        QTest::newRow("one DINT, 50 bytes")
            << QByteArray::fromHex("6f001a00112233440000000000000000000000000000000000000000"
                                   "0a000200000000 00b2000a00cc000000c4002a000000")
            << 0x4C << Verdict::Ok << 0 << none << dint;
        QTest::newRow("46 bytes: type code only")
            << readReply(0xCC, 0, none, QByteArray::fromHex("c400")) << 0x4C << Verdict::Ok << 0
            << none << QByteArray();
        QTest::newRow("fragmented reply") << readReply(0xD2, 0, none, typed(0xC4, dint)) << 0x52
                                          << Verdict::Ok << 0 << none << dint;
        QTest::newRow("partial transfer") << readReply(0xD2, 0x06, none, typed(0xC4, dint)) << 0x52
                                          << Verdict::Partial << 6 << none << dint;
        QTest::newRow("structure: handle apart")
            << readReply(0xCC, 0, none, structured(0x0FCE, dint)) << 0x4C << Verdict::Ok << 0
            << none << dint;
        QTest::newRow("44 bytes") << readReply(0xCC, 0, none, QByteArray()) << 0x4C
                                  << Verdict::Length << 0 << none << QByteArray();
        QTest::newRow("one type byte") << readReply(0xCC, 0, none, QByteArray::fromHex("c4"))
                                       << 0x4C << Verdict::Length << 0 << none << QByteArray();
        QTest::newRow("structure without its handle")
            << readReply(0xCC, 0, none, QByteArray::fromHex("a002ce")) << 0x4C << Verdict::Length
            << 0 << none << QByteArray();
        QTest::newRow("partial without type code") << readReply(0xD2, 6, none, QByteArray()) << 0x52
                                                   << Verdict::Length << 6 << none << QByteArray();
        QTest::newRow("Read Tag answered by D2")
            << readReply(0xD2, 0, none, typed(0xC4, dint)) << 0x4C << Verdict::Service << 0 << none
            << QByteArray();
        QTest::newRow("routing failure to a Read Tag")
            << readReply(0xD2, 0x01, {0x0204}, QByteArray::fromHex("00")) << 0x4C
            << Verdict::Refused << 1 << QVector<quint16>{0x0204} << QByteArray();
        QTest::newRow("fragmented answered by CC")
            << readReply(0xCC, 0, none, typed(0xC4, dint)) << 0x52 << Verdict::Service << 0 << none
            << QByteArray();
        QTest::newRow("no such tag") << readReply(0xCC, 0x05, none, QByteArray()) << 0x4C
                                     << Verdict::Refused << 5 << none << QByteArray();
        QTest::newRow("path error, 46 bytes, one status word")
            << readReply(0xCC, 0x04, {0x0000}, QByteArray()) << 0x4C << Verdict::Refused << 4
            << QVector<quint16>{0} << QByteArray();
        QTest::newRow("error with extended status, bytes never value")
            << readReply(0xCC, 0xFF, {0x2105}, typed(0xC4, dint)) << 0x4C << Verdict::Refused
            << 0xFF << QVector<quint16>{0x2105} << QByteArray();
        QTest::newRow("partial to a lone Read Tag is judged partial")
            << readReply(0xCC, 0x06, none, typed(0xC4, dint)) << 0x4C << Verdict::Partial << 6
            << none << dint;
        QTest::newRow("status words beyond the end")
            << readReply(0xCC, 0xFF, {0x2105}, QByteArray()).left(45) << 0x4C << Verdict::Length
            << 0 << none << QByteArray();
        QTest::newRow("encapsulation status")
            << readReply(0xCC, 0, none, typed(0xC4, dint), 0x6F, 0x64) << 0x4C
            << Verdict::Encapsulation << 0 << none << QByteArray();
        QTest::newRow("not SendRRData") << readReply(0xCC, 0, none, typed(0xC4, dint), 0x65) << 0x4C
                                        << Verdict::Encapsulation << 0 << none << QByteArray();
        QTest::newRow("bare encapsulation error header")
            << QByteArray::fromHex("6f000000000000006400000000000000000000000000000000000000")
            << 0x4C << Verdict::Encapsulation << 0 << none << QByteArray();
        QTest::newRow("header cut short") << QByteArray::fromHex("6f001a0011223344") << 0x4C
                                          << Verdict::Length << 0 << none << QByteArray();
        QTest::newRow("trailing bytes")
            << readReply(0xCC, 0, none, typed(0xC4, dint)) + QByteArray(1, '\0') << 0x4C
            << Verdict::Length << 0 << none << QByteArray();
        QTest::newRow("cut after the header announced more")
            << readReply(0xCC, 0, none, typed(0xC4, dint)).left(48) << 0x4C << Verdict::Length << 0
            << none << QByteArray();
        QByteArray badItem = readReply(0xCC, 0, none, typed(0xC4, dint));
        badItem[OffItemLength] = char(badItem.at(OffItemLength) + 2);
        QTest::newRow("item length disagrees")
            << badItem << 0x4C << Verdict::Length << 0 << none << QByteArray();
        QTest::newRow("empty") << QByteArray() << 0x4C << Verdict::Empty << 0 << none
                               << QByteArray();
    }

    void judge()
    {
        QFETCH(QByteArray, reply);
        QFETCH(int, requestService);
        QFETCH(tagread::Verdict, verdict);
        QFETCH(int, status);
        QFETCH(QVector<quint16>, ext);
        QFETCH(QByteArray, value);
        const ReadReply r = judgeReadReply(reply, quint8(requestService));
        QCOMPARE(r.verdict, verdict);
        if (verdict == Verdict::Length || verdict == Verdict::Empty ||
            verdict == Verdict::Encapsulation)
            return;
        QCOMPARE(int(r.generalStatus), status);
        QCOMPARE(r.extStatus, ext);
        QCOMPARE(r.value.toHex(), value.toHex());
    }

    void structureHandleKept()
    {
        const ReadReply r = judgeReadReply(readReply(0xCC, 0, {}, structured(0x0FCE, "ab")), 0x4C);
        QVERIFY(r.hasHandle);
        QCOMPARE(r.handle, quint16(0x0FCE));
        QCOMPARE(r.dataType, quint16(0x02A0));
    }

    void fragments_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("maxValueBytes");
        QTest::addColumn<int>("minValueBytes");
        QTest::addColumn<QList<QByteArray>>("replies");
        QTest::addColumn<int>("rc");
        QTest::addColumn<tagread::Failure>("failure");
        QTest::addColumn<QList<int>>("services");
        QTest::addColumn<QList<int>>("offsets"); // -1: no offset field
        QTest::addColumn<QByteArray>("out");
        const int big = 1 << 20;
        const QByteArray a = filler(8, 'a'), b = filler(4, 'A');
        QTest::newRow("one reply, one element")
            << 1 << big << 0 << QList<QByteArray>{readReply(0xCC, 0, {}, typed(0xC4, b))} << 0
            << Failure::None << QList<int>{0x4C} << QList<int>{-1} << b;
        QTest::newRow("DINT array in two parts")
            << 3 << big << 0
            << QList<QByteArray>{readReply(0xD2, 6, {}, typed(0xC4, a)),
                                 readReply(0xD2, 0, {}, typed(0xC4, b))}
            << 0 << Failure::None << QList<int>{0x52, 0x52} << QList<int>{0, 8} << a + b;
        const QByteArray s1 = filler(100, 1), s2 = filler(50, 2), s3 = filler(26, 3);
        QTest::newRow("structures: handle kept once, not counted")
            << 2 << big << 0
            << QList<QByteArray>{readReply(0xD2, 6, {}, structured(0x0FCE, s1)),
                                 readReply(0xD2, 6, {}, structured(0x0FCE, s2)),
                                 readReply(0xD2, 0, {}, structured(0x0FCE, s3))}
            << 0 << Failure::None << QList<int>{0x52, 0x52, 0x52} << QList<int>{0, 100, 150}
            << QByteArray::fromHex("ce0f") + s1 + s2 + s3;
        QTest::newRow("one element too big for a reply")
            << 1 << big << 0
            << QList<QByteArray>{readReply(0xCC, 6, {}, structured(0x1234, a)),
                                 readReply(0xD2, 0, {}, structured(0x1234, b))}
            << 0 << Failure::None << QList<int>{0x4C, 0x52} << QList<int>{-1, 8}
            << QByteArray::fromHex("3412") + a + b;
        QTest::newRow("partial part without value bytes")
            << 2 << big << 0 << QList<QByteArray>{readReply(0xD2, 6, {}, typed(0xC4, QByteArray()))}
            << -1 << Failure::EmptyPart << QList<int>{0x52} << QList<int>{0} << QByteArray();
        QTest::newRow("beyond the bound")
            << 4 << 12 << 0
            << QList<QByteArray>{readReply(0xD2, 6, {}, typed(0xC4, a)),
                                 readReply(0xD2, 0, {}, typed(0xC4, a))}
            << -1 << Failure::TooLarge << QList<int>{0x52, 0x52} << QList<int>{0, 8}
            << QByteArray();
        QTest::newRow("exactly the bound")
            << 3 << 12 << 0
            << QList<QByteArray>{readReply(0xD2, 6, {}, typed(0xC4, a)),
                                 readReply(0xD2, 0, {}, typed(0xC4, b))}
            << 0 << Failure::None << QList<int>{0x52, 0x52} << QList<int>{0, 8} << a + b;
        QTest::newRow("no such tag midway")
            << 3 << big << 0
            << QList<QByteArray>{readReply(0xD2, 6, {}, typed(0xC4, a)),
                                 readReply(0xD2, 0x05, {}, QByteArray())}
            << -1 << Failure::Rejected << QList<int>{0x52, 0x52} << QList<int>{0, 8}
            << QByteArray();
        QTest::newRow("silence midway")
            << 3 << big << 0 << QList<QByteArray>{readReply(0xD2, 6, {}, typed(0xC4, a))} << -2
            << Failure::NoReply << QList<int>{0x52, 0x52} << QList<int>{0, 8} << QByteArray();
        QTest::newRow("type changes midway")
            << 3 << big << 0
            << QList<QByteArray>{readReply(0xD2, 6, {}, typed(0xC4, a)),
                                 readReply(0xD2, 0, {}, typed(0xCA, b))}
            << -1 << Failure::PartChanged << QList<int>{0x52, 0x52} << QList<int>{0, 8}
            << QByteArray();
        QTest::newRow("error with extended status")
            << 1 << big << 0 << QList<QByteArray>{readReply(0xCC, 0xFF, {0x2105}, typed(0xC4, b))}
            << -1 << Failure::Rejected << QList<int>{0x4C} << QList<int>{-1} << QByteArray();
        // A single reply is taken as it comes, however long: the bound only
        // stops fragment following (a LINT read as one byte).
        QTest::newRow("one reply longer than the bound")
            << 1 << 1 << 1 << QList<QByteArray>{readReply(0xCC, 0, {}, typed(0xC5, a))} << 0
            << Failure::None << QList<int>{0x4C} << QList<int>{-1} << a;
        // Missing elements are not made up as zeros.
        QTest::newRow("one DINT for three")
            << 3 << big << 12 << QList<QByteArray>{readReply(0xD2, 0, {}, typed(0xC4, b))} << -1
            << Failure::TooShort << QList<int>{0x52} << QList<int>{0} << QByteArray();
        QTest::newRow("type code only")
            << 4 << big << 16
            << QList<QByteArray>{readReply(0xD2, 0, {}, typed(0xC4, QByteArray()))} << -1
            << Failure::TooShort << QList<int>{0x52} << QList<int>{0} << QByteArray();
        QTest::newRow("short over two parts")
            << 4 << big << 16
            << QList<QByteArray>{readReply(0xD2, 6, {}, typed(0xC4, a)),
                                 readReply(0xD2, 0, {}, typed(0xC4, b))}
            << -1 << Failure::TooShort << QList<int>{0x52, 0x52} << QList<int>{0, 8}
            << QByteArray();
    }

    // Windowed reads give what one part at a time gives, byte for byte.
    void windowedFragments_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("window");
        QTest::addColumn<bool>("newestFirst");
        QTest::addColumn<QList<QList<QByteArray>>>("byOffset"); // at 0, 8, 16, 24, 12, 100, 150, 4
        QTest::addColumn<int>("learned"); // the part size an earlier read gave
        QTest::addColumn<int>("rc");
        QTest::addColumn<tagread::Failure>("failure");
        QTest::addColumn<QList<int>>("offsets");
        QTest::addColumn<bool>("shrunk");
        QTest::addColumn<QByteArray>("out");
        const QByteArray p0 = filler(8, 'a'), p1 = filler(8, 'i'), p2 = filler(8, 'q'),
                         p3 = filler(8, 'A');
        const auto part = [](const QByteArray &v, bool last = false) {
            return readReply(0xD2, last ? 0 : 6, {}, typed(0xC4, v));
        };
        const QByteArray busy = readReply(0xD2, 0x02, {}, QByteArray());
        using Parts = QList<QList<QByteArray>>;
        const Parts all{{part(p0)}, {part(p1)}, {part(p2)}, {part(p3, true)}};
        QTest::newRow("out of order, put together by offset")
            << 8 << 3 << true << all << 0 << 0 << Failure::None << QList<int>{0, 8, 16, 24} << false
            << p0 + p1 + p2 + p3;
        QTest::newRow("window wider than the parts left")
            << 8 << 8 << false << all << 0 << 0 << Failure::None << QList<int>{0, 8, 16, 24}
            << false << p0 + p1 + p2 + p3;
        QTest::newRow("a lost part asked again, alone")
            << 8 << 4 << true
            << Parts{{part(p0)}, {part(p1)}, {QByteArray(), part(p2)}, {part(p3, true)}} << 0 << 0
            << Failure::None << QList<int>{0, 8, 16, 24, 16} << true << p0 + p1 + p2 + p3;
        QTest::newRow("0x02 shrinks the window")
            << 8 << 4 << false << Parts{{part(p0)}, {busy, part(p1)}, {part(p2)}, {part(p3, true)}}
            << 0 << 0 << Failure::None << QList<int>{0, 8, 16, 24, 8} << true << p0 + p1 + p2 + p3;
        QTest::newRow("a part failing twice fails the read")
            << 8 << 4 << false
            << Parts{{part(p0)},
                     {readReply(0xD2, 0x05, {}, QByteArray()),
                      readReply(0xD2, 0x05, {}, QByteArray())},
                     {part(p2)},
                     {part(p3, true)}}
            << 0 << -1 << Failure::Rejected << QList<int>{0, 8, 16, 24, 8} << false << QByteArray();
        QTest::newRow("a part lost twice")
            << 8 << 2 << false << Parts{{part(p0)}, {part(p1)}, {}, {part(p3, true)}} << 0 << -2
            << Failure::NoReply << QList<int>{0, 8, 16, 24, 16} << true << QByteArray();
        QTest::newRow("a short part leaves a gap that is asked for")
            << 8 << 4 << true
            << Parts{{part(p0)},
                     {part(p1.left(4))},
                     {part(p2)},
                     {part(p3, true)},
                     {part(p1.mid(4))}}
            << 0 << 0 << Failure::None << QList<int>{0, 8, 16, 24, 12} << false
            << p0 + p1 + p2 + p3;
        const QByteArray refused = readReply(0xD2, 0xFF, {0x2105}, QByteArray());
        QTest::newRow("first wave sent with the first part")
            << 8 << 4 << false << all << 8 << 0 << Failure::None << QList<int>{8, 16, 24, 0}
            << false << p0 + p1 + p2 + p3;
        QTest::newRow("an early part past the end is dropped")
            << 6 << 4 << false << Parts{{part(p0)}, {part(p1)}, {part(p2, true)}, {refused}} << 8
            << 0 << Failure::None << QList<int>{8, 16, 24, 0} << false << p0 + p1 + p2;
        QTest::newRow("parts larger than learned, an early one refused")
            << 8 << 3 << false
            << Parts{{part(p0)}, {part(p1)}, {part(p2)}, {part(p3, true)}, {refused}} << 12 << 0
            << Failure::None << QList<int>{12, 24, 0, 8, 16} << false << p0 + p1 + p2 + p3;
        QTest::newRow("parts smaller than learned")
            << 8 << 3 << false
            << Parts{{part(p0)}, {part(p1)}, {part(p2)}, {part(p3, true)},
                     {},         {},         {},         {part(p0.mid(4) + p1.left(4))}}
            << 4 << 0 << Failure::None << QList<int>{4, 8, 0, 16, 24} << false << p0 + p1 + p2 + p3;
        const QByteArray s1 = filler(100, 1), s2 = filler(50, 2);
        QTest::newRow("structures one part after the other")
            << 2 << 4 << false
            << Parts{{readReply(0xD2, 6, {}, structured(0x0FCE, s1))}, {}, {}, {}, {},
                     {readReply(0xD2, 0, {}, structured(0x0FCE, s2))}}
            << 0 << 0 << Failure::None << QList<int>{0, 100} << false
            << QByteArray::fromHex("ce0f") + s1 + s2;
    }

    void windowedFragments()
    {
        QFETCH(int, count);
        QFETCH(int, window);
        QFETCH(bool, newestFirst);
        QFETCH(QList<QList<QByteArray>>, byOffset);
        QFETCH(int, learned);
        QFETCH(int, rc);
        QFETCH(tagread::Failure, failure);
        QFETCH(QList<int>, offsets);
        QFETCH(bool, shrunk);
        QFETCH(QByteArray, out);
        const QString area = areaFromHex("4162");
        Windowed peer;
        peer.area = area.size();
        peer.newestFirst = newestFirst;
        const quint32 at[] = {0, 8, 16, 24, 12, 100, 150, 4};
        for (int i = 0; i < byOffset.size(); ++i)
            peer.byOffset[at[i]] = byOffset.at(i);
        const Exchange first = [&peer](const QByteArray &request, QByteArray &reply) {
            reply.append(peer.answer(request));
            return reply.isEmpty() ? -1 : 0;
        };
        fragwindow::WindowState state;
        state.window = window;
        state.learnedPartBytes = learned;
        QByteArray got("keep");
        const ReadOutcome o =
            fragwindow::readTag(unconnectedEnvelope(Session, route::Route()), requestPath(area, 2),
                                quint16(count), 1 << 20, first, peer.io(), state, &got);
        QCOMPARE(o.rc, rc);
        QCOMPARE(o.failure, failure);
        QCOMPARE(peer.offsets, offsets);
        QCOMPARE(state.shrunk, shrunk);
        QVERIFY(rc != 0 || state.learnedPartBytes > 0); // every row's first part is partial
        QCOMPARE(got.toHex(), (QByteArray("keep") + out).toHex());
    }

    void fragments()
    {
        QFETCH(int, count);
        QFETCH(int, maxValueBytes);
        QFETCH(int, minValueBytes);
        QFETCH(QList<QByteArray>, replies);
        QFETCH(int, rc);
        QFETCH(tagread::Failure, failure);
        QFETCH(QList<int>, services);
        QFETCH(QList<int>, offsets);
        QFETCH(QByteArray, out);
        Canned peer;
        peer.replies = replies;
        const QString area = areaFromHex("4162");
        const QByteArray path = requestPath(area, 2);
        QByteArray got("keep");
        const ReadOutcome o = readTag(Session, path, quint16(count), maxValueBytes, peer.exchange(),
                                      &got, minValueBytes);
        QCOMPARE(o.rc, rc);
        QCOMPARE(o.failure, failure);
        QCOMPARE(got.toHex(), (QByteArray("keep") + out).toHex());
        QCOMPARE(peer.requests.size(), services.size());
        for (int i = 0; i < services.size(); ++i) {
            const QByteArray &req = peer.requests.at(i);
            QCOMPARE(int(quint8(req.at(OffEmbeddedService))), services.at(i));
            QCOMPARE(le::getPadded(req, 54 + area.size(), 2), quint64(count));
            if (offsets.at(i) < 0)
                QCOMPARE(req.size(), 60 + area.size());
            else
                QCOMPARE(le::getPadded(req, 56 + area.size(), 4), quint64(offsets.at(i)));
        }
    }
};

QTEST_GUILESS_MAIN(TestReadFrames)
#include "tst_readframes.moc"
