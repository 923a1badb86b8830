#include "TemplateRead.h"

#include "EipProtocol.h"

namespace browse
{

namespace
{

constexpr int MaxPartRequest = 0xFFFF;

} // namespace

const StructType *TemplateCache::find(quint16 id) const
{
    const auto it = types.constFind(id);
    return it == types.constEnd() ? nullptr : &it.value();
}

bool TemplateCache::fetch(const MrExchange &exchange, quint16 id)
{
    lastError.clear();
    return fetchAt(exchange, id, 0);
}

bool TemplateCache::readDefinition(const MrExchange &exchange, quint16 id, qint64 total,
                                   QByteArray *def)
{
    for (int part = 0; def->size() < total && part < MaxParts; ++part) {
        const qint64 left = total - def->size();
        QByteArray reply;
        ++requestCount;
        if (exchange(readTemplateRequest(id, static_cast<quint32>(def->size()),
                                         static_cast<quint16>(qMin<qint64>(left, MaxPartRequest))),
                     reply) != 0) {
            lastError = QStringLiteral("template %1: no reply").arg(id);
            return false;
        }
        const TemplatePart p = parseTemplatePart(reply);
        if (!p.ok) {
            lastError = QStringLiteral("template %1: %2").arg(id).arg(p.error);
            return false;
        }
        if (p.data.size() > left) {
            lastError = QStringLiteral("template %1: more bytes than asked for").arg(id);
            return false;
        }
        if (p.data.isEmpty() && p.more) {
            lastError = QStringLiteral("template %1: a partial reply without bytes").arg(id);
            return false;
        }
        def->append(p.data);
        if (!p.more)
            return true;
    }
    if (def->size() >= total)
        return true;
    lastError = QStringLiteral("template %1: too many parts").arg(id);
    return false;
}

bool TemplateCache::fetchAt(const MrExchange &exchange, quint16 id, int depth)
{
    if (types.contains(id))
        return true;
    if (depth > MaxDepth) {
        lastError = QStringLiteral("template %1: structures nested too deep").arg(id);
        return false;
    }
    if (types.size() >= MaxTemplates) {
        lastError = QStringLiteral("template %1: too many templates").arg(id);
        return false;
    }
    QByteArray reply;
    ++requestCount;
    if (exchange(templateAttributesRequest(id), reply) != 0) {
        lastError = QStringLiteral("template %1: no reply").arg(id);
        return false;
    }
    TemplateAttributes attrs;
    QString error;
    if (!parseTemplateAttributes(reply, &attrs, &error)) {
        lastError = QStringLiteral("template %1: %2").arg(id).arg(error);
        return false;
    }
    const qint64 total = templateReadBytes(attrs.definitionWords);
    if (total > MaxDefinitionBytes) {
        lastError = QStringLiteral("template %1: definition too large").arg(id);
        return false;
    }
    QByteArray def;
    if (!readDefinition(exchange, id, total, &def))
        return false;
    TemplateDefinition parsed;
    if (!parseTemplateDefinition(def, attrs.memberCount, &parsed, &error)) {
        lastError = QStringLiteral("template %1: %2").arg(id).arg(error);
        return false;
    }
    StructType t;
    t.id = id;
    t.name = parsed.name;
    t.handle = attrs.handle;
    t.size = attrs.structureSize;
    t.members = parsed.members;
    // Stored before its members are followed, so a structure that names
    // itself ends the descent.
    types.insert(id, t);
    for (const TemplateMember &m : t.members) {
        if ((m.type & cip::SymbolStructBit) &&
            !fetchAt(exchange, m.type & cip::SymbolTemplateMask, depth + 1))
            return false;
    }
    return true;
}

} // namespace browse
