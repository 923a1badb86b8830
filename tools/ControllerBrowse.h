#ifndef QUORVEX_TOOLS_CONTROLLERBROWSE_H
#define QUORVEX_TOOLS_CONTROLLERBROWSE_H

#include "CmdQuorvex.h"
#include "SymbolBrowse.h"
#include "TemplateRead.h"

#include <QString>

// The controller's tag list and structure layouts, read over a link of the
// tool's own (the plug-in's interface has no browsing), with the same
// options, route and connected messaging as the connection string gives.
namespace tools
{

struct BrowsedTag {
    QString scope; // empty: controller scope, else the program's name
    browse::SymbolEntry symbol;
    QString path() const; // as a read names it
};

class ControllerBrowse
{
public:
    ~ControllerBrowse();
    // "ADDRESS:PORT[;options]"; false with the reason in words, and in
    // *exitCode ExitUsage for a malformed string, else ExitFailure.
    bool open(const QString &connection, QString *error, int *exitCode = nullptr);
    // The scope's tags (controller, or the named program), their structures
    // read into templates(); with `allPrograms` every program's tags too.
    bool listTags(const QString &program, bool allPrograms, QVector<BrowsedTag> *out,
                  QString *error);
    const browse::TemplateCache &templates() const { return cache; }
    QString typeName(quint16 typeWord) const;
    // The link's frames as trace lines, the driver's own (TraceTap prints them).
    void setTrace(bool on) { link.traceEnabled = on; }

private:
    bool listScope(const QString &program, QVector<BrowsedTag> *out, QString *error);
    browse::MrExchange exchange();
    // `error` with the controller's status in words, when the last reply
    // was a refusal.
    QString refusal(const QString &error, const QString &program) const;

    CmdQuorvex link;
    browse::TemplateCache cache;
    bool connected = false;
    QByteArray lastReply; // the last Message Router reply, to explain a failure
};

// "DINT", "REAL", ... for an atomic code; "type 0xNN" otherwise.
QString atomicTypeName(quint16 code);

} // namespace tools

#endif
