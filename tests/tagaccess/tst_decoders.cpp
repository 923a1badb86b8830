#include <QtTest>
#include <cstring>

#include "LibQuorvex.h"

namespace
{

// One text structure: 4-byte LEN, then `size - 4` bytes of data.
QByteArray text(qint32 len, const QByteArray &chars, int size = 88)
{
    QByteArray s(size, '\0');
    const quint32 u = quint32(len);
    for (int i = 0; i < 4; ++i)
        s[i] = char((u >> (8 * i)) & 0xFF);
    s.replace(4, chars.size(), chars);
    return s.left(size);
}

const QByteArray StdHandle = QByteArray::fromHex("ce0f");

} // namespace

class TestDecoders : public QObject
{
    Q_OBJECT

private:
    LibQuorvex d;

private slots:
    void integers_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("n");
        QTest::addColumn<QVariantList>("values"); // compared as qint64 / quint64
        QTest::newRow("Int16 258")
            << int(DT_Int16) << QByteArray::fromHex("0201") << 1 << QVariantList{258};
        QTest::newRow("Int16 from one byte")
            << int(DT_Int16) << QByteArray::fromHex("02") << 1 << QVariantList{2};
        QTest::newRow("Int16 negative")
            << int(DT_Int16) << QByteArray::fromHex("feff") << 1 << QVariantList{-2};
        QTest::newRow("UInt16") << int(DT_UInt16) << QByteArray::fromHex("feff") << 1
                                << QVariantList{65534};
        QTest::newRow("Int32 -2") << int(DT_Int32) << QByteArray::fromHex("feffffff") << 1
                                  << QVariantList{-2};
        QTest::newRow("UInt32 2^32-2")
            << int(DT_UInt32) << QByteArray::fromHex("feffffff") << 1 << QVariantList{4294967294ll};
        QTest::newRow("Int32 padded by zeros")
            << int(DT_Int32) << QByteArray::fromHex("2a000000") << 2 << QVariantList{42, 0};
        QTest::newRow("Int32 cut inside an element")
            << int(DT_Int32) << QByteArray::fromHex("2a0000000102") << 2
            << QVariantList{42, 0x0201};
        // Lists are made at full size by doubling, with one more element
        // where the count's binary digits ask for it: 11 is 1011.
        QTest::newRow("Int32 eleven, each in its place")
            << int(DT_Int32)
            << QByteArray::fromHex("01000000feffffff03000000040000000500000006000000"
                                   "070000000800000009000000ffffff7f0b000000")
            << 11 << QVariantList{1, -2, 3, 4, 5, 6, 7, 8, 9, 0x7fffffff, 11};
        QTest::newRow("UInt16 six, the last two missing")
            << int(DT_UInt16) << QByteArray::fromHex("0100ffff03000400") << 6
            << QVariantList{1, 65535, 3, 4, 0, 0};
        QTest::newRow("Int64 1") << int(DT_Int64) << QByteArray::fromHex("0100000000000000") << 1
                                 << QVariantList{1};
        QTest::newRow("Int64 min") << int(DT_Int64) << QByteArray::fromHex("0000000000000080") << 1
                                   << QVariantList{std::numeric_limits<qint64>::min()};
        QTest::newRow("Int8 negative")
            << int(DT_Int8) << QByteArray::fromHex("ff7f") << 2 << QVariantList{-1, 127};
        QTest::newRow("UInt8") << int(DT_UInt8) << QByteArray::fromHex("ff") << 1
                               << QVariantList{255};
        QTest::newRow("n 0") << int(DT_Int32) << QByteArray::fromHex("2a000000") << 0
                             << QVariantList{};
        QTest::newRow("n negative")
            << int(DT_Int16) << QByteArray::fromHex("2a00") << -3 << QVariantList{};
    }

    void integers()
    {
        QFETCH(int, type);
        QFETCH(QByteArray, bytes);
        QFETCH(int, n);
        QFETCH(QVariantList, values);
        QVariant v;
        QVariantList got;
        auto collect = [&](auto list) {
            for (auto x : list)
                got << QVariant(qint64(x));
        };
        switch (type) {
        case DT_Int8:
            v = d.set_variant_Int8(bytes, n);
            collect(v.value<QList<char>>());
            QCOMPARE(v.userType(), qMetaTypeId<QList<char>>());
            break;
        case DT_UInt8:
            v = d.set_variant_UInt8(bytes, n);
            collect(v.value<QList<unsigned char>>());
            QCOMPARE(v.userType(), qMetaTypeId<QList<unsigned char>>());
            break;
        case DT_Int16:
            v = d.set_variant_Int16(bytes, n);
            collect(v.value<QList<short>>());
            QCOMPARE(v.userType(), qMetaTypeId<QList<short>>());
            break;
        case DT_UInt16:
            v = d.set_variant_UInt16(bytes, n);
            collect(v.value<QList<unsigned short>>());
            QCOMPARE(v.userType(), qMetaTypeId<QList<unsigned short>>());
            break;
        case DT_Int32:
            v = d.set_variant_Int32(bytes, n);
            collect(v.value<QList<int>>());
            QCOMPARE(v.userType(), qMetaTypeId<QList<int>>());
            break;
        case DT_UInt32:
            v = d.set_variant_UInt32(bytes, n);
            collect(v.value<QList<unsigned int>>());
            QCOMPARE(v.userType(), qMetaTypeId<QList<unsigned int>>());
            break;
        case DT_Int64:
            v = d.set_variant_Int64(bytes, n);
            collect(v.value<QList<long long>>());
            QCOMPARE(v.userType(), qMetaTypeId<QList<long long>>());
            break;
        default:
            QFAIL("no such row type");
        }
        QVariantList want;
        for (const QVariant &x : values)
            want << QVariant(x.toLongLong());
        QCOMPARE(got, want);
    }

    void uint64Max()
    {
        const auto l =
            d.set_variant_UInt64(QByteArray(8, char(0xFF)), 1).value<QList<unsigned long long>>();
        QCOMPARE(l, QList<unsigned long long>{~0ull});
    }

    // Floating point values are bit patterns: even a NaN payload survives.
    void floatingBits_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("isDouble");
        QTest::addColumn<double>("value"); // NaN: compare the bits only
        QTest::newRow("float 1.0") << QByteArray::fromHex("0000803f") << false << 1.0;
        QTest::newRow("float -2.5") << QByteArray::fromHex("000020c0") << false << -2.5;
        QTest::newRow("float NaN payload") << QByteArray::fromHex("0100c07f") << false << qQNaN();
        QTest::newRow("double 1.0") << QByteArray::fromHex("000000000000f03f") << true << 1.0;
        QTest::newRow("double NaN payload")
            << QByteArray::fromHex("010000000000f87f") << true << qQNaN();
    }

    void floatingBits()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, isDouble);
        QFETCH(double, value);
        QByteArray bits;
        if (isDouble) {
            const auto l = d.set_variant_double(bytes, 1).value<QList<double>>();
            QCOMPARE(l.size(), 1);
            if (!qIsNaN(value))
                QCOMPARE(l.first(), value);
            bits = QByteArray(reinterpret_cast<const char *>(&l.first()), 8);
        } else {
            const auto l = d.set_variant_fload(bytes, 1).value<QList<float>>();
            QCOMPARE(l.size(), 1);
            if (!qIsNaN(value))
                QCOMPARE(double(l.first()), value);
            bits = QByteArray(reinterpret_cast<const char *>(&l.first()), 4);
        }
        QCOMPARE(bits.toHex(), bytes.toHex()); // little-endian host
    }

    void booleans_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("bits"); // "1" and "0", bit 0 first
        QTest::newRow("05, n 1: n + 1 bytes")
            << QByteArray::fromHex("05") << 1 << "1010000000000000";
        QTest::newRow("n 0: eight values") << QByteArray::fromHex("ff") << 0 << "11111111";
        QTest::newRow("second byte") << QByteArray::fromHex("0080") << 1 << "0000000000000001";
        QTest::newRow("n negative") << QByteArray::fromHex("ff") << -1 << "";
    }

    void booleans()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, n);
        QFETCH(QString, bits);
        const QVariant v = d.set_variant_bool(bytes, n);
        QCOMPARE(v.userType(), qMetaTypeId<QList<bool>>());
        QString got;
        for (bool b : v.value<QList<bool>>())
            got += b ? '1' : '0';
        QCOMPARE(got, bits);
    }

    void texts_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("n");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("ABC") << QByteArray::fromHex("ce0f0300000041424300") << 1
                             << QStringList{"ABC"};
        QTest::newRow("ends at a zero byte")
            << QByteArray::fromHex("ce0f050000004142004445") << 1 << QStringList{"AB"};
        QTest::newRow("LEN is four bytes: 256 is not 0")
            << StdHandle + text(256, "Hello") << 1 << QStringList{"Hello"};
        QTest::newRow("LEN bounded by the 82 data bytes")
            << StdHandle + text(300, QByteArray(82, 'x') + "yy") << 1
            << QStringList{QString(82, 'x')};
        QTest::newRow("LEN beyond the bytes present")
            << QByteArray::fromHex("ce0f0a000000414243") << 1 << QStringList{"ABC"};
        QTest::newRow("negative LEN: up to the first zero")
            << StdHandle + text(-1, "AB") << 1 << QStringList{"AB"};
        QTest::newRow("UTF-8") << StdHandle + text(6, "\xe6\xb8\xa9\xe5\xba\xa6") << 1
                               << QStringList{QString::fromUtf8("温度")};
        QTest::newRow("two standard texts")
            << StdHandle + text(3, "One") + text(3, "Two") << 2 << QStringList{"One", "Two"};
        QTest::newRow("missing structures are empty")
            << StdHandle + text(1, "A") + text(2, "Bc").left(10) << 4
            << QStringList{"A", "Bc", "", ""};
        QTest::newRow("custom size, stepped by the bytes")
            << QByteArray::fromHex("3412") + text(3, "abc", 24) + text(4, "defg", 24) +
                   text(2, "hi", 24)
            << 3 << QStringList{"abc", "defg", "hi"};
        QTest::newRow("custom LEN bounded by its own data")
            << QByteArray::fromHex("3412") + text(50, "0123456789abcdefXYZ", 20) + text(1, "z", 20)
            << 2 << QStringList{"0123456789abcdef", "z"};
        QTest::newRow("too short for LEN")
            << QByteArray::fromHex("ce0f0300") << 1 << QStringList{""};
        QTest::newRow("nothing") << QByteArray() << 2 << QStringList{"", ""};
        QTest::newRow("n 0") << QByteArray::fromHex("ce0f0300000041424300") << 0 << QStringList{};
    }

    void texts()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, n);
        QFETCH(QStringList, texts);
        const QVariant v = d.set_variant_string(bytes, n);
        QCOMPARE(v.userType(), qMetaTypeId<QList<QString>>());
        QCOMPARE(QStringList(v.value<QList<QString>>()), texts);
    }
};

QTEST_GUILESS_MAIN(TestDecoders)
#include "tst_decoders.moc"
