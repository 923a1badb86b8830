#include "Commands.h"
#include "DriverHost.h"
#include "Table.h"
#include "TagRequest.h"
#include "ValueText.h"

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

int runRead(const QStringList &args)
{
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Reads tags through the driver and prints a table (or JSON lines with --json).\n"
        "TAG is a name, name[i], name.member or a longer path; TYPE a type name\n"
        "(bool int8 uint8 int16 uint16 int32 uint32 float int64 uint64 double string)\n"
        "or its code 1..12, default int32; COUNT the number of elements, default 1.\n"
        "Exit status: 0 all reads ok, 1 a read or the connection failed, 2 bad arguments."));
    addHostOptions(p, true);
    p.addOption({QStringLiteral("json"),
                 QStringLiteral("One JSON object per tag and line, with every value.")});
    p.addPositionalArgument(QStringLiteral("TAG[:TYPE[:COUNT]]"), QStringLiteral("Tags to read."),
                            QStringLiteral("TAG[:TYPE[:COUNT]]..."));
    int exitCode = 0;
    if (!parseCommandLine(p, "read", args, &exitCode))
        return exitCode;
    const HostOptions o = hostOptions(p, true);
    if (o.connect.isEmpty())
        return usageError("read", QStringLiteral("--connect is required"));
    if (p.positionalArguments().isEmpty())
        return usageError("read", QStringLiteral("no tag given"));
    QVector<TagRequest> requests;
    for (const QString &a : p.positionalArguments()) {
        TagRequest s;
        QString error;
        if (!parseTagRequest(a, &s, &error))
            return usageError("read", error);
        requests.append(s);
    }

    DriverHost host("read");
    if (!host.load(o) || !host.connect(o.connect))
        return ExitFailure;

    const bool json = p.isSet(QStringLiteral("json"));
    Table table(readHeader());
    int failed = 0;
    QStringList reasons;
    for (const TagRequest &s : requests) {
        const CLabelVariable v = host.driver()->ReadVariable(s.tag, s.type, s.count);
        if (json)
            printLine(jsonLine(v));
        else
            table.add(readRow(v));
        if (v.status != 0) {
            ++failed;
            reasons
                << QStringLiteral("quorvex read: %1: %2").arg(s.tag, host.failureText(v.status));
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
