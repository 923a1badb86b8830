#ifndef QUORVEX_BROWSEFRAMES_H
#define QUORVEX_BROWSEFRAMES_H

#include <QByteArray>
#include <QString>
#include <QVector>
#include <QtGlobal>

// Tag list and structure layout requests and replies, as plain functions
// over Message Router messages: no transport.
namespace browse
{

struct SymbolEntry {
    quint32 instance = 0;
    QString name;
    quint16 type = 0;
    quint32 dims[3] = {0, 0, 0};

    bool isStruct() const;
    bool isSystem() const; // the system bit, or a hidden "__" name
    int dimCount() const;
    quint16 templateId() const; // for a structure
    quint16 atomic() const;     // otherwise
    bool isBoolArray() const;   // DWORD words flagged as bits; dims count bits
};

// A type word of a BOOL array: 0xD3 with the bit-array flag.
bool isBoolArrayType(quint16 typeWord);

// `91 <len> "Program:NAME" [pad]` when `program` is not empty, then the
// class and a 16-bit instance.
QByteArray classPath(quint8 cls, quint16 instance, const QString &program = QString());

// Get Instance Attribute List on the Symbol class from `start`: name,
// type word and dimensions of every instance.
QByteArray symbolListRequest(const QString &program, quint16 start);

struct SymbolPage {
    bool ok = false;
    bool more = false; // partial transfer: ask again after the last instance
    quint8 generalStatus = 0;
    QString error;
    QVector<SymbolEntry> entries;
};

// One reply to symbolListRequest. A truncated entry fails the whole page.
SymbolPage parseSymbolPage(const QByteArray &mrReply);

// Get Attribute List on a template: definition size, structure size,
// member count, handle.
QByteArray templateAttributesRequest(quint16 instance);

struct TemplateAttributes {
    quint16 handle = 0;
    quint16 memberCount = 0;
    quint32 definitionWords = 0;
    quint32 structureSize = 0;
};

bool parseTemplateAttributes(const QByteArray &mrReply, TemplateAttributes *out, QString *error);

// The number of definition bytes to read for a definition of `words`.
qint64 templateReadBytes(quint32 words);

QByteArray readTemplateRequest(quint16 instance, quint32 offset, quint16 bytes);

struct TemplatePart {
    bool ok = false;
    bool more = false;
    quint8 generalStatus = 0;
    QString error;
    QByteArray data;
};

TemplatePart parseTemplatePart(const QByteArray &mrReply);

struct TemplateMember {
    QString name;
    quint16 info = 0; // array size, or the bit of a BOOL
    quint16 type = 0; // a symbol type word
    quint32 offset = 0;
};

struct TemplateDefinition {
    QString name;
    QVector<TemplateMember> members;
};

// The member table and the texts after it; false when either is cut short.
bool parseTemplateDefinition(const QByteArray &def, quint16 memberCount, TemplateDefinition *out,
                             QString *error);

} // namespace browse

#endif
