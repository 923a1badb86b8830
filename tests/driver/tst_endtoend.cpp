#include <QElapsedTimer>
#include <QLibrary>
#include <QtTest>

#include <cmath>
#include <memory>

#include "CDriveBaseClass.h"
#include "LibQuorvex.h"
#include "MessageCapture.h"
#include "SimRunner.h"

// Reads through the loaded plug-in, exactly as a host makes them, against
// the simulated controller running in its own thread.

namespace
{

using Entry = CDriveBaseClass *(*)();

template <typename T> QVariant listOf(std::initializer_list<T> items)
{
    return QVariant::fromValue(QList<T>(items));
}

template <typename T, typename F> QVariant generated(int n, F f)
{
    QList<T> l;
    for (int i = 0; i < n; ++i)
        l.append(T(f(i)));
    return QVariant::fromValue(l);
}

QVariant boolsOfBytes(const QByteArray &bytes)
{
    QList<bool> l;
    for (char b : bytes)
        for (int bit = 0; bit < 8; ++bit)
            l.append((quint8(b) >> bit) & 1);
    return QVariant::fromValue(l);
}

// Qt cannot compare lists of these element types inside a QVariant; their
// elements (plain Qt types) it can, and print them when they differ.
QStringList elements(const QVariant &v)
{
    QStringList out{QString::fromLatin1(v.typeName())};
    for (const QVariant &e : v.value<QVariantList>())
        out.append(e.userType() == QMetaType::Char ? QString::number(int(e.value<char>()))
                                                   : e.toString());
    return out;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    QLibrary lib{QStringLiteral(QUORVEX_LIBRARY_PATH)};
    Entry entry = nullptr;
    std::unique_ptr<qsim::SimRunner> sim;
    QList<CDriveBaseClass *> drivers;

    CDriveBaseClass *newDriver()
    {
        CDriveBaseClass *d = entry();
        drivers.append(d);
        return d;
    }

    CDriveBaseClass *connected(const QString &options = QString())
    {
        CDriveBaseClass *d = newDriver();
        const int rc = d->ConnectDrive(sim->address() + options);
        if (rc != 0)
            qWarning("connect failed: %d", rc);
        return d;
    }

    static LibQuorvex *facade(CDriveBaseClass *d) { return static_cast<LibQuorvex *>(d); }

    // One row of writesReachTheController (below).
    void writeRow(bool serialLine)
    {
        QFETCH(QString, option);
        QFETCH(QString, tag);
        QFETCH(int, type);
        QFETCH(int, count);
        QFETCH(QVariant, values);
        QFETCH(int, silentAfter);
        QFETCH(int, status);
        QFETCH(int, requests);
        QFETCH(QString, warning);
        QFETCH(QVariant, readBack);
        qsim::SimOptions o;
        o.serial = serialLine;
        qsim::SimRunner own(o);
        QVERIFY2(own.start(), qPrintable(own.errorString()));
        CDriveBaseClass *d = newDriver();
        const QString where =
            serialLine ? own.serialPath() + QStringLiteral(",115200,8,1,N") : own.address();
        QCOMPARE(d->ConnectDrive(where + option), 0);
        qsim::SimFaults f;
        f.silentAfter = silentAfter;
        own.setFaults(f);
        const int served = own.requestsServed();
        CLabelVariable in;
        in.values = values;
        in.auxInt = 5;
        const QDateTime before = QDateTime::currentDateTime();
        d->DebugCmd(DBG_StartDebug);
        MessageCapture capture;
        const CLabelVariable out = d->WriteVariable(tag, DataType(type), in, count);
        d->DebugCmd(DBG_StopDebug);
        QCOMPARE(out.status, status);
        QCOMPARE(out.tagName, tag);
        QCOMPARE(int(out.type), type);
        QCOMPARE(out.count, count);
        QCOMPARE(out.auxInt, 5);
        QCOMPARE(elements(out.values), elements(values));
        // A transfer or a refusal carries its time; a failed exchange none.
        QCOMPARE(out.timestamp.isValid(),
                 status != LR_Initial && status != LR_LinkFailed && status != LR_NoReply);
        if (out.timestamp.isValid())
            QVERIFY(out.timestamp >= before.addMSecs(-1));
        // A write that depends on the tag's type (a text, an element of what
        // may be a BOOL array) reads one element first, once per connection.
        const QStringList trace = capture.lines(QtDebugMsg);
        const int reads = trace.filter(QStringLiteral("lib[Quorvex]读命令 ")).size();
        QVERIFY(reads <= 1);
        // The simulator counts a reply just after writing it: the driver
        // may hold it first.
        QTRY_COMPARE_WITH_TIMEOUT(own.requestsServed() - served, requests + reads, 2000);
        // Every request sent is traced, and a part left unanswered was sent;
        // a serial line's lines name its port and rate.
        const QString sent =
            QStringLiteral("lib[Quorvex]写命令 %1  %2 len = %3 msg : 6f00")
                .arg(serialLine ? own.serialPath() + QStringLiteral(":115200") : own.address(), tag)
                .arg(count);
        QCOMPARE(trace.filter(sent).size(), requests + (silentAfter >= 0 ? 1 : 0));
        QCOMPARE(trace.filter(QStringLiteral("lib[Quorvex]写响应 ")).size(),
                 trace.filter(sent).size());
        const QStringList warnings = capture.lines(QtWarningMsg);
        if (warning.isEmpty())
            QCOMPARE(warnings, QStringList());
        else
            QVERIFY2(warnings.join('\n').contains(warning) && warnings.join('\n').contains(tag),
                     qPrintable(warnings.join('\n')));
        if (readBack.isValid()) {
            const int n = readBack.value<QVariantList>().size();
            const CLabelVariable v =
                d->ReadVariable(tag, DataType(type), type == DT_Bool ? count : n);
            QCOMPARE(v.status, int(LR_Success));
            if (type == DT_Bool) // a read unpacks count + 1 bytes of bits
                QCOMPARE(elements(v.values), elements(boolsOfBytes(QByteArray(2, '\0'))));
            else
                QCOMPARE(elements(v.values), elements(readBack));
        }
    }

    // One row of bitsAndElements over one messaging.
    void checkBitRow(CDriveBaseClass *d, qsim::SimRunner &own)
    {
        QFETCH(QString, address);
        QFETCH(int, type);
        QFETCH(int, count);
        QFETCH(QVariant, write);
        QFETCH(int, status);
        QFETCH(QVariant, values);
        QFETCH(QString, warning);
        QFETCH(QString, whole);
        QFETCH(int, width);
        QFETCH(int, wholeCount);
        QFETCH(quint64, after);
        QFETCH(quint64, toggleMask);
        QFETCH(int, lost);
        {
            CLabelVariable in;
            in.values = write;
            const auto once = [&] {
                return write.isValid() ? d->WriteVariable(address, DataType(type), in, count)
                                       : d->ReadVariable(address, DataType(type), count);
            };
            MessageCapture capture;
            const CLabelVariable v = once();
            QCOMPARE(v.status, status);
            const QStringList warnings = capture.lines(QtWarningMsg);
            if (warning.isEmpty())
                QCOMPARE(warnings, QStringList());
            else
                QVERIFY2(warnings.size() == 1 && warnings.first().contains(warning) &&
                             warnings.first().contains(address),
                         qPrintable(warnings.join('\n')));
            if (!write.isValid() && status == 0)
                QCOMPARE(elements(v.values), elements(values));
            // Once the integer's width is known, a bit beyond it goes unsent.
            if (warning.contains(QLatin1String("width = "))) {
                const int asked = own.tagRequestsServed();
                QCOMPARE(once().status, status);
                QCOMPARE(own.tagRequestsServed(), asked);
            }
            if (!write.isValid())
                return;
            if (status == 0) {
                const CLabelVariable back = d->ReadVariable(address, DataType(type), count);
                QCOMPARE(back.status, 0);
                QCOMPARE(elements(back.values), elements(values));
            }
            // Every request flipped the simulator's bit once, but for those
            // a read-then-write overwrote.
            const DataType unsignedOfWidth = width == 1   ? DT_UInt8
                                             : width == 2 ? DT_UInt16
                                             : width == 4 ? DT_UInt32
                                                          : DT_UInt64;
            const CLabelVariable all = d->ReadVariable(whole, unsignedOfWidth, wholeCount);
            QCOMPARE(all.status, 0);
            quint64 got = 0;
            const QVariantList list = all.values.value<QVariantList>();
            for (int i = 0; i < list.size(); ++i)
                got |= list.at(i).toULongLong() << (8 * width * i);
            const int flips = own.tagRequestsServed() - lost;
            QCOMPARE(QString::number(got, 16),
                     QString::number(after ^ (flips % 2 ? toggleMask : 0), 16));
        }
    }

    // One row of textsOfEveryType over one messaging.
    void checkTextRow(CDriveBaseClass *d)
    {
        QFETCH(QString, tag);
        QFETCH(QString, text);
        QFETCH(int, status);
        QFETCH(QString, readBack);
        QFETCH(QString, warning);
        {
            CLabelVariable in;
            in.values = listOf<QString>({text});
            MessageCapture capture;
            d->DebugCmd(DBG_StartDebug);
            QCOMPARE(d->WriteVariable(tag, DT_String, in).status, status);
            d->DebugCmd(DBG_StopDebug);
            const QStringList warnings = capture.lines(QtWarningMsg);
            if (warning.isEmpty())
                QCOMPARE(warnings, QStringList());
            else
                QVERIFY2(warnings.join('\n').contains(warning), qPrintable(warnings.join('\n')));
            // Refused: only reads that learned the type went out.
            if (status != 0)
                QCOMPARE(capture.lines(QtDebugMsg).filter(QStringLiteral("写命令")), QStringList());
            if (status == LR_LinkFailed) {
                QCOMPARE(elements(d->ReadVariable(tag + ".Rpm", DT_Int32).values),
                         elements(listOf<int>({1500})));
                return;
            }
            const CLabelVariable v = d->ReadVariable(tag, DT_String);
            QCOMPARE(v.status, 0);
            QCOMPARE(elements(v.values), elements(listOf<QString>({readBack})));
        }
    }
private slots:
    void initTestCase()
    {
        QVERIFY2(lib.load(), qPrintable(lib.errorString()));
        entry = reinterpret_cast<Entry>(lib.resolve("getSharedLibrary"));
        QVERIFY(entry);
        sim = std::make_unique<qsim::SimRunner>();
        QVERIFY2(sim->start(), qPrintable(sim->errorString()));
    }

    void cleanup()
    {
        for (CDriveBaseClass *d : drivers) {
            d->DisConnectDrive();
            d->DestroyFree();
            delete static_cast<QObject *>(facade(d));
        }
        drivers.clear();
        sim->setFaults(qsim::SimFaults());
    }

    void cleanupTestCase() { sim.reset(); }

    void readsTypedValues_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("count");
        QTest::addColumn<QVariant>("expected");

        // A BOOL is one byte; the driver unpacks count + 1 bytes of bits.
        QTest::newRow("BOOL") << "BoolTag" << int(DT_Bool) << 1
                              << boolsOfBytes(QByteArray::fromHex("0100"));
        QTest::newRow("SINT") << "SintTag" << int(DT_Int8) << 1 << listOf<char>({-5});
        QTest::newRow("USINT") << "UsintTag" << int(DT_UInt8) << 1 << listOf<unsigned char>({200});
        QTest::newRow("INT") << "IntTag" << int(DT_Int16) << 1 << listOf<short>({-1234});
        QTest::newRow("UINT") << "UintTag" << int(DT_UInt16) << 1
                              << listOf<unsigned short>({60000});
        QTest::newRow("DINT") << "DintTag" << int(DT_Int32) << 1 << listOf<int>({42});
        QTest::newRow("DINT any case") << "dinttag" << int(DT_Int32) << 1 << listOf<int>({42});
        QTest::newRow("UDINT") << "UdintTag" << int(DT_UInt32) << 1
                               << listOf<unsigned int>({4000000000u});
        QTest::newRow("REAL") << "RealTag" << int(DT_Float) << 1 << listOf<float>({1.5f});
        QTest::newRow("LINT") << "LintTag" << int(DT_Int64) << 1
                              << listOf<long long>({1234567890123LL});
        QTest::newRow("ULINT") << "UlintTag" << int(DT_UInt64) << 1
                               << listOf<unsigned long long>({18000000000000000000ULL});
        // Integers of another width are converted element by element.
        QTest::newRow("SINT as int32") << "SintTag" << int(DT_Int32) << 1 << listOf<int>({-5});
        QTest::newRow("INT as int64")
            << "IntTag" << int(DT_Int64) << 1 << listOf<long long>({-1234});
        QTest::newRow("DINT as int8") << "DintTag" << int(DT_Int8) << 1 << listOf<char>({42});
        QTest::newRow("DINT array as int16") << "DintArray" << int(DT_Int16) << 10
                                             << generated<short>(10, [](int i) { return i * 10; });
        QTest::newRow("INT array as int32 in parts")
            << "IntArray" << int(DT_Int32) << 300
            << generated<int>(300, [](int i) { return i - 150; });
        // the same bits whatever the signedness
        QTest::newRow("UDINT as int32")
            << "UdintTag" << int(DT_Int32) << 1 << listOf<int>({int(4000000000u)});
        QTest::newRow("DWORD as uint32")
            << "DwordTag" << int(DT_UInt32) << 1 << listOf<unsigned int>({0xDEADBEEFu});
        QTest::newRow("WORD as uint16")
            << "WordTag" << int(DT_UInt16) << 1 << listOf<unsigned short>({0xBEEF});
        QTest::newRow("BYTE as uint8")
            << "ByteTag" << int(DT_UInt8) << 1 << listOf<unsigned char>({0xA5});
        QTest::newRow("LWORD as uint64") << "LwordTag" << int(DT_UInt64) << 1
                                         << listOf<unsigned long long>({0x0123456789ABCDEFull});
        QTest::newRow("LREAL") << "LrealTag" << int(DT_Double) << 1 << listOf<double>({2.25});
        QTest::newRow("STRING") << "StringTag" << int(DT_String) << 1
                                << listOf<QString>({QStringLiteral("Hello, PLC")});
        QTest::newRow("five texts")
            << "Names" << int(DT_String) << 5
            << listOf<QString>({"Alpha", "Bravo", "Charlie", "Delta", "Echo"});
        QTest::newRow("texts from an index")
            << "Names[2]" << int(DT_String) << 2 << listOf<QString>({"Charlie", "Delta"});
        QTest::newRow("array whole") << "DintArray" << int(DT_Int32) << 10
                                     << generated<int>(10, [](int i) { return i * 10; });
        QTest::newRow("array element") << "DintArray[3]" << int(DT_Int32) << 1 << listOf<int>({30});
        QTest::newRow("array from an element")
            << "DintArray[7]" << int(DT_Int32) << 3 << listOf<int>({70, 80, 90});
        QTest::newRow("INT array in two parts")
            << "IntArray" << int(DT_Int16) << 300
            << generated<short>(300, [](int i) { return i - 150; });
        QTest::newRow("REAL array in parts")
            << "RealArray" << int(DT_Float) << 1000
            << generated<float>(1000, [](int i) { return i * 0.5f; });
        QTest::newRow("index above 255")
            << "IntArray[299]" << int(DT_Int16) << 1 << listOf<short>({149});
        QTest::newRow("two dimensions") << "Grid[2,3]" << int(DT_Int32) << 1 << listOf<int>({23});
        QTest::newRow("three dimensions")
            << "Cube[1,2,3]" << int(DT_Int16) << 1 << listOf<short>({123});
        QTest::newRow("member") << "Motor.Rpm" << int(DT_Int32) << 1 << listOf<int>({1500});
        QTest::newRow("REAL member")
            << "Motor.Temp" << int(DT_Float) << 1 << listOf<float>({36.5f});
        QTest::newRow("text member")
            << "Motor.Name" << int(DT_String) << 1 << listOf<QString>({"Pump-1"});
        QTest::newRow("array in a member")
            << "Motor.Limits[2]" << int(DT_Int32) << 1 << listOf<int>({30});
        QTest::newRow("member of an element")
            << "Motors[1].Rpm" << int(DT_Int32) << 1 << listOf<int>({1100});
        QTest::newRow("text of an element")
            << "Motors[2].Name" << int(DT_String) << 1 << listOf<QString>({"Pump-C"});
        QTest::newRow("element of a member of an element")
            << "Motors[1].Limits[3]" << int(DT_Int32) << 1 << listOf<int>({14});
        QTest::newRow("array inside a structure")
            << "Cfg.Limits[3]" << int(DT_Int32) << 1 << listOf<int>({103});
        QTest::newRow("nested members")
            << "Cfg.Inner.Deep.Code" << int(DT_Int32) << 1 << listOf<int>({99});
        QTest::newRow("nested INT")
            << "Cfg.Inner.Level" << int(DT_Int16) << 1 << listOf<short>({7});
        // BOOL[64] is held as two 32-bit words: 0x49249249, 0x92492492.
        QTest::newRow("BOOL array words")
            << "BoolArray" << int(DT_Bool) << 2 << boolsOfBytes(QByteArray::fromHex("499224"));
    }

