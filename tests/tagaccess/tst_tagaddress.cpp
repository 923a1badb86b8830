#include <QtTest>

#include "LibQuorvex.h"
#include "ReadFrames.h"
#include "TagAddress.h"

namespace
{

QByteArray areaBytes(const QString &area)
{
    QByteArray b;
    for (const QChar c : area) {
        if (c.unicode() > 0xFF)
            return QByteArray("not a byte string");
        b.append(char(c.unicode()));
    }
    return b;
}

} // namespace

class TestTagAddress : public QObject
{
    Q_OBJECT

private slots:
    void encoded_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("area");
        // The forms with one name, one index 0..255 or one member.
        QTest::newRow("Speed: odd, one pad") << "Speed" << QByteArray::fromHex("537065656400");
        QTest::newRow("Ab: even, no pad") << "Ab" << QByteArray::fromHex("4162");
        QTest::newRow("Buf[7]") << "Buf[7]" << QByteArray::fromHex("427566002807");
        QTest::newRow("Buf[0]") << "Buf[0]" << QByteArray::fromHex("427566002800");
        QTest::newRow("Data[12]") << "Data[12]" << QByteArray::fromHex("44617461280c");
        QTest::newRow("Buf[40]: index equals the index marker")
            << "Buf[40]" << QByteArray::fromHex("427566002828");
        QTest::newRow("Buf[145]: index equals the member marker")
            << "Buf[145]" << QByteArray::fromHex("427566002891");
        QTest::newRow("Buf[255]") << "Buf[255]" << QByteArray::fromHex("4275660028ff");
        QTest::newRow("Motor.Rpm")
            << "Motor.Rpm" << QByteArray::fromHex("4d6f746f7200910352706d00");
        QTest::newRow("Ab.Cd: no pad at all") << "Ab.Cd" << QByteArray::fromHex("416291024364");
        QTest::newRow("A.B: a pad after each name") << "A.B" << QByteArray::fromHex("410091014200");
        // Wider indices and chains of segments.
        QTest::newRow("Buf[256]") << "Buf[256]" << QByteArray::fromHex("4275660029000001");
        QTest::newRow("Buf[300]") << "Buf[300]" << QByteArray::fromHex("4275660029002c01");
        QTest::newRow("Buf[65535]") << "Buf[65535]" << QByteArray::fromHex("427566002900ffff");
        QTest::newRow("Buf[65536]") << "Buf[65536]" << QByteArray::fromHex("427566002a0000000100");
        QTest::newRow("Buf[70000]") << "Buf[70000]" << QByteArray::fromHex("427566002a0070110100");
        QTest::newRow("Buf[4294967295]")
            << "Buf[4294967295]" << QByteArray::fromHex("427566002a00ffffffff");
        QTest::newRow("leading zeros") << "Buf[007]" << QByteArray::fromHex("427566002807");
        QTest::newRow("Motors[1].Rpm")
            << "Motors[1].Rpm" << QByteArray::fromHex("4d6f746f72732801910352706d00");
        QTest::newRow("Cfg.Limits[3]")
            << "Cfg.Limits[3]" << QByteArray::fromHex("4366670091064c696d6974732803");
        QTest::newRow("A.B.C") << "A.B.C" << QByteArray::fromHex("41009101420091014300");
        QTest::newRow("Grid[2,3]") << "Grid[2,3]" << QByteArray::fromHex("4772696428022803");
        QTest::newRow("Grid[2][3]") << "Grid[2][3]" << QByteArray::fromHex("4772696428022803");
        QTest::newRow("Grid[1,300]")
            << "Grid[1,300]" << QByteArray::fromHex("47726964280129002c01");
        QTest::newRow("program scope")
            << "Program:Main.Tag" << QByteArray::fromHex("50726f6772616d3a4d61696e910354616700");
        QTest::newRow("Latin-1 letter")
            << QString::fromUtf8("Wärme") << QByteArray::fromHex("57e4726d6500");
        QTest::newRow("underscore and digits") << "_T1" << QByteArray::fromHex("5f543100");
    }

    void encoded()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, area);
        LibQuorvex d;
        const QString got = d.getArea(address);
        QCOMPARE(areaBytes(got).toHex(), area.toHex());
        QCOMPARE(got.size() % 2, 0);
    }

    void refused_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("empty") << "";
        QTest::newRow("starts with a dot") << ".A";
        QTest::newRow("starts with a bracket") << "[1]";
        QTest::newRow("empty member at the end") << "A.";
        QTest::newRow("empty member inside") << "A..B";
        QTest::newRow("empty index") << "A[]";
        QTest::newRow("empty second index") << "A[1,]";
        QTest::newRow("empty first index") << "A[,1]";
        QTest::newRow("unclosed bracket") << "A[1";
        QTest::newRow("closing bracket alone") << "A]";
        QTest::newRow("closing bracket twice") << "A[1]]";
        QTest::newRow("name after an index") << "A[1]B";
        QTest::newRow("bracket inside an index") << "A[1[2]]";
        QTest::newRow("only brackets") << "]]]";
        QTest::newRow("not a number") << "Buf[x]";
        QTest::newRow("negative") << "Buf[-1]";
        QTest::newRow("signed") << "Buf[+1]";
        QTest::newRow("blank in an index") << "Buf[ 1]";
        QTest::newRow("hexadecimal") << "Buf[0x10]";
        QTest::newRow("above 32 bits") << "Buf[4294967296]";
        QTest::newRow("far above 64 bits") << "Buf[999999999999999999999999]";
        QTest::newRow("blank in a name") << "A B";
        QTest::newRow("trailing blank") << "Speed ";
        QTest::newRow("tab") << "A\tB";
        QTest::newRow("nul") << QString::fromLatin1("A\0B", 3);
        QTest::newRow("member marker code") << QString(QChar(0x91)) + "B";
        QTest::newRow("no-break space") << QString("A") + QChar(0xA0);
        QTest::newRow("above U+00FF") << QString::fromUtf8("Temp€");
        QTest::newRow("CJK") << QString::fromUtf8("温度");
        QTest::newRow("parenthesis") << "A(B";
        QTest::newRow("comma in a name") << "A,B";
        QTest::newRow("minus") << "A-B";
        QTest::newRow("quote") << "A\"B";
        QTest::newRow("name of 256") << QString(256, 'N');
        QTest::newRow("member of 256") << "A." + QString(256, 'M');
        // A member that starts with a digit is a bit, and ends the address.
        QTest::newRow("digit then letters") << "Tag.5x";
        QTest::newRow("member after a bit") << "Tag.5.Rpm";
        QTest::newRow("index after a bit") << "Tag.5[1]";
        QTest::newRow("bit after a bit") << "Tag.1.2";
        QTest::newRow("bit above 32 bits") << "Tag.4294967296";
        QTest::newRow("negative bit") << "Tag.-1";
        QTest::newRow("dot after a bit") << "Tag.5.";
    }

    void refused()
    {
        QFETCH(QString, address);
        LibQuorvex d;
        QVERIFY(d.getArea(address).isEmpty());
    }

    // The bit of an integer is no path segment; an address that ends in one
    // index may be an element of a BOOL array, a bit of its words.
    void bitsAndElements_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("area");
        QTest::addColumn<qint64>("bit");
        QTest::addColumn<bool>("indexed");
        QTest::addColumn<uint>("index");
        QTest::addColumn<QByteArray>("arrayArea");
        auto row = [](const char *address, const char *area, qint64 bit, bool indexed = false,
                      uint index = 0, const char *array = "") {
            QTest::newRow(address) << address << QByteArray::fromHex(area) << bit << indexed
                                   << index << QByteArray::fromHex(array);
        };
        row("Status.5", "537461747573", 5);
        row("Status.0", "537461747573", 0);
        row("Status.007", "537461747573", 7);
        row("Status.64", "537461747573", 64); // refused with the integer's width
        row("Tag[3].31", "546167002803", 31, true, 3, "54616700");
        row("Udt.Member.7", "5564740091064d656d626572", 7);
        row("Program:Main.Flags.3", "50726f6772616d3a4d61696e9105466c61677300", 3);
        row("Alarms[37]", "416c61726d732825", -1, true, 37, "416c61726d73");
        row("Alarms[300]", "416c61726d7329002c01", -1, true, 300, "416c61726d73");
        row("Alarms[70000].2", "416c61726d732a0070110100", 2, true, 70000, "416c61726d73");
        row("Motor.Flags[2]", "4d6f746f72009105466c616773002802", -1, true, 2,
            "4d6f746f72009105466c61677300");
        row("Motors[1].Rpm", "4d6f746f72732801910352706d00", -1);
        row("Grid[2,3]", "4772696428022803", -1);
        row("Grid[2][3]", "4772696428022803", -1);
        row("Grid[1][2].4", "4772696428012802", 4);
    }

    void bitsAndElements()
    {
        QFETCH(QString, address);
        QFETCH(QByteArray, area);
        QFETCH(qint64, bit);
        QFETCH(bool, indexed);
        QFETCH(uint, index);
        QFETCH(QByteArray, arrayArea);
        const tagaddress::Address a = tagaddress::parse(address);
        QCOMPARE(areaBytes(a.area).toHex(), area.toHex());
        QCOMPARE(a.bit, bit);
        QCOMPARE(a.indexed, indexed);
        QCOMPARE(uint(a.index), index);
        QCOMPARE(areaBytes(a.arrayArea).toHex(), arrayArea.toHex());
        // The host's read path takes the same area.
        LibQuorvex d;
        QCOMPARE(d.getArea(address), a.area);
        if (indexed)
            QCOMPARE(tagaddress::elementArea(a.arrayArea, index), a.area);
        // Written back from its bytes, the address parses to the same.
        const QString text =
            tagaddress::addressText(a.area, tagread::firstNameLength(address, a.area), a.bit);
        QCOMPARE(tagaddress::parse(text), a);
    }

    // The request path must fit one unconnected message; the boundary lies
    // at tagread::MaxAreaBytes bytes of area.
    void pathLengthBoundary_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("size"); // 0: refused
        const QString first(255, 'F'); // 256 bytes with its pad
        QTest::newRow("name of 255") << first << 256;
        QTest::newRow("at the bound") << first + "." + QString(222, 'M') << 480;
        QTest::newRow("one word beyond") << first + "." + QString(223, 'M') << 0;
        QTest::newRow("indices at the bound")
            << first + "[" + QString("65536,").repeated(37) + "1]" << 480;
        QTest::newRow("indices beyond")
            << first + "[" + QString("65536,").repeated(37) + "256]" << 0;
    }

    void pathLengthBoundary()
    {
        QFETCH(QString, address);
        QFETCH(int, size);
        QCOMPARE(tagread::MaxAreaBytes, 480);
        QCOMPARE(tagaddress::areaString(address).size(), size);
    }
};

QTEST_GUILESS_MAIN(TestTagAddress)
#include "tst_tagaddress.moc"
