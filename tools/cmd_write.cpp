#include "Commands.h"
#include "DriverHost.h"
#include "Outcomes.h"
#include "WriteRequest.h"

#include <QVector>
#include <cstdio>

namespace tools
{

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

    QVector<CLabelVariable> values;
    for (const WriteRequest &w : requests)
        values.append(
            host.driver()->WriteVariable(w.target.tag, w.target.type, w.value, w.target.count));
    return reportOutcomes("write", values, host, p.isSet(QStringLiteral("json")));
}

} // namespace tools