    void readsTypedValues()
    {
        QFETCH(QString, tag);
        QFETCH(int, type);
        QFETCH(int, count);
        QFETCH(QVariant, expected);
        // unconnected, and over a connection: the same values either way
        for (const char *options : {"", ";connected=large"}) {
            CDriveBaseClass *d = connected(QLatin1String(options));
            const QDateTime before = QDateTime::currentDateTime();
            const CLabelVariable v = d->ReadVariable(tag, DataType(type), count);
            QCOMPARE(v.status, int(LR_Success));
            QCOMPARE(v.tagName, tag);
            QCOMPARE(int(v.type), type);
            QCOMPARE(v.count, count);
            QVERIFY(v.timestamp >= before.addMSecs(-1));
            QCOMPARE(elements(v.values), elements(expected));
        }
    }

    void readsLargeArraysWhole()
    {
        // Windowed, the later reads send their first wave with the first part.
        for (const char *options : {"", ";window=4", ";connected=large;window=4"}) {
            CDriveBaseClass *d = connected(QLatin1String(options));
            CLabelVariable v = d->ReadVariable(QStringLiteral("BigArray"), DT_Int32, 20000);
            QCOMPARE(v.status, int(LR_Success));
            const QList<int> all = v.values.value<QList<int>>();
            QCOMPARE(all.size(), 20000);
            bool same = true;
            for (int i = 0; i < all.size() && same; ++i)
                same = all.at(i) == i;
            QVERIFY(same);

            v = d->ReadVariable(QStringLiteral("BigArray[5000]"), DT_Int32, 10000);
            QCOMPARE(v.status, int(LR_Success));
            const QList<int> part = v.values.value<QList<int>>();
            QCOMPARE(part.size(), 10000);
            QCOMPARE(part.first(), 5000);
            QCOMPARE(part.last(), 14999);
            for (int i = 0; i < part.size() && same; ++i)
                same = part.at(i) == 5000 + i;
            QVERIFY(same);

            v = d->ReadVariable(QStringLiteral("BigArray[19999]"), DT_Int32);
            QCOMPARE(elements(v.values), elements(listOf<int>({19999})));
        }
    }

