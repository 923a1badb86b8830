#include <QLibrary>
#include <QRegularExpression>
#include <QtTest>

#include "CDriveBaseClass.h"
#include "LibQuorvex.h"

// The host's own copy of the interface: declared independently, so calling
// through it proves that the library's table has the slots in host order.
// It has external linkage on purpose: in an unnamed namespace the compiler
// knows that nothing overrides it and calls the pure virtuals directly.
class HostDriveBase
{
public:
    virtual QString hostName() = 0;
    virtual QString hostVersion() = 0;
    virtual QString hostDebug(int cmd) = 0;
    virtual int hostConnect(QString text) = 0;
    virtual void hostSetPar(QString text) = 0;
    virtual int hostDisconnect() = 0;
    virtual CLabelVariable hostRead(QString name, int type) = 0;
    virtual CLabelVariable hostReadN(QString name, int type, int count) = 0;
    virtual CLabelVariable hostWrite(QString name, int type, CLabelVariable value) = 0;
    virtual CLabelVariable hostWriteN(QString name, int type, CLabelVariable value, int n) = 0;
    virtual int hostDestroy() = 0;

protected:
    ~HostDriveBase() = default;
};

namespace
{
using Entry = CDriveBaseClass *(*)();
} // namespace

class TestPlugin : public QObject
{
    Q_OBJECT

    QLibrary lib{QStringLiteral(QUORVEX_LIBRARY_PATH)};
    Entry entry = nullptr;
    QList<CDriveBaseClass *> made;

    // Every driver the test makes is released at the end, through its QObject
    // side, so that the leak checker of the sanitized build sees none left.
    CDriveBaseClass *newDriver()
    {
        CDriveBaseClass *d = entry();
        made.append(d);
        return d;
    }

private slots:
    void cleanupTestCase()
    {
        for (CDriveBaseClass *d : qAsConst(made))
            delete static_cast<QObject *>(static_cast<LibQuorvex *>(d));
        made.clear();
    }

    void initTestCase()
    {
        QVERIFY2(lib.load(), qPrintable(lib.errorString()));
        entry = reinterpret_cast<Entry>(lib.resolve("getSharedLibrary"));
        QVERIFY(entry);
    }

    void onlyTheContractIsExported()
    {
        // Internal classes stay hidden: a host must not bind to them.
        QVERIFY(!lib.resolve("_ZN10CmdQuorvex8SendDataE10QByteArrayRS0_i"));
        QVERIFY(lib.resolve("_ZN14CLabelVariable7atInt32Ei"));
    }

    void twoDriversShareNothing()
    {
        CDriveBaseClass *a = newDriver();
        CDriveBaseClass *b = newDriver();
        QVERIFY(a && b && a != b);
        a->SetConnectPar(QStringLiteral("7"));
        b->SetConnectPar(QStringLiteral("not a number"));
        a->DebugCmd(DBG_StartDebug);
        QCOMPARE(static_cast<LibQuorvex *>(a)->connectPar, 7u);
        QCOMPARE(static_cast<LibQuorvex *>(b)->connectPar, 0u);
        QVERIFY(static_cast<LibQuorvex *>(a)->link.traceEnabled);
        QVERIFY(!static_cast<LibQuorvex *>(b)->link.traceEnabled);
        QCOMPARE(static_cast<LibQuorvex *>(newDriver())->connectPar, 851u);
        QCOMPARE(a->DestroyFree(), 1);
        QCOMPARE(b->DestroyFree(), 1);
    }

    void namesAndVersionBeforeAnyConnection()
    {
        CDriveBaseClass *d = newDriver();
        QCOMPARE(d->getDriveName(), QStringLiteral("Quorvex"));
        QCOMPARE(d->getversion_number(), QStringLiteral("V1.0.5 20230511"));
        QCOMPARE(d->DebugCmd(DBG_DriveName), d->getDriveName());
    }

    void hostCopyOfTheTableReachesTheSameSlots()
    {
        CDriveBaseClass *d = newDriver();
        auto *host = reinterpret_cast<HostDriveBase *>(d);
        QCOMPARE(host->hostName(), QStringLiteral("Quorvex"));
        QCOMPARE(host->hostVersion(), QStringLiteral("V1.0.5 20230511"));
        QCOMPARE(host->hostDebug(3), QStringLiteral("Quorvex"));
        QCOMPARE(host->hostDebug(0), QStringLiteral("StartDebug"));
        QCOMPARE(host->hostConnect(QStringLiteral("no-separators")), -4);
        QCOMPARE(host->hostDisconnect(), 1);
        CLabelVariable r = host->hostRead(QStringLiteral("Speed"), DT_Int32);
        QCOMPARE(r.status, int(LR_NotConnected));
        QCOMPARE(r.count, 1);
        r = host->hostReadN(QStringLiteral("Speed"), DT_Int32, 0);
        QCOMPARE(r.status, int(LR_BadCount));
        CLabelVariable w;
        w = host->hostWrite(QStringLiteral("Out"), DT_Int16, w);
        QCOMPARE(w.tagName, QStringLiteral("Out"));
        QCOMPARE(w.count, 1);
        w = host->hostWriteN(QStringLiteral("Out2"), DT_Int8, w, 5);
        QCOMPARE(w.count, 5);
        QCOMPARE(int(w.type), int(DT_Int8));
        QCOMPARE(host->hostDestroy(), 1);
    }

    void metaCastYieldsTheInterfacePointer()
    {
        CDriveBaseClass *d = entry();
        QObject *facade = static_cast<LibQuorvex *>(d);
        QCOMPARE(facade->qt_metacast("CDriveBaseClass"), static_cast<void *>(d));
        QCOMPARE(facade->qt_metacast("LibQuorvex"), static_cast<void *>(facade));
        QVERIFY(!facade->qt_metacast("SomethingElse"));
        QCOMPARE(facade->metaObject()->className(), "LibQuorvex");
        QVERIFY(!facade->parent());
        delete facade; // through the QObject side, as a host may do
    }

    void debugCommands()
    {
        CDriveBaseClass *d = newDriver();
        QCOMPARE(d->DebugCmd(DBG_StartDebug), QStringLiteral("StartDebug"));
        QCOMPARE(d->DebugCmd(DBG_StartDebug), QStringLiteral("StartDebug"));
        QCOMPARE(d->DebugCmd(DBG_StopDebug), QStringLiteral("StopDebug"));
        QVERIFY(d->DebugCmd(EDebugCmdType(4)).isNull());
        QVERIFY(d->DebugCmd(EDebugCmdType(-1)).isNull());
        const QString stamp = d->DebugCmd(DBG_BuildStamp);
        QVERIFY2(QRegularExpression(
                     QStringLiteral("^v1\\.0\\.5 \\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}$"))
                     .match(stamp)
                     .hasMatch(),
                 qPrintable(stamp));
        QCOMPARE(d->DebugCmd(DBG_BuildStamp), stamp);
        // The stamp carries this build's date, not a fixed one.
        const QDate built = QDate::fromString(stamp.mid(7, 10), QStringLiteral("yyyy-MM-dd"));
        QVERIFY(built.isValid());
        QVERIFY(built >= QDate(2026, 1, 1));
    }
};

QTEST_GUILESS_MAIN(TestPlugin)
#include "tst_plugin.moc"
