#include "BrowsedTypes.h"
#include "Commands.h"
#include "DriverHost.h"
#include "Outcomes.h"
#include "TagRequest.h"

#include <QVector>
#include <algorithm>
#include <cstdio>

namespace tools
{

int runRead(const QStringList &args)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral(
            "Reads tags through the driver and prints a table (or JSON lines with --json).\n"
            "TAG is a name, name[i], name.member or a longer path; TYPE a type name\n"
            "(bool int8 uint8 int16 uint16 int32 uint32 float int64 uint64 double string)\n"
            "or its code 1..12; COUNT the number of elements, default 1. Without TYPE the\n"
            "controller's tag list gives the type and the whole array; a structure is\n"
            "read member by member (Motor.Rpm, Motor.Limits, ...).\n"
            "A BOOL read of COUNT n shows the n values and how many padding bits came with them.\n"
            "Exit status: 0 all reads ok, 1 a read or the connection failed, 2 bad "
            "arguments.\n\n") +
        connectOptionsHelp());
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
    if (!host.load(o))
        return ExitFailure;
    if (const int rc = host.connect(o.connect))
        return rc;
    // Browsed after the driver connected, so that a failing connection is
    // reported in the driver's words.
    QString browseError;
    bool listed = true;
    if (std::any_of(requests.cbegin(), requests.cend(),
                    [](const TagRequest &r) { return !r.typeGiven; }) &&
        !typeFromController(o.connect, QString(), &requests, &browseError, &listed)) {
        std::fprintf(stderr, "quorvex read: %s\n", qPrintable(browseError));
        if (listed)
            return ExitFailure;
        // Each read then tells what the controller says to it.
        std::fprintf(stderr, "quorvex read: tags without a TYPE are read as int32\n");
    }

    QVector<Outcome> outcomes;
    for (const TagRequest &s : requests)
        outcomes.append(host.read(s.tag, s.type, s.count));
    return reportOutcomes("read", outcomes, p.isSet(QStringLiteral("json")));
}

} // namespace tools
