#include "BrowseFrames.h"

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "Messaging.h"

namespace browse
{

namespace
{

constexpr quint8 Pad = 0;

QByteArray attributeList(std::initializer_list<quint16> ids)
{
    QByteArray d;
    le::put16(d, static_cast<quint16>(ids.size()));
    for (quint16 id : ids)
        le::put16(d, id);
    return d;
}

// General status, with the error text for anything other than success or
// a partial transfer; false when the reply is malformed or an error.
bool judge(const messaging::MrReply &m, quint8 service, bool partialAllowed, QString *error)
{
    if (m.verdict != messaging::Verdict::Ok) {
        *error = QStringLiteral("reply too short");
        return false;
    }
    if (m.service != (service | cip::ReplyBit)) {
        *error = QStringLiteral("reply service 0x%1").arg(m.service, 2, 16, QLatin1Char('0'));
        return false;
    }
    if (m.generalStatus == cip::Success ||
        (partialAllowed && m.generalStatus == cip::PartialTransfer))
        return true;
    *error = QStringLiteral("general status 0x%1").arg(m.generalStatus, 2, 16, QLatin1Char('0'));
    return false;
}

} // namespace

bool SymbolEntry::isStruct() const
{
    return (type & cip::SymbolStructBit) != 0;
}

bool SymbolEntry::isSystem() const
{
    return (type & cip::SymbolSystemBit) != 0 || name.startsWith(QLatin1String("__"));
}

int SymbolEntry::dimCount() const
{
    return (type & cip::SymbolDimsMask) >> cip::SymbolDimsShift;
}

quint16 SymbolEntry::templateId() const
{
    return type & cip::SymbolTemplateMask;
}

quint16 SymbolEntry::atomic() const
{
    return type & cip::SymbolAtomicMask;
}

bool SymbolEntry::isBoolArray() const
{
    return isBoolArrayType(type);
}

bool isBoolArrayType(quint16 typeWord)
{
    return !(typeWord & cip::SymbolStructBit) &&
           (typeWord & cip::SymbolAtomicMask) == cip::TypeDword &&
           (typeWord & cip::SymbolBitArray) != 0;
}

QByteArray classPath(quint8 cls, quint16 instance, const QString &program)
{
    QByteArray p;
    if (!program.isEmpty()) {
        const QByteArray name = QByteArray(cip::ProgramPrefix) + program.toLatin1();
        le::put8(p, cip::SegSymbolic);
        le::put8(p, static_cast<quint8>(name.size()));
        p.append(name);
        if (name.size() % 2)
            le::put8(p, Pad);
    }
    le::put8(p, cip::SegClass8);
    le::put8(p, cls);
    le::put8(p, cip::SegInstance16);
    le::put8(p, Pad);
    le::put16(p, instance);
    return p;
}

QByteArray symbolListRequest(const QString &program, quint16 start)
{
    return messaging::mrRequest(cip::GetInstanceAttributeList,
                                classPath(cip::SymbolClass, start, program),
                                attributeList({cip::SymbolName, cip::SymbolType, cip::SymbolDims}));
}

SymbolPage parseSymbolPage(const QByteArray &mrReply)
{
    SymbolPage page;
    const messaging::MrReply m = messaging::parseMrReply(mrReply);
    page.generalStatus = m.generalStatus;
    if (!judge(m, cip::GetInstanceAttributeList, true, &page.error))
        return page;
    page.more = m.generalStatus == cip::PartialTransfer;
    le::Reader r(m.data);
    while (r.ok() && r.remaining() > 0) {
        SymbolEntry e;
        e.instance = r.u32();
        const int len = r.u16();
        e.name = QString::fromLatin1(r.bytes(len));
        e.type = r.u16();
        for (quint32 &d : e.dims)
            d = r.u32();
        if (!r.ok()) {
            page.error = QStringLiteral("entry %1 cut short").arg(page.entries.size());
            page.entries.clear();
            return page;
        }
        page.entries.append(e);
    }
    page.ok = true;
    return page;
}

QByteArray templateAttributesRequest(quint16 instance)
{
    return messaging::mrRequest(
        cip::GetAttributeList, classPath(cip::TemplateClass, instance),
        attributeList({cip::TemplateDefinitionWords, cip::TemplateStructureSize,
                       cip::TemplateMemberCount, cip::TemplateHandle}));
}

bool parseTemplateAttributes(const QByteArray &mrReply, TemplateAttributes *out, QString *error)
{
    const messaging::MrReply m = messaging::parseMrReply(mrReply);
    if (!judge(m, cip::GetAttributeList, false, error))
        return false;
    le::Reader r(m.data);
    const int count = r.u16();
    TemplateAttributes a;
    int seen = 0;
    for (int i = 0; i < count && r.ok(); ++i) {
        const quint16 id = r.u16();
        const quint16 status = r.u16();
        if (!r.ok())
            break;
        if (status != cip::Success) {
            *error = QStringLiteral("attribute %1 status 0x%2").arg(id).arg(status, 0, 16);
            return false;
        }
        switch (id) {
        case cip::TemplateHandle:
            a.handle = r.u16();
            break;
        case cip::TemplateMemberCount:
            a.memberCount = r.u16();
            break;
        case cip::TemplateDefinitionWords:
            a.definitionWords = r.u32();
            break;
        case cip::TemplateStructureSize:
            a.structureSize = r.u32();
            break;
        default:
            // An attribute of unknown width: nothing after it can be read.
            *error = QStringLiteral("unexpected attribute %1").arg(id);
            return false;
        }
        ++seen;
    }
    if (!r.ok() || seen != 4) {
        *error = QStringLiteral("attributes cut short");
        return false;
    }
    *out = a;
    return true;
}

qint64 templateReadBytes(quint32 words)
{
    return qMax<qint64>(0, static_cast<qint64>(words) * 4 - cip::TemplateReadShortfall);
}

QByteArray readTemplateRequest(quint16 instance, quint32 offset, quint16 bytes)
{
    QByteArray d;
    le::put32(d, offset);
    le::put16(d, bytes);
    return messaging::mrRequest(cip::ReadTemplate, classPath(cip::TemplateClass, instance), d);
}

TemplatePart parseTemplatePart(const QByteArray &mrReply)
{
    TemplatePart part;
    const messaging::MrReply m = messaging::parseMrReply(mrReply);
    part.generalStatus = m.generalStatus;
    if (!judge(m, cip::ReadTemplate, true, &part.error))
        return part;
    part.more = m.generalStatus == cip::PartialTransfer;
    part.data = m.data;
    part.ok = true;
    return part;
}

bool parseTemplateDefinition(const QByteArray &def, quint16 memberCount, TemplateDefinition *out,
                             QString *error)
{
    le::Reader r(def);
    TemplateDefinition t;
    t.members.reserve(qMin<int>(memberCount, def.size() / cip::TemplateMemberSize));
    for (int i = 0; i < memberCount; ++i) {
        TemplateMember m;
        m.info = r.u16();
        m.type = r.u16();
        m.offset = r.u32();
        if (!r.ok()) {
            *error = QStringLiteral("member table cut short at member %1").arg(i);
            return false;
        }
        t.members.append(m);
    }
    // The texts: the template name (up to ';'), then each member's name,
    // each ended by a NUL.
    int at = r.position();
    auto nextText = [&](QByteArray *text) {
        const int end = def.indexOf('\0', at);
        if (end < 0)
            return false;
        *text = def.mid(at, end - at);
        at = end + 1;
        return true;
    };
    QByteArray text;
    if (!nextText(&text)) {
        *error = QStringLiteral("template name cut short");
        return false;
    }
    const int semi = text.indexOf(cip::TemplateNameEnd);
    t.name = QString::fromLatin1(semi < 0 ? text : text.left(semi));
    for (int i = 0; i < memberCount; ++i) {
        if (!nextText(&text)) {
            *error = QStringLiteral("member name %1 cut short").arg(i);
            return false;
        }
        t.members[i].name = QString::fromLatin1(text);
    }
    *out = t;
    return true;
}

} // namespace browse