    void controllerErrorsAreFailures_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("status"); // as the warning shows it
        QTest::newRow("unknown tag") << "NoSuchTag" << int(DT_Int32) << 1 << "0x05";
        QTest::newRow("unknown member") << "Motor.NoMember" << int(DT_Int32) << 1 << "0x05";
        QTest::newRow("index past the end") << "DintArray[10]" << int(DT_Int32) << 1 << "0xff";
        QTest::newRow("count past the end") << "DintArray" << int(DT_Int32) << 11 << "0xff";
        QTest::newRow("index past the end, 16-bit")
            << "BigArray[20000]" << int(DT_Int32) << 1 << "0xff";
        QTest::newRow("dimension past the end") << "Grid[4,0]" << int(DT_Int32) << 1 << "0xff";
        // A reply that holds no value of the host's type is no value.
        QTest::newRow("REAL as int32") << "RealTag" << int(DT_Int32) << 1 << "reply = 0x00ca REAL";
        QTest::newRow("DINT as float") << "DintTag" << int(DT_Float) << 1 << "asked = 8 DT_Float";
        QTest::newRow("LREAL as float") << "LrealTag" << int(DT_Float) << 1 << "0x00cb LREAL";
        QTest::newRow("STRING as int32") << "StringTag" << int(DT_Int32) << 1 << "0x02a0";
        QTest::newRow("structure as int16") << "Motor" << int(DT_Int16) << 1 << "0x02a0";
        QTest::newRow("text array as double") << "Names" << int(DT_Double) << 5 << "0x02a0";
        // Converted integers that do not fit are no value either.
        QTest::newRow("LINT as one byte")
            << "LintTag" << int(DT_Int8) << 1 << "index = 0 value = 1234567890123";
        QTest::newRow("INT array as int8: 127 fits, 128 does not")
            << "IntArray[270]" << int(DT_Int8) << 10 << "index = 8 value = 128";
    }

    void controllerErrorsAreFailures()
    {
        QFETCH(QString, tag);
        QFETCH(int, type);
        QFETCH(int, count);
        QFETCH(QString, status);
        CDriveBaseClass *d = connected();
        MessageCapture capture;
        const CLabelVariable v = d->ReadVariable(tag, DataType(type), count);
        QCOMPARE(v.status, int(LR_LinkFailed));
        QVERIFY(!v.values.isValid());
        QVERIFY(v.timestamp.isNull());
        const QStringList warnings = capture.lines(QtWarningMsg);
        QCOMPARE(warnings.size(), 1);
        QVERIFY2(warnings.first().contains(tag) &&
                     warnings.first().contains(status, Qt::CaseInsensitive),
                 qPrintable(warnings.first()));
    }

    void refusedAddressesSendNothing_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::newRow("starts with dot") << ".Rpm";
        QTest::newRow("starts with bracket") << "[1]";
        QTest::newRow("empty member") << "Motor..Rpm";
        QTest::newRow("trailing dot") << "Motor.";
        QTest::newRow("empty index") << "DintArray[]";
        QTest::newRow("index not a number") << "DintArray[x]";
        QTest::newRow("negative index") << "DintArray[-1]";
        QTest::newRow("unclosed bracket") << "DintArray[1";
        QTest::newRow("closing bracket first") << "DintArray]1[";
        QTest::newRow("control character") << QStringLiteral("Dint\001Tag");
        QTest::newRow("beyond Latin-1") << QStringLiteral("温度");
        QTest::newRow("path too long") << QString(600, QLatin1Char('A'));
    }

    void refusedAddressesSendNothing()
    {
        QFETCH(QString, tag);
        CDriveBaseClass *d = connected();
        const int served = sim->requestsServed();
        const CLabelVariable v = d->ReadVariable(tag, DT_Int32, 1);
        QCOMPARE(v.status, int(LR_BadAddress));
        QCOMPARE(v.tagName, tag);
        QCOMPARE(sim->requestsServed(), served);
    }

    void countsOutsideTheFieldSendNothing()
    {
        CDriveBaseClass *d = connected();
        const int served = sim->requestsServed();
        QCOMPARE(d->ReadVariable(QStringLiteral("BigArray"), DT_Int32, 0).status, int(LR_BadCount));
        QCOMPARE(d->ReadVariable(QStringLiteral("BigArray"), DT_Int32, 65536).status,
                 int(LR_BadCount));
        QCOMPARE(sim->requestsServed(), served);
    }

    void typeWithoutDecoderStillAsks()
    {
        CDriveBaseClass *d = connected();
        const int served = sim->requestsServed();
        const CLabelVariable v = d->ReadVariable(QStringLiteral("DintTag"), DataType(13), 1);
        QCOMPARE(v.status, int(LR_UnsupportedType));
        QVERIFY(v.timestamp.isValid());
        QVERIFY(!v.values.isValid());
        QTRY_COMPARE_WITH_TIMEOUT(sim->requestsServed(), served + 1, 2000);
    }

    void silentControllerGivesNoReply()
    {
        CDriveBaseClass *d = connected();
        qsim::SimFaults f;
        f.silentAfter = 0;
        sim->setFaults(f);
        QElapsedTimer t;
        t.start();
        MessageCapture capture;
        const CLabelVariable v = d->ReadVariable(QStringLiteral("DintTag"), DT_Int32);
        QCOMPARE(v.status, int(LR_NoReply));
        // Exactly the one warning, with every placeholder filled.
        QCOMPARE(capture.lines(QtWarningMsg),
                 QStringList(QStringLiteral("lib[Quorvex]返回的报文长度为0 127.0.0.1:%1  DintTag "
                                            "len = 1 msg : ")
                                 .arg(sim->port())));
        QVERIFY(v.timestamp.isNull());
        // About 0.55 s; sanitizers slow everything down.
        const int bound = qEnvironmentVariableIsSet("QUORVEX_SANITIZED") ? 3000 : 1000;
        QVERIFY2(t.elapsed() < bound, qPrintable(QString::number(t.elapsed())));
        sim->setFaults(qsim::SimFaults());
        QCOMPARE(elements(d->ReadVariable(QStringLiteral("DintTag"), DT_Int32).values),
                 elements(listOf<int>({42})));
    }

    void splitAndDelayedRepliesArriveWhole_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<int>("splitGapMs");
        QTest::newRow("split, 20 ms apart") << 0 << 20;
        QTest::newRow("split, no gap") << 0 << 0;
        QTest::newRow("delayed 100 ms") << 100 << -1;
        QTest::newRow("delayed and split") << 50 << 30;
    }

    void splitAndDelayedRepliesArriveWhole()
    {
        QFETCH(int, delayMs);
        QFETCH(int, splitGapMs);
        CDriveBaseClass *d = connected();
        qsim::SimFaults f;
        f.delayMs = delayMs;
        f.splitGapMs = splitGapMs;
        sim->setFaults(f);
        QCOMPARE(elements(d->ReadVariable(QStringLiteral("DintTag"), DT_Int32).values),
                 elements(listOf<int>({42})));
        const CLabelVariable big = d->ReadVariable(QStringLiteral("IntArray"), DT_Int16, 300);
        QCOMPARE(big.status, int(LR_Success));
        QCOMPARE(big.values.value<QList<short>>().value(299), short(149));
    }

    void lateReplyIsNeverTakenByTheNextRead()
    {
        CDriveBaseClass *d = connected();
        qsim::SimFaults f;
        f.delayMs = 800; // past the driver's wait
        sim->setFaults(f);
        const int servedBefore = sim->requestsServed();
        QCOMPARE(d->ReadVariable(QStringLiteral("IntTag"), DT_Int16).status, int(LR_NoReply));
        sim->setFaults(qsim::SimFaults());
        // The simulator answers in order, so the late IntTag reply reaches
        // the driver while the first of these reads waits for its own.
        for (int i = 0; i < 3; ++i) {
            const CLabelVariable v = d->ReadVariable(QStringLiteral("DintTag"), DT_Int32);
            QCOMPARE(v.status, int(LR_Success));
            QCOMPARE(elements(v.values), elements(listOf<int>({42})));
        }
        // The late reply was really sent (and dropped), not lost.
        QTRY_COMPARE_WITH_TIMEOUT(sim->requestsServed(), servedBefore + 4, 2000);
    }

    void closedConnectionThenReconnect()
    {
        CDriveBaseClass *d = connected();
        QCOMPARE(d->ReadVariable(QStringLiteral("DintTag"), DT_Int32).status, int(LR_Success));
        qsim::SimFaults f;
        f.closeAfter = 0;
        sim->setFaults(f);
        MessageCapture capture;
        const int during = d->ReadVariable(QStringLiteral("DintTag"), DT_Int32).status;
        QVERIFY2(during == LR_NoReply || during == LR_NotConnected,
                 qPrintable(QString::number(during)));
        QTRY_VERIFY_WITH_TIMEOUT(
            d->ReadVariable(QStringLiteral("DintTag"), DT_Int32).status == LR_NotConnected, 3000);
        QVERIFY(!capture.lines(QtWarningMsg).filter(QStringLiteral("Disconnected=")).isEmpty());
        sim->setFaults(qsim::SimFaults());
        QCOMPARE(d->ConnectDrive(sim->address()), 0);
        QCOMPARE(elements(d->ReadVariable(QStringLiteral("DintTag"), DT_Int32).values),
                 elements(listOf<int>({42})));
    }

    void garbageRepliesAreRejected()
    {
        CDriveBaseClass *d = connected();
        qsim::SimFaults f;
        f.garbage = true;
        sim->setFaults(f);
        for (int i = 0; i < 5; ++i) {
            const CLabelVariable v = d->ReadVariable(QStringLiteral("DintArray"), DT_Int32, 10);
            QVERIFY2(v.status == LR_LinkFailed || v.status == LR_NoReply,
                     qPrintable(QString::number(v.status)));
            QVERIFY(!v.values.isValid());
        }
    }

    void fixedErrorStatusIsReported()
    {
        CDriveBaseClass *d = connected();
        qsim::SimFaults f;
        f.errorStatus = 0x08;
        sim->setFaults(f);
        MessageCapture capture;
        QCOMPARE(d->ReadVariable(QStringLiteral("DintTag"), DT_Int32).status, int(LR_LinkFailed));
        QVERIFY(
            capture.lines(QtWarningMsg).join(QLatin1Char('\n')).contains(QStringLiteral("0x08")));
    }

    void registrationStoresAndUsesTheHandle()
    {
        CDriveBaseClass *d = connected();
        const QByteArray first = facade(d)->link.sessionHandle;
        QCOMPARE(first.size(), 4);
        QVERIFY(first != QByteArray(4, '\0'));

        qsim::SimRunner other;
        QVERIFY(other.start());
        QCOMPARE(d->ConnectDrive(other.address()), 0);
        QCOMPARE(facade(d)->link.sessionHandle.size(), 4);
        // The other controller knows only its own handle: a read succeeds
        // only when the new one replaced the first.
        QCOMPARE(d->ReadVariable(QStringLiteral("DintTag"), DT_Int32).status, int(LR_Success));
        QTRY_COMPARE_WITH_TIMEOUT(other.requestsServed(), 2, 2000);
        d->DisConnectDrive();
    }

    void rejectedRegistrationFailsTheConnect()
    {
        qsim::SimFaults f;
        f.rejectRegister = true;
        sim->setFaults(f);
        CDriveBaseClass *d = newDriver();
        MessageCapture capture;
        QCOMPARE(d->ConnectDrive(sim->address()), -3);
        QCOMPARE(capture.count(QtWarningMsg), 1);
        QVERIFY(facade(d)->link.sessionHandle.isEmpty());
    }

    void traceSwitch()
    {
        CDriveBaseClass *d = newDriver();
        QCOMPARE(d->DebugCmd(DBG_StartDebug), QStringLiteral("StartDebug"));
        MessageCapture capture;
        QCOMPARE(d->ConnectDrive(sim->address()), 0);
        QCOMPARE(d->ReadVariable(QStringLiteral("DintTag"), DT_Int32).status, 0);
        const QString where = QStringLiteral("127.0.0.1:%1").arg(sim->port());
        const QStringList debug = capture.lines(QtDebugMsg);
        QCOMPARE(debug.size(), 4);
        QCOMPARE(debug.at(0),
                 QStringLiteral("lib[Quorvex]读命令 %1 msg : "
                                "65000400000000000000000001000000000000000000000001000000")
                     .arg(where));
        QVERIFY(
            debug.at(1).startsWith(QStringLiteral("lib[Quorvex]响应 %1 msg : 6500").arg(where)));
        QVERIFY2(
            debug.at(2).startsWith(
                QStringLiteral("lib[Quorvex]读命令 %1  DintTag len = 1 msg : 6f00").arg(where)),
            qPrintable(debug.at(2)));
        QVERIFY(debug.at(3).startsWith(
            QStringLiteral("lib[Quorvex]读响应 %1  DintTag len = 1 msg : 6f00").arg(where)));
        QVERIFY(debug.at(3).endsWith(QStringLiteral("c4002a000000")));

        capture.clear();
        QCOMPARE(d->DebugCmd(DBG_StopDebug), QStringLiteral("StopDebug"));
        QCOMPARE(d->ReadVariable(QStringLiteral("DintTag"), DT_Int32).status, 0);
        QCOMPARE(d->ReadVariable(QStringLiteral("NoSuchTag"), DT_Int32).status, 7);
        QCOMPARE(capture.count(QtDebugMsg), 0);
        QCOMPARE(capture.count(QtWarningMsg), 1); // warnings stay on
    }

    void refusedPortGivesMinus3()
    {
        qsim::SimRunner gone;
        QVERIFY(gone.start());
        const QString address = gone.address();
        gone.stop();
        CDriveBaseClass *d = newDriver();
        QCOMPARE(d->ConnectDrive(address), -3);
        QCOMPARE(d->ReadVariable(QStringLiteral("DintTag"), DT_Int32).status, int(LR_NotConnected));
        CDriveBaseClass *w = newDriver();
        QCOMPARE(w->ConnectDrive(address + QStringLiteral(";write")), -3);
        CLabelVariable one;
        one.values = listOf<int>({1});
        const CLabelVariable out = w->WriteVariable(QStringLiteral("DintTag"), DT_Int32, one);
        QCOMPARE(out.status, int(LR_NotConnected));
        QCOMPARE(out.count, 1);
    }

    void destroyFreeReleasesOnce()
    {
        CDriveBaseClass *d = connected();
        QCOMPARE(d->DestroyFree(), 0);
        QCOMPARE(d->DestroyFree(), 1);
        QCOMPARE(d->ReadVariable(QStringLiteral("DintTag"), DT_Int32).status, int(LR_NotConnected));
    }

    void overTheSerialLine()
    {
        qsim::SimOptions o;
        o.serial = true;
        qsim::SimRunner serial(o);
        QVERIFY2(serial.start(), qPrintable(serial.errorString()));
        CDriveBaseClass *d = newDriver();
        QCOMPARE(d->ConnectDrive(serial.serialPath() + QStringLiteral(",115200,8,1,N")), 0);
        QCOMPARE(elements(d->ReadVariable(QStringLiteral("DintTag"), DT_Int32).values),
                 elements(listOf<int>({42})));
        QCOMPARE(elements(d->ReadVariable(QStringLiteral("Motors[1].Name"), DT_String).values),
                 elements(listOf<QString>({"Pump-B"})));
        QCOMPARE(d->ReadVariable(QStringLiteral("Names"), DT_String, 5)
                     .values.value<QList<QString>>()
                     .size(),
                 5);
        const CLabelVariable big = d->ReadVariable(QStringLiteral("BigArray"), DT_Int32, 2000);
        QCOMPARE(big.status, int(LR_Success));
        QCOMPARE(big.values.value<QList<int>>().value(1999), 1999);
        QCOMPARE(d->ReadVariable(QStringLiteral("NoSuchTag"), DT_Int32).status, int(LR_LinkFailed));
        QCOMPARE(d->DisConnectDrive(), 0);
        QCOMPARE(d->ReadVariable(QStringLiteral("DintTag"), DT_Int32).status, int(LR_NotConnected));
    }

    // A line at its real rate: the simulator writes each reply byte at the
    // pace of the baud rate (8N1, 10 bits a byte).
    void slowSerialLines_data()
    {
        QTest::addColumn<int>("baud");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("replyBytes"); // on the wire, all parts
        QTest::newRow("9600: DINT") << 9600 << "DintTag" << int(DT_Int32) << 1 << 50;
        QTest::newRow("9600: text") << 9600 << "StringTag" << int(DT_String) << 1 << 136;
        QTest::newRow("9600: 1000 DINTs in parts")
            << 9600 << "BigArray" << int(DT_Int32) << 1000 << 4000 + 9 * 46;
        QTest::newRow("19200: text") << 19200 << "StringTag" << int(DT_String) << 1 << 136;
        QTest::newRow("19200: 1000 DINTs in parts")
            << 19200 << "BigArray" << int(DT_Int32) << 1000 << 4000 + 9 * 46;
    }
    void slowSerialLines()
    {
        QFETCH(int, baud);
        QFETCH(QString, tag);
        QFETCH(int, type);
        QFETCH(int, count);
        QFETCH(int, replyBytes);
        qsim::SimOptions o;
        o.serial = true;
        o.byteDelayUs = 10 * 1000000 / baud;
        qsim::SimRunner serial(o);
        QVERIFY2(serial.start(), qPrintable(serial.errorString()));
        CDriveBaseClass *d = newDriver();
        QCOMPARE(d->ConnectDrive(serial.serialPath() + QStringLiteral(",%1,8,1,N").arg(baud)), 0);
        QElapsedTimer clock;
        clock.start();
        const CLabelVariable v = d->ReadVariable(tag, DataType(type), count);
        const qint64 ms = clock.elapsed();
        QCOMPARE(v.status, int(LR_Success));
        if (tag == "BigArray")
            QCOMPARE(v.values.value<QList<int>>(),
                     generated<int>(1000, [](int i) { return i; }).value<QList<int>>());
        else if (tag == "DintTag")
            QCOMPARE(v.values.value<QList<int>>(), QList<int>{42});
        else
            QCOMPARE(v.values.value<QList<QString>>(), QStringList{"Hello, PLC"});
        // the bytes did take their time on the line (else this proves nothing)
        const qint64 wireMs = qint64(replyBytes) * o.byteDelayUs / 1000;
        qInfo("%lld ms for %d reply bytes (%lld ms on the wire)", ms, replyBytes, wireMs);
        QVERIFY(ms >= wireMs * 6 / 10);
    }

    // Writes, each row against a simulator of its own so that what it
    // stores stays out of the other rows and tests: the write, the requests
    // the simulator saw for it, the warning, and what a read returns after.
    void writesReachTheController_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("tag");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("count");
        QTest::addColumn<QVariant>("values");
        QTest::addColumn<int>("silentAfter"); // >= 0: the simulator stops answering
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("requests"); // writes, not counting a read that learns the type
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QVariant>("readBack"); // invalid: not read back
        const QString w = QStringLiteral(";write");
        auto ok = [&](const char *name, const char *tag, DataType type, int count,
                      const QVariant &v, int requests = 1) {
            QTest::newRow(name) << w << tag << int(type) << count << v << -1 << 0 << requests
                                << QString() << v;
        };
        ok("BOOL", "BoolTag", DT_Bool, 1, listOf<bool>({false}));
        ok("SINT", "SintTag", DT_Int8, 1, listOf<char>({-100}));
        ok("USINT", "UsintTag", DT_UInt8, 1, listOf<unsigned char>({17}));
        ok("INT", "IntTag", DT_Int16, 1, listOf<short>({-32768}));
        ok("UINT", "UintTag", DT_UInt16, 1, listOf<unsigned short>({65535}));
        ok("DINT", "DintTag", DT_Int32, 1, listOf<int>({-7}));
        ok("UDINT", "UdintTag", DT_UInt32, 1, listOf<unsigned int>({4294967295u}));
        ok("REAL", "RealTag", DT_Float, 1, listOf<float>({-2.75f}));
        ok("LINT", "LintTag", DT_Int64, 1, listOf<long long>({-9000000000000000000LL}));
        ok("ULINT", "UlintTag", DT_UInt64, 1,
           listOf<unsigned long long>({18446744073709551615ULL}));
        ok("LREAL", "LrealTag", DT_Double, 1, listOf<double>({1e-300}));
        // A bit string takes no integer code: refused as a type mismatch
        // (nothing stored), then sent once more as the bit string.
        ok("DWORD", "DwordTag", DT_UInt32, 1, listOf<unsigned int>({0x12345678u}), 2);
        ok("DWORD from int32", "DwordTag", DT_Int32, 1, listOf<int>({-2}), 2);
        ok("WORD", "WordTag", DT_Int16, 1, listOf<short>({-2}), 2);
        ok("BYTE", "ByteTag", DT_UInt8, 1, listOf<unsigned char>({0x5A}), 2);
        ok("LWORD", "LwordTag", DT_UInt64, 1, listOf<unsigned long long>({0xFEDCBA9876543210ull}),
           2);
        ok("STRING", "StringTag", DT_String, 1, listOf<QString>({QStringLiteral("Grüße, 温度")}));
        ok("empty text", "StringTag", DT_String, 1, listOf<QString>({QString()}));
        ok("82-byte text", "StringTag", DT_String, 1, listOf<QString>({QString(82, 'x')}));
        ok("texts from an index", "Names[3]", DT_String, 2, listOf<QString>({"Yankee", "Zulu"}));
        ok("elements", "DintArray[7]", DT_Int32, 3, listOf<int>({1, 2, 3}));
        ok("two dimensions", "Grid[3,4]", DT_Int32, 1, listOf<int>({-34}));
        ok("three dimensions", "Cube[1,2,3]", DT_Int16, 1, listOf<short>({-123}));
        ok("member", "Motor.Temp", DT_Float, 1, listOf<float>({99.5f}));
        ok("text member of an element", "Motors[2].Name", DT_String, 1, listOf<QString>({"Fan"}));
        ok("element of a member of an element", "Motors[1].Limits[2]", DT_Int32, 2,
           listOf<int>({-1, -2}));
        ok("nested members", "Cfg.Inner.Deep.Code", DT_Int32, 1, listOf<int>({12345}));
        // 20,000 bytes in parts of 468: whole DINTs in a 504-byte message.
        ok("5000 DINTs in parts", "BigArray[100]", DT_Int32, 5000,
           generated<int>(5000, [](int i) { return 7 * i - 3; }), 43);
        QTest::newRow("fewer values given than counted go unsent")
            << w << "DintArray" << int(DT_Int32) << 4 << listOf<int>({1, 2, 3}) << -1
            << int(LR_IndexOutOfRange) << 0 << QString()
            << generated<int>(4, [](int i) { return i * 10; });
        QTest::newRow("another element type goes unsent")
            << w << "DintTag" << int(DT_Int32) << 1 << listOf<short>({5}) << -1
            << int(LR_WrongElementType) << 0 << QString() << listOf<int>({42});
        QTest::newRow("an 83-byte text goes unsent, never cut")
            << w << "StringTag" << int(DT_String) << 1 << listOf<QString>({QString(83, 'x')}) << -1
            << int(LR_WrongElementType) << 0 << "bytes = 83" << listOf<QString>({"Hello, PLC"});
        QTest::newRow("type 13 goes unsent")
            << w << "DintTag" << 13 << 1 << listOf<int>({5}) << -1 << int(LR_UnsupportedType) << 0
            << QString() << QVariant();
        QTest::newRow("count 0 goes unsent")
            << w << "DintTag" << int(DT_Int32) << 0 << listOf<int>({}) << -1 << int(LR_BadCount)
            << 0 << QString() << QVariant();
        QTest::newRow("bad address goes unsent")
            << w << "Motor..Rpm" << int(DT_Int32) << 1 << listOf<int>({5}) << -1
            << int(LR_BadAddress) << 0 << QString() << QVariant();
        // refused as INT, then as WORD
        QTest::newRow("type mismatch")
            << w << "DintTag" << int(DT_Int16) << 1 << listOf<short>({5}) << -1
            << int(LR_LinkFailed) << 2 << "status = 0xff ext = 0x2107" << listOf<short>({42});
        QTest::newRow("type mismatch, no bit string for REAL")
            << w << "DintTag" << int(DT_Float) << 1 << listOf<float>({5}) << -1
            << int(LR_LinkFailed) << 1 << "status = 0xff ext = 0x2107" << QVariant();
        QTest::newRow("past the end")
            << w << "DintArray[8]" << int(DT_Int32) << 3 << listOf<int>({1, 2, 3}) << -1
            << int(LR_LinkFailed) << 1 << "status = 0xff ext = 0x2105" << listOf<int>({80, 90});
        QTest::newRow("unknown tag")
            << w << "NoSuchTag" << int(DT_Int32) << 1 << listOf<int>({5}) << -1
            << int(LR_LinkFailed) << 1 << "status = 0x05" << QVariant();
        QTest::newRow("unknown member")
            << w << "Motor.Nope" << int(DT_Int32) << 1 << listOf<int>({5}) << -1
            << int(LR_LinkFailed) << 1 << "status = 0x05" << QVariant();
        QTest::newRow("no reply") << w << "DintTag" << int(DT_Int32) << 1 << listOf<int>({5}) << 0
                                  << int(LR_NoReply) << 0 << "返回的报文长度为0" << QVariant();
        QTest::newRow("parts stop answering after the first")
            << w << "BigArray" << int(DT_Int32) << 5000
            << generated<int>(5000, [](int) { return 1; }) << 1 << int(LR_LinkFailed) << 1
            << "written = 468 of 20000" << QVariant();
        QTest::newRow("without the option, the echo")
            << QString() << "DintTag" << int(DT_Int32) << 1 << listOf<int>({5}) << -1
            << int(LR_Initial) << 0 << QString() << listOf<int>({42});
        QTest::newRow("write=off, the echo")
            << QStringLiteral(";write=off") << "DintTag" << int(DT_Int32) << 1 << listOf<int>({5})
            << -1 << int(LR_Initial) << 0 << QString() << listOf<int>({42});
    }

    void writesReachTheController() { writeRow(false); }

    void writesOverTheSerialLine_data() { writesReachTheController_data(); }
    void writesOverTheSerialLine() { writeRow(true); }

    // Bits of integers and elements of BOOL arrays, read and written over
    // TCP, a connection and the serial line. A write changes its bits and
    // no other, even while the simulator flips another bit of the same
    // integer before every request; the integer is then read whole.
    void bitsAndElements_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("count");
        QTest::addColumn<QVariant>("write");  // invalid: only read
        QTest::addColumn<int>("status");      // of the write, else of the read
        QTest::addColumn<QVariant>("values"); // a read of the address after a good write
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QString>("whole"); // the integer(s), read whole after a write
        QTest::addColumn<int>("width");     // bytes of one
        QTest::addColumn<int>("wholeCount");
        QTest::addColumn<quint64>("after");      // their bits after the write, flips aside
        QTest::addColumn<QString>("toggle");     // the simulator flips this bit, TAG.N
        QTest::addColumn<quint64>("toggleMask"); // ... which is this one of `whole`
        QTest::addColumn<int>("lost");           // flips a write overwrote
        QTest::addColumn<QString>("option");
        QTest::addColumn<bool>("noRmw");
        const QVariant on = listOf<bool>({true}), off = listOf<bool>({false});
        auto read = [&](const char *name, const char *address, const QVariant &values,
                        int type = DT_Bool, int count = 1) {
            QTest::newRow(name) << address << type << count << QVariant() << 0 << values
                                << QString() << QString() << 0 << 0 << quint64(0) << QString()
                                << quint64(0) << 0 << QString() << false;
        };
        auto refused = [&](const char *name, const char *address, const char *warning,
                           int type = DT_Bool) {
            QTest::newRow(name) << address << type << 1 << QVariant() << 7 << QVariant()
                                << QString::fromUtf8(warning) << QString() << 0 << 0 << quint64(0)
                                << QString() << quint64(0) << 0 << QString() << false;
        };
        // `whole` of `n` integers of `width` bytes, their bits `after`.
        auto write = [&](const char *name, const char *address, bool value, const char *whole,
                         int width, int n, quint64 after, const char *toggle, int toggleBit,
                         int status = 0, const char *warning = "", int lost = 0,
                         const char *option = "", bool noRmw = false) {
            QTest::newRow(name) << address << int(DT_Bool) << 1 << listOf<bool>({value}) << status
                                << listOf<bool>({value}) << QString::fromUtf8(warning) << whole
                                << width << n << after << toggle << (quint64(1) << toggleBit)
                                << lost << option << noRmw;
        };
        // Bit 0, the last bit and one past it, of every width.
        read("SINT bit 0", "SintTag.0", on); // -5 = 0xFB
        read("SINT bit 2", "SintTag.2", off);
        read("SINT bit 7", "SintTag.7", on);
        refused("SINT bit 8", "SintTag.8", "bit = 8 width = 8");
        read("USINT bit 0", "UsintTag.0", off); // 200 = 0xC8
        read("USINT bit 7", "UsintTag.7", on);
        refused("USINT bit 8", "UsintTag.8", "bit = 8 width = 8");
        read("BYTE bit 7", "ByteTag.7", on); // 0xA5
        refused("BYTE bit 8", "ByteTag.8", "bit = 8 width = 8");
        read("INT bit 0", "IntTag.0", off); // -1234 = 0xFB2E
        read("INT bit 15", "IntTag.15", on);
        refused("INT bit 16", "IntTag.16", "bit = 16 width = 16");
        read("UINT bit 15", "UintTag.15", on); // 60000 = 0xEA60
        refused("UINT bit 16", "UintTag.16", "bit = 16 width = 16");
        read("WORD bit 0", "WordTag.0", on); // 0xBEEF
        read("WORD bit 15", "WordTag.15", on);
        refused("WORD bit 16", "WordTag.16", "bit = 16 width = 16");
        read("DINT bit 0", "DintTag.0", off); // 42
        read("DINT bit 5", "DintTag.5", on);
        read("DINT bit 31", "DintTag.31", off);
        refused("DINT bit 32", "DintTag.32", "bit = 32 width = 32");
        read("UDINT bit 31", "UdintTag.31", on); // 0xEE6B2800
        refused("UDINT bit 32", "UdintTag.32", "bit = 32 width = 32");
        read("DWORD bit 0", "DwordTag.0", on); // 0xDEADBEEF
        read("DWORD bit 31", "DwordTag.31", on);
        refused("DWORD bit 32", "DwordTag.32", "bit = 32 width = 32");
        read("LINT bit 0", "LintTag.0", on); // 0x0000011F71FB04CB
        read("LINT bit 63", "LintTag.63", off);
        refused("LINT bit 64", "LintTag.64", "bit = 64 width = 64");
        read("ULINT bit 63", "UlintTag.63", on); // 0xF9CCD8A1C5080000
        read("ULINT bit 0", "UlintTag.0", off);
        read("LWORD bit 0", "LwordTag.0", on); // 0x0123456789ABCDEF
        read("LWORD bit 63", "LwordTag.63", off);
        refused("LWORD bit 64", "LwordTag.64", "bit = 64 width = 64");
        // Of elements and members, across elements, in other types.
        read("bit of an element", "DintArray[3].4", on);               // 30
        read("bit of a member", "Motor.Rpm.2", on);                    // 1500
        read("bit of a member of an element", "Motors[2].Rpm.2", off); // 1200
        read("bits across two elements", "IntArray[150].14",
             listOf<bool>({false, false, true, false}), DT_Bool, 4); // 0 and 1
        read("a bit as int32", "DintTag.5", listOf<int>({1}), DT_Int32);
        read("a bit as double", "IntTag.15", listOf<double>({1.0}), DT_Double);
        refused("a bit is no text", "DintTag.5", "asked = 12 DT_String", DT_String);
        refused("a REAL has no bits", "RealTag.3", "reply = 0x00ca REAL");
        // BOOL[64]: bit k set when k % 3 == 0, in two words.
        read("BOOL array element 0", "BoolArray[0]", on);
        read("BOOL array element 31", "BoolArray[31]", off);
        read("BOOL array element 32", "BoolArray[32]", off);
        read("BOOL array element 33", "BoolArray[33]", on);
        read("BOOL array element n - 1", "BoolArray[63]", on);
        refused("BOOL array element n", "BoolArray[64]", "status = 0xff ext = 0x2105");
        read("BOOL array elements 30 to 33", "BoolArray[30]",
             listOf<bool>({true, false, false, true}), DT_Bool, 4);
        read("BOOL array element as uint8", "BoolArray[36]", listOf<unsigned char>({1}), DT_UInt8);
        read("DINT array element is no bit", "DintArray[3]", listOf<int>({30}), DT_Int32);
        // One bit set or cleared while the simulator flips another.
        write("SINT bit 7 cleared", "SintTag.7", false, "SintTag", 1, 1, 0x7B, "SintTag.0", 0);
        write("USINT bit 0 set", "UsintTag.0", true, "UsintTag", 1, 1, 0xC9, "UsintTag.7", 7);
        write("BYTE bit 1 set", "ByteTag.1", true, "ByteTag", 1, 1, 0xA7, "ByteTag.6", 6);
        write("INT bit 15 cleared", "IntTag.15", false, "IntTag", 2, 1, 0x7B2E, "IntTag.1", 1);
        write("UINT bit 0 set", "UintTag.0", true, "UintTag", 2, 1, 0xEA61, "UintTag.15", 15);
        write("WORD bit 9 cleared", "WordTag.9", false, "WordTag", 2, 1, 0xBCEF, "WordTag.8", 8);
        write("DINT bit 31 set", "DintTag.31", true, "DintTag", 4, 1, 0x8000002A, "DintTag.9", 9);
        write("UDINT bit 31 cleared", "UdintTag.31", false, "UdintTag", 4, 1, 0x6E6B2800,
              "UdintTag.0", 0);
        write("DWORD bit 16 cleared", "DwordTag.16", false, "DwordTag", 4, 1, 0xDEACBEEF,
              "DwordTag.4", 4);
        write("LINT bit 63 set", "LintTag.63", true, "LintTag", 8, 1, 0x8000011F71FB04CBull,
              "LintTag.1", 1);
        write("ULINT bit 0 set", "UlintTag.0", true, "UlintTag", 8, 1, 0xF9CCD8A1C5080001ull,
              "UlintTag.62", 62);
        write("LWORD bit 40 cleared", "LwordTag.40", false, "LwordTag", 8, 1, 0x0123446789ABCDEFull,
              "LwordTag.63", 63);
        write("BOOL array element 33 cleared", "BoolArray[33]", false, "BoolArray", 4, 2,
              0x9249249049249249ull, "BoolArray.34", 34);
        write("BOOL array element 31 set", "BoolArray[31]", true, "BoolArray", 4, 2,
              0x92492492C9249249ull, "BoolArray.5", 5);
        write("bit of an element set", "DintArray[3].0", true, "DintArray[3]", 4, 1, 31,
              "DintArray.97", 1);
        write("bit of a member cleared", "Motor.Rpm.2", false, "Motor.Rpm", 4, 1, 1496, "Motor.3",
              3);
        write("no bit 32 of a DINT, nothing written", "DintTag.32", true, "DintTag", 4, 1, 42,
              "DintTag.9", 9, 7, "bit = 32 width = 32");
        write("no bit 64 at all, nothing sent", "DintTag.64", true, "DintTag", 4, 1, 42,
              "DintTag.9", 9, 7, "bit = 64 width = 64");
        write("no Read-Modify-Write: refused", "DintTag.0", true, "DintTag", 4, 1, 42, "DintTag.9",
              9, 7, "status = 0x08", 0, "", true);
        // read, set, write: a flip between the read and the write is lost
        write("no Read-Modify-Write, bitwrite=readwrite", "DintTag.0", true, "DintTag", 4, 1, 43,
              "DintTag.9", 9, 0, "", 1, ";bitwrite=readwrite", true);
        write("Read-Modify-Write with bitwrite=readwrite", "DintTag.0", true, "DintTag", 4, 1, 43,
              "DintTag.9", 9, 0, "", 0, ";bitwrite=readwrite");
        QTest::newRow("bits across two elements written")
            << "IntArray[150].15" << int(DT_Bool) << 2 << listOf<bool>({true, false}) << 0
            << listOf<bool>({true, false}) << QString() << "IntArray[150]" << 2 << 2
            << quint64(0x8000) << "IntArray.2407" << (quint64(1) << 7) << 0 << QString() << false;
        // Bits 30 and 31 of DintTag, 0 and 1 of an element it does not have.
        QTest::newRow("bits past the end of a scalar: nothing written")
            << "DintTag.30" << int(DT_Bool) << 4 << listOf<bool>({true, true, true, true}) << 7
            << QVariant() << "status = 0xff ext = 0x2105"
            << "DintTag" << 4 << 1 << quint64(42) << "DintTag.9" << (quint64(1) << 9) << 0
            << QString() << false;
        QTest::newRow("numbers as bits: not 0 sets")
            << "IntTag.0" << int(DT_Int32) << 2 << listOf<int>({-3, 0}) << 0 << listOf<int>({1, 0})
            << QString() << "IntTag" << 2 << 1 << quint64(0xFB2D) << "IntTag.12"
            << (quint64(1) << 12) << 0 << QString() << false;
        QTest::newRow("texts are no bits")
            << "DintTag.0" << int(DT_String) << 1 << listOf<QString>({"1"}) << 11 << QVariant()
            << QString() << "DintTag" << 4 << 1 << quint64(42) << "DintTag.9" << (quint64(1) << 9)
            << 0 << QString() << false;
    }

    void bitsAndElements()
    {
        QFETCH(QString, toggle);
        QFETCH(QString, option);
        QFETCH(bool, noRmw);
        for (const char *messaging : {"", ";connected=large", "serial"}) {
            const bool serialLine = QByteArray(messaging) == "serial";
            qsim::SimOptions o;
            o.serial = serialLine;
            o.toggleBit = toggle;
            o.noRmw = noRmw;
            qsim::SimRunner own(o);
            QVERIFY2(own.start(), qPrintable(own.errorString()));
            CDriveBaseClass *d = newDriver();
            const QString where = serialLine ? own.serialPath() + QStringLiteral(",115200,8,1,N")
                                             : own.address() + QLatin1String(messaging);
            QCOMPARE(d->ConnectDrive(where + QStringLiteral(";write") + option), 0);
            // Closed before its simulator goes, which would be a warning.
            checkBitRow(d, own);
            d->DisConnectDrive();
            if (QTest::currentTestFailed())
                return;
        }
    }

    // Every text type, written at length 0, at its room, and one beyond it
    // (refused, nothing sent), over TCP, a connection and the serial line.
    void textsOfEveryType_data()
    {
        QTest::addColumn<QString>("tag");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("readBack");
        QTest::addColumn<QString>("warning");
        auto three = [](const char *tag, int room, const char *before) {
            const QString name = QString::fromLatin1(tag);
            QTest::newRow(qPrintable(name + " empty"))
                << name << QString() << 0 << QString() << QString();
            const QString full(room, QLatin1Char('x'));
            QTest::newRow(qPrintable(name + " full")) << name << full << 0 << full << QString();
            QTest::newRow(qPrintable(name + " one beyond"))
                << name << full + "y" << int(LR_WrongElementType) << QString::fromLatin1(before)
                << QStringLiteral("bytes = %1 limit = %2").arg(room + 1).arg(room);
        };
        three("StringTag", 82, "Hello, PLC");
        three("Text20", 20, "Twenty at the most");
        three("Text8", 8, "Eight!");
        three("Texts20[1]", 20, "two");
        three("ShortText", 255, "Short");
        QTest::newRow("UTF-8 in a short string") << "ShortText" << QString::fromUtf8("温度 ok") << 0
                                                 << QString::fromUtf8("温度 ok") << QString();
        // Its members are asked for before it could be overwritten.
        QTest::newRow("a structure is no text")
            << "Motor" << QString("x") << int(LR_LinkFailed) << QString()
            << "reply = 0x02a0 structure asked = 12 DT_String";
    }

    void textsOfEveryType()
    {
        for (const char *messaging : {"", ";connected=large", "serial"}) {
            const bool serialLine = QByteArray(messaging) == "serial";
            qsim::SimOptions o;
            o.serial = serialLine;
            qsim::SimRunner own(o);
            QVERIFY2(own.start(), qPrintable(own.errorString()));
            CDriveBaseClass *d = newDriver();
            const QString where = serialLine ? own.serialPath() + QStringLiteral(",115200,8,1,N")
                                             : own.address() + QLatin1String(messaging);
            QCOMPARE(d->ConnectDrive(where + QStringLiteral(";write")), 0);
            checkTextRow(d);
            d->DisConnectDrive();
            if (QTest::currentTestFailed())
                return;
        }
    }
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
