#include <QtTest>

#include "BrowseFrames.h"
#include "CipService.h"
#include "SymbolBrowse.h"
#include "TagDatabase.h"
#include "TemplateRead.h"

// Tag list and template frames against the published layouts, their
// parsers on cut and refused replies, and the paging against the simulator.
class TestBrowseFrames : public QObject
{
    Q_OBJECT

private slots:
    void requests_data();
    void requests();
    void symbolPage_data();
    void symbolPage();
    void pagingOverSimulator();
};

void TestBrowseFrames::requests_data()
{
    QTest::addColumn<QByteArray>("built");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("tag list, controller scope")
        << browse::symbolListRequest(QString(), 0)
        << QByteArray::fromHex("5503 206b25000000 0300 0100 0200 0800");
    QTest::newRow("tag list, program scope, from 0x1234")
        << browse::symbolListRequest(QStringLiteral("Main"), 0x1234)
        << QByteArray::fromHex(
               "550a 910c 50726f6772616d3a4d61696e 206b25003412 0300 0100 0200 0800");
    QTest::newRow("odd program name is padded")
        << browse::symbolListRequest(QStringLiteral("Mix"), 0)
        << QByteArray::fromHex(
               "550a 910b 50726f6772616d3a4d6978 00 206b25000000 0300 0100 0200 0800");
    QTest::newRow("template attributes")
        << browse::templateAttributesRequest(0x123)
        << QByteArray::fromHex("0303 206c25002301 0400 0400 0500 0200 0100");
    QTest::newRow("read template part") << browse::readTemplateRequest(0x123, 0x10, 0x64)
                                        << QByteArray::fromHex("4c03 206c25002301 10000000 6400");
}

void TestBrowseFrames::requests()
{
    QFETCH(QByteArray, built);
    QFETCH(QByteArray, expected);
    QCOMPARE(built.toHex(' '), expected.toHex(' '));
}

void TestBrowseFrames::symbolPage_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<bool>("more");
    QTest::addColumn<int>("entries");
    const QByteArray entry = "01000000 0300 416263 c420 05000000 00000000 00000000";
    QTest::newRow("last page") << QByteArray::fromHex("d5000000" + entry) << true << false << 1;
    QTest::newRow("partial: more pages")
        << QByteArray::fromHex("d5000600" + entry + entry) << true << true << 2;
    QTest::newRow("empty last page") << QByteArray::fromHex("d5000000") << true << false << 0;
    QTest::newRow("entry cut short")
        << QByteArray::fromHex("d5000000" + entry).chopped(1) << false << false << 0;
    QTest::newRow("name longer than the reply")
        << QByteArray::fromHex("d5000000 01000000 ff00 4142") << false << false << 0;
    QTest::newRow("no such program") << QByteArray::fromHex("d5000500") << false << false << 0;
    QTest::newRow("another service")
        << QByteArray::fromHex("cc000000" + entry) << false << false << 0;
}

void TestBrowseFrames::symbolPage()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, ok);
    const browse::SymbolPage page = browse::parseSymbolPage(reply);
    QCOMPARE(page.ok, ok);
    QTEST(page.more, "more");
    QTEST(page.entries.size(), "entries");
    if (!page.entries.isEmpty()) {
        QCOMPARE(page.entries.first().name, QStringLiteral("Abc"));
        QCOMPARE(page.entries.first().dimCount(), 1);
        QCOMPARE(page.entries.first().atomic(), quint16(0xC4));
        QCOMPARE(page.entries.first().dims[0], 5u);
    }
}

// Many tags and a nested structure through the simulator's own answers:
// the listing needs several pages, and every template arrives whole.
void TestBrowseFrames::pagingOverSimulator()
{
    qsim::TagDatabase db;
    QString error;
    QByteArray json = R"({"types":[{"name":"Inner","handle":"0x1001","members":[
        {"name":"A","type":"INT"},{"name":"B","type":"REAL","dims":[3]}]},
        {"name":"Outer","handle":"0x1002","members":[{"name":"In","type":"Inner","dims":[2]},
        {"name":"Text","type":"STRING"}]}],"tags":[{"name":"Top","type":"Outer"},
        {"name":"Bits","type":"BOOL","dims":[96]},{"name":"Short","type":"SHORT_STRING"})";
    for (int i = 0; i < 300; ++i)
        json += QStringLiteral(R"(,{"name":"Tag_%1","type":"DINT","dims":[%2]})")
                    .arg(i)
                    .arg(i % 7 + 1)
                    .toLatin1();
    json += "]}";
    QVERIFY2(qsim::loadTagJson(json, &db, &error), qPrintable(error));
    const browse::MrExchange sim = [&](const QByteArray &request, QByteArray &reply) {
        reply = qsim::handleCip(request, db);
        return 0;
    };
    const browse::SymbolList list = browse::listSymbols(sim, QString());
    QVERIFY2(list.ok, qPrintable(list.error));
    QCOMPARE(list.symbols.size(), 303);
    QVERIFY(list.pages > 1);
    QCOMPARE(list.symbols.at(152).name, QStringLiteral("Tag_149"));
    QCOMPARE(list.symbols.at(152).dims[0], quint32(149 % 7 + 1));
    // A BOOL array: words flagged as bits, its dimension in bits.
    QCOMPARE(list.symbols.at(1).name, QStringLiteral("Bits"));
    QVERIFY(list.symbols.at(1).isBoolArray() && list.symbols.at(1).dimCount() == 1);
    QCOMPARE(list.symbols.at(1).dims[0], 96u);
    QVERIFY(!list.symbols.at(150).isBoolArray());
    QCOMPARE(list.symbols.at(2).atomic(), quint16(0xDA));

    browse::TemplateCache cache;
    QVERIFY(list.symbols.first().isStruct());
    QVERIFY2(cache.fetch(sim, list.symbols.first().templateId()), qPrintable(cache.error()));
    QCOMPARE(cache.all().size(), 3); // Outer, Inner, STRING
    const browse::StructType *outer = cache.find(list.symbols.first().templateId());
    QCOMPARE(outer->name, QStringLiteral("Outer"));
    QCOMPARE(outer->members.size(), 2);
    QCOMPARE(outer->members.at(1).name, QStringLiteral("Text"));
    QCOMPARE(outer->members.at(1).offset, 32u); // two 16-byte Inner
    const browse::StructType *inner = cache.find(outer->members.at(0).type & 0x0FFF);
    QVERIFY(inner);
    QCOMPARE(inner->members.at(1).info, quint16(3));
    QCOMPARE(inner->members.at(1).offset, 4u);

    // A controller that never stops sending the same partial page.
    const browse::MrExchange stuck = [](const QByteArray &, QByteArray &reply) {
        reply = QByteArray::fromHex("d5000600 01000000 0100 41 c400 000000000000000000000000");
        return 0;
    };
    const browse::SymbolList looping = browse::listSymbols(stuck, QString());
    QVERIFY(!looping.ok);
    QCOMPARE(looping.pages, 2);
}

QTEST_APPLESS_MAIN(TestBrowseFrames)
#include "tst_browseframes.moc"
