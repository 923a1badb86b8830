#include "Commands.h"
#include "DriverHost.h"
#include "Table.h"
#include "ValueText.h"
#include "WriteRequest.h"

#include <QVector>
#include <cstdio>

namespace tools
{

namespace
{

void printLine(const QString &s)
{
    const QByteArray b = s.toUtf8();
    std::fwrite(b.constData(), 1, static_cast<size_t>(b.size()), stdout);
    std::fputc('\n', stdout);
}

} // namespace

int runWrite(const QStringList &args)
{
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Writes tags through the driver and prints the outcome as `read` does.\n"
        "TAG and TYPE as for `read` (default int32); the values are separated by commas,\n"
        "a text in double quotes may hold commas; COUNT defaults to the number of values.\n"
        "The connection string gets the driver's ;write option when it has none.\n"
        "Exit status: 0 all writes ok, 1 a write or the connection failed, 2 bad arguments."));
    addHostOptions(p, true);
    p.addOption({QStringLiteral("json"), QStringLiteral("One JSON object per tag and line.")});
    p.addPositionalArgument(QStringLiteral("TAG[:TYPE[:COUNT]]=VALUE[,VALUE...]"),
                            QStringLiteral("Tags to write."),
                            QStringLiteral("TAG[:TYPE]=VALUE[,VALUE...]..."));
    int exitCode = 0;
    if (!parseCommandLine(p, "write", args, &exitCode))
        return exitCode;
    const HostOptions o = hostOptions(p, true);
    if (o.connect.isEmpty())
        return usageError("write", QStringLiteral("--connect is required"));
    if (p.positionalArguments().isEmpty())
        return usageError("write", QStringLiteral("no tag given"));
    QVector<WriteRequest> requests;
    for (const QString &a : p.positionalArguments()) {
        WriteRequest w;
        QString error;
        if (!parseWriteRequest(a, &w, &error))
            return usageError("write", error);
        requests.append(w);
    }

    DriverHost host("write");
    if (!host.load(o) || !host.connect(withWriteOption(o.connect)))
        return ExitFailure;

    const bool json = p.isSet(QStringLiteral("json"));
    Table table(readHeader());
    int failed = 0;
    QStringList reasons;
    for (const WriteRequest &w : requests) {
        const TagRequest &t = w.target;
        const CLabelVariable v = host.driver()->WriteVariable(t.tag, t.type, w.value, t.count);
        if (json)
            printLine(jsonLine(v));
        else
            table.add(readRow(v));
        if (v.status != 0) {
            ++failed;
            reasons
                << QStringLiteral("quorvex write: %1: %2").arg(t.tag, host.failureText(v.status));
        }
    }
    if (!json)
        for (const QString &l : table.lines())
            printLine(l);
    std::fflush(stdout);
    for (const QString &r : reasons)
        std::fprintf(stderr, "%s\n", r.toUtf8().constData());
    return failed ? ExitFailure : ExitOk;
}

} // namespace tools
