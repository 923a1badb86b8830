#include "Commands.h"
#include "DriverHost.h"
#include "Outcomes.h"
#include "SimRunner.h"
#include "Table.h"
#include "TagRequest.h"
#include "TraceTap.h"

#include <cstdio>
#include <functional>

namespace tools
{

namespace
{

// One read of the tour and what the simulator's default tag set makes of it.
struct DemoRead {
    const char *what;
    TagRequest request;
    // Empty when the value is as expected, else what is wrong.
    std::function<QString(CLabelVariable &)> check;
};

template <typename T> QString expectValue(T got, T want, int access)
{
    if (access != 0)
        return QStringLiteral("element access status %1").arg(access);
    if (got == want)
        return QString();
    return QStringLiteral("got %1, expected %2").arg(got).arg(want);
}

QString expectText(const QString &got, const QString &want, int access)
{
    if (access != 0)
        return QStringLiteral("element access status %1").arg(access);
    return got == want ? QString() : QStringLiteral("got \"%1\"").arg(got);
}

TagRequest request(const char *tag, DataType type, int count = 1)
{
    TagRequest s;
    s.tag = QLatin1String(tag);
    s.type = type;
    s.count = count;
    return s;
}

QVector<DemoRead> tour()
{
    using V = CLabelVariable;
    QVector<DemoRead> t;
    t.append({"bool", request("BoolTag", DT_Bool), [](V &v) {
                  const bool b = v.atbool(0);
                  return expectValue<int>(b, 1, v.accessStatus);
              }});
    t.append({"int8", request("SintTag", DT_Int8), [](V &v) {
                  const int x = static_cast<signed char>(v.atInt8(0));
                  return expectValue(x, -5, v.accessStatus);
              }});
    t.append({"uint8", request("UsintTag", DT_UInt8), [](V &v) {
                  const uint x = v.atUInt8(0);
                  return expectValue(x, 200u, v.accessStatus);
              }});
    t.append({"int16", request("IntTag", DT_Int16), [](V &v) {
                  const int x = v.atInt16(0);
                  return expectValue(x, -1234, v.accessStatus);
              }});
    t.append({"uint16", request("UintTag", DT_UInt16), [](V &v) {
                  const uint x = v.atUInt16(0);
                  return expectValue(x, 60000u, v.accessStatus);
              }});
    t.append({"int32", request("DintTag", DT_Int32), [](V &v) {
                  const int x = v.atInt32(0);
                  return expectValue(x, 42, v.accessStatus);
              }});
    t.append({"uint32", request("UdintTag", DT_UInt32), [](V &v) {
                  const uint x = v.atUInt32(0);
                  return expectValue(x, 4000000000u, v.accessStatus);
              }});
    t.append({"float", request("RealTag", DT_Float), [](V &v) {
                  const float x = v.atFloat(0);
                  return expectValue(x, 1.5f, v.accessStatus);
              }});
    t.append({"int64", request("LintTag", DT_Int64), [](V &v) {
                  const qlonglong x = v.atInt64(0);
                  return expectValue(x, 1234567890123LL, v.accessStatus);
              }});
    t.append({"uint64", request("UlintTag", DT_UInt64), [](V &v) {
                  const qulonglong x = v.atUInt64(0);
                  return expectValue(x, 18000000000000000000ULL, v.accessStatus);
              }});
    t.append({"double", request("LrealTag", DT_Double), [](V &v) {
                  const double x = v.atDouble(0);
                  return expectValue(x, 2.25, v.accessStatus);
              }});
    t.append({"text", request("StringTag", DT_String), [](V &v) {
                  const QString s = v.atQString(0);
                  return expectText(s, QStringLiteral("Hello, PLC"), v.accessStatus);
              }});
    t.append({"array of texts", request("Names", DT_String, 5), [](V &v) {
                  const QString s = v.atQString(4);
                  return expectText(s, QStringLiteral("Echo"), v.accessStatus);
              }});
    t.append({"array element", request("DintArray[3]", DT_Int32), [](V &v) {
                  const int x = v.atInt32(0);
                  return expectValue(x, 30, v.accessStatus);
              }});
    t.append({"5000 elements, in fragments", request("BigArray", DT_Int32, 5000), [](V &v) {
                  for (int i = 0; i < 5000; ++i) {
                      const int x = v.atInt32(i);
                      const QString e = expectValue(x, i, v.accessStatus);
                      if (!e.isEmpty())
                          return QStringLiteral("element %1: %2").arg(i).arg(e);
                  }
                  return QString();
              }});
    t.append({"1000 floats, in fragments", request("RealArray", DT_Float, 1000), [](V &v) {
                  const float x = v.atFloat(999);
                  return expectValue(x, 499.5f, v.accessStatus);
              }});
    t.append({"two-dimensional element", request("Grid[2,3]", DT_Int32), [](V &v) {
                  const int x = v.atInt32(0);
                  return expectValue(x, 23, v.accessStatus);
              }});
    t.append({"structure member", request("Motor.Rpm", DT_Int32), [](V &v) {
                  const int x = v.atInt32(0);
                  return expectValue(x, 1500, v.accessStatus);
              }});
    t.append({"text member", request("Motor.Name", DT_String), [](V &v) {
                  const QString s = v.atQString(0);
                  return expectText(s, QStringLiteral("Pump-1"), v.accessStatus);
              }});
    t.append({"member of an array element", request("Motors[1].Temp", DT_Float), [](V &v) {
                  const float x = v.atFloat(0);
                  return expectValue(x, 21.5f, v.accessStatus);
              }});
    t.append({"nested path", request("Cfg.Inner.Deep.Code", DT_Int32), [](V &v) {
                  const int x = v.atInt32(0);
                  return expectValue(x, 99, v.accessStatus);
              }});
    return t;
}

} // namespace

int runDemo(const QStringList &args)
{
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Starts the bundled simulator on a free loopback port in its own thread, connects\n"
        "through the plug-in, reads a representative tag set and prints the table.\n"
        "Exit status 0 when every read behaved as expected."));
    addHostOptions(p, false);
    int exitCode = 0;
    if (!parseCommandLine(p, "demo", args, &exitCode))
        return exitCode;
    if (!p.positionalArguments().isEmpty())
        return usageError(
            "demo",
            QStringLiteral("unexpected argument '%1'").arg(p.positionalArguments().first()));

    qsim::SimRunner sim;
    if (!sim.start()) {
        std::fprintf(stderr, "quorvex demo: the simulator did not start: %s\n",
                     qPrintable(sim.errorString()));
        return ExitFailure;
    }
    DriverHost host("demo");
    if (!host.load(hostOptions(p, false)))
        return ExitFailure;
    if (const int rc = host.connect(sim.address()))
        return rc;
    CDriveBaseClass *drv = host.driver();
    printLine(QStringLiteral("driver %1 %2 (%3), simulator at %4")
                  .arg(drv->getDriveName(), drv->getversion_number(), drv->DebugCmd(DBG_BuildStamp),
                       sim.address()));
    printLine(QString());

    QStringList header = readHeader();
    header.prepend(QStringLiteral("WHAT"));
    header << QStringLiteral("CHECK");
    Table table(header);
    int unexpected = 0;
    QStringList problems;
    const auto add = [&](const char *what, CLabelVariable v, const QString &problem) {
        QStringList row = readRow(v);
        row.prepend(QLatin1String(what));
        row << (problem.isEmpty() ? QStringLiteral("as expected") : QStringLiteral("UNEXPECTED"));
        table.add(row);
        if (!problem.isEmpty()) {
            ++unexpected;
            problems << QStringLiteral("quorvex demo: %1: %2").arg(v.tagName, problem);
        }
    };
    for (const DemoRead &r : tour()) {
        Outcome o = host.read(r.request.tag, r.request.type, r.request.count);
        add(r.what, o.value, o.value.status == 0 ? r.check(o.value) : failureText(o));
    }
    // A tag the controller does not have: the read must fail, and say so.
    const CLabelVariable missing = host.read(QStringLiteral("NoSuchTag"), DT_Int32, 1).value;
    add("unknown tag (fails)", missing,
        missing.status == LR_LinkFailed
            ? QString()
            : QStringLiteral("status %1 instead of 7").arg(missing.status));

    for (const QString &l : table.lines())
        printLine(l);
    printLine(QString());
    printLine(unexpected ? QStringLiteral("%1 of %2 reads not as expected")
                               .arg(unexpected)
                               .arg(tour().size() + 1)
                         : QStringLiteral("all %1 reads as expected (%2 frames served)")
                               .arg(tour().size() + 1)
                               .arg(sim.requestsServed()));
    std::fflush(stdout);
    for (const QString &e : problems)
        std::fprintf(stderr, "%s\n", e.toUtf8().constData());
    return unexpected ? ExitFailure : ExitOk;
}

} // namespace tools
