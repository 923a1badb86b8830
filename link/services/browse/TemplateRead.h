#ifndef QUORVEX_TEMPLATEREAD_H
#define QUORVEX_TEMPLATEREAD_H

#include <QHash>
#include <QString>
#include <QVector>

#include "BrowseFrames.h"
#include "SymbolBrowse.h"

// Structure layouts read from the controller's templates, each once.
namespace browse
{

struct StructType {
    quint16 id = 0;
    QString name;
    quint16 handle = 0;
    quint32 size = 0;
    QVector<TemplateMember> members;
};

class TemplateCache
{
public:
    static constexpr int MaxDepth = 8;
    static constexpr int MaxTemplates = 4096;
    static constexpr qint64 MaxDefinitionBytes = 1024 * 1024;
    static constexpr int MaxParts = 0x10000;

    // Reads template `id` and every structure nested in it; false with
    // error() when a reply fails or a bound is reached.
    bool fetch(const MrExchange &exchange, quint16 id);

    const StructType *find(quint16 id) const;
    const QHash<quint16, StructType> &all() const { return types; }
    QString error() const { return lastError; }
    int requests() const { return requestCount; }

private:
    bool fetchAt(const MrExchange &exchange, quint16 id, int depth);
    bool readDefinition(const MrExchange &exchange, quint16 id, qint64 total, QByteArray *def);

    QHash<quint16, StructType> types;
    QString lastError;
    int requestCount = 0;
};

} // namespace browse

#endif
