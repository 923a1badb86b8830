#include "Commands.h"
#include "ControllerBrowse.h"
#include "DriverHost.h"
#include "EipProtocol.h"
#include "TraceTap.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <cstdio>

namespace tools
{

namespace
{

QJsonArray dimsJson(const browse::SymbolEntry &e)
{
    QJsonArray a;
    for (int d = 0; d < e.dimCount() && d < cip::SymbolDimCount; ++d)
        a.append(static_cast<qint64>(e.dims[d]));
    return a;
}

QString dimsText(const browse::SymbolEntry &e)
{
    QStringList parts;
    for (int d = 0; d < e.dimCount() && d < cip::SymbolDimCount; ++d)
        parts.append(QString::number(e.dims[d]));
    return parts.isEmpty() ? QString() : QLatin1Char('[') + parts.join(QLatin1Char(',')) + ']';
}

// Every structure the listed tags use, nested ones included, each once.
QList<quint16> usedStructures(const QVector<BrowsedTag> &tags, const browse::TemplateCache &cache)
{
    QList<quint16> order;
    QList<quint16> todo;
    for (const BrowsedTag &t : tags)
        if (t.symbol.isStruct())
            todo.append(t.symbol.templateId());
    QSet<quint16> seen;
    while (!todo.isEmpty()) {
        const quint16 id = todo.takeFirst();
        const browse::StructType *s = cache.find(id);
        if (seen.contains(id) || !s)
            continue;
        seen.insert(id);
        order.append(id);
        for (const browse::TemplateMember &m : s->members)
            if (m.type & cip::SymbolStructBit)
                todo.append(m.type & cip::SymbolTemplateMask);
    }
    return order;
}

} // namespace

int runTags(const QStringList &args)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral(
            "Lists the controller's tags: name, type, dimensions, and each structure's\n"
            "members (name, type, offset), nested ones included. System tags and names\n"
            "starting with __ are left out unless --all.\n"
            "Exit status: 0 listed, 1 the connection or a reply failed, 2 bad arguments.\n\n") +
        connectOptionsHelp());
    p.addOption({QStringLiteral("connect"),
                 QStringLiteral("ADDRESS:PORT, then ;options (listed above)."),
                 QStringLiteral("S")});
    p.addOption({QStringLiteral("program"), QStringLiteral("List this program's tags too."),
                 QStringLiteral("NAME")});
    p.addOption({QStringLiteral("json"), QStringLiteral("One JSON document.")});
    p.addOption({QStringLiteral("all"),
                 QStringLiteral("Every program's tags, and system and hidden tags.")});
    p.addOption({QStringLiteral("trace"), QStringLiteral("Print every frame exchanged.")});
    int exitCode = 0;
    if (!parseCommandLine(p, "tags", args, &exitCode))
        return exitCode;
    if (!p.isSet(QStringLiteral("connect")))
        return usageError("tags", QStringLiteral("--connect is required"));
    const bool all = p.isSet(QStringLiteral("all"));

    ControllerBrowse browser;
    // The link's lines go through the tool's handler: echoed with --trace,
    // and kept to explain a failed connect.
    TraceTap::instance().install();
    if (p.isSet(QStringLiteral("trace"))) {
        TraceTap::instance().setEcho(true);
        browser.setTrace(true);
    }
    QString error;
    QVector<BrowsedTag> tags;
    int failure = ExitFailure;
    if (!browser.open(p.value(QStringLiteral("connect")), &error, &failure) ||
        !browser.listTags(p.value(QStringLiteral("program")), all, &tags, &error)) {
        std::fprintf(stderr, "quorvex tags: %s\n", error.toUtf8().constData());
        return failure;
    }
    if (!all) {
        QVector<BrowsedTag> shown;
        for (const BrowsedTag &t : tags)
            if (!t.symbol.isSystem())
                shown.append(t);
        tags = shown;
    }
    const QList<quint16> structs = usedStructures(tags, browser.templates());

    if (p.isSet(QStringLiteral("json"))) {
        QJsonArray tagArray;
        for (const BrowsedTag &t : tags) {
            tagArray.append(QJsonObject{{QStringLiteral("name"), t.path()},
                                        {QStringLiteral("type"), browser.typeName(t.symbol.type)},
                                        {QStringLiteral("dims"), dimsJson(t.symbol)},
                                        {QStringLiteral("structure"), t.symbol.isStruct()}});
        }
        QJsonArray structArray;
        for (quint16 id : structs) {
            const browse::StructType *s = browser.templates().find(id);
            QJsonArray members;
            for (const browse::TemplateMember &m : s->members)
                members.append(QJsonObject{{QStringLiteral("name"), m.name},
                                           {QStringLiteral("type"), browser.typeName(m.type)},
                                           {QStringLiteral("offset"), qint64(m.offset)},
                                           {QStringLiteral("info"), int(m.info)}});
            structArray.append(QJsonObject{{QStringLiteral("name"), s->name},
                                           {QStringLiteral("handle"), int(s->handle)},
                                           {QStringLiteral("size"), qint64(s->size)},
                                           {QStringLiteral("members"), members}});
        }
        const QJsonObject doc{{QStringLiteral("tags"), tagArray},
                              {QStringLiteral("structures"), structArray}};
        std::printf("%s\n", QJsonDocument(doc).toJson(QJsonDocument::Indented).constData());
        return ExitOk;
    }
    std::printf("%-40s %-20s %-16s %s\n", "NAME", "TYPE", "DIMS", "STRUCT");
    for (const BrowsedTag &t : tags)
        std::printf("%-40s %-20s %-16s %s\n", qPrintable(t.path()),
                    qPrintable(browser.typeName(t.symbol.type)), qPrintable(dimsText(t.symbol)),
                    t.symbol.isStruct() ? "yes" : "");
    for (quint16 id : structs) {
        const browse::StructType *s = browser.templates().find(id);
        std::printf("\n%s (%u bytes)\n", qPrintable(s->name), s->size);
        for (const browse::TemplateMember &m : s->members)
            std::printf("  %-36s %-20s offset %u%s\n", qPrintable(m.name),
                        qPrintable(browser.typeName(m.type)), m.offset,
                        m.info > 1 ? qPrintable(QStringLiteral(" [%1]").arg(m.info)) : "");
    }
    return ExitOk;
}

} // namespace tools
