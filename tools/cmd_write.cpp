#include "BrowsedTypes.h"
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
    p.setApplicationDescription(
        QStringLiteral(
            "Writes tags through the driver and prints the outcome as `read` does.\n"
            "TAG and TYPE as for `read`: without TYPE the controller's tag list gives it\n"
            "(int32 over a serial line); the values are separated by commas, a text in\n"
            "double quotes may hold commas; COUNT defaults to the number of values.\n"
            "The connection string gets the driver's ;write option when it has none.\n"
            "Exit status: 0 all writes ok, 1 a write or the connection failed, 2 bad "
            "arguments.\n\n") +
        connectOptionsHelp());
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

    if (writesOff(o.connect))
        return usageError("write", QStringLiteral("--connect has write=off, with which the driver "
                                                  "sends nothing; leave it out (write adds "
                                                  ";write)"));

    DriverHost host("write");
    if (!host.load(o))
        return ExitFailure;
    if (const int rc = host.connect(withWriteOption(o.connect)))
        return rc;
    // As read does: a tag without TYPE takes the controller's type.
    QVector<TagRequest *> untyped;
    for (WriteRequest &w : requests)
        if (!w.target.typeGiven)
            untyped.append(&w.target);
    QString browseError;
    bool listed = true;
    QStringList unlisted; // written as int32 for want of the controller's word
    QString why;          // when they are, if not for a name the list lacks
    if (!untyped.isEmpty() &&
        !writeTypesFromController(o.connect, untyped, &browseError, &listed, &unlisted)) {
        std::fprintf(stderr, "quorvex write: %s\n", qPrintable(browseError));
        if (listed)
            return ExitFailure;
        std::fprintf(stderr, "quorvex write: tags without a TYPE are written as int32\n");
        for (const TagRequest *r : untyped)
            unlisted << r->tag;
        why = QStringLiteral("when the tag list cannot be read");
    } else if (o.connect.section(QLatin1Char(';'), 0, 0).contains(QLatin1Char(','))) {
        why = QStringLiteral("on a serial line, which has no tag list");
    }
    for (WriteRequest &w : requests) {
        QString error;
        if (w.target.typeGiven || convertValues(&w, &error))
            continue;
        // Else a misspelt REAL would read as "no int32 value", as if the
        // controller had said so.
        if (unlisted.contains(w.target.tag))
            error += why.isEmpty()
                         ? QStringLiteral(", the type a tag without :TYPE takes when the "
                                          "controller's tag list has no %1: check the name "
                                          "(quorvex tags --all lists them) or give :TYPE")
                               .arg(w.target.tag)
                         : QStringLiteral(", the type a tag without :TYPE takes %1: give :TYPE")
                               .arg(why);
        return usageError("write", error);
    }

    QVector<Outcome> outcomes;
    for (const WriteRequest &w : requests)
        outcomes.append(host.write(w.target.tag, w.target.type, w.value, w.target.count));
    return reportOutcomes("write", outcomes, p.isSet(QStringLiteral("json")));
}

} // namespace tools
