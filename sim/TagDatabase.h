#ifndef QUORVEX_SIM_TAGDATABASE_H
#define QUORVEX_SIM_TAGDATABASE_H

#include <QByteArray>
#include <QHash>
#include <QJsonValue>
#include <QString>
#include <QVector>

#include "IdentityService.h"

// The simulated controller's tags: atomic types, the standard string
// structure, user structures, and arrays of up to three dimensions of any of
// them. Each tag holds its value as the controller's little-endian bytes.
namespace qsim
{

// Either an atomic type code (0xC1..0xCB, 0xD3) or a structure index.
struct TypeRef {
    quint16 atomic = 0;
    int structIndex = -1;
    bool isStruct() const { return structIndex >= 0; }
};

struct MemberDef {
    QString name;
    TypeRef type;
    QVector<int> dims;
    int offset = 0;
};

struct StructDef {
    QString name;
    quint16 handle = 0;
    int size = 0;
    int align = 4;
    QVector<MemberDef> members;
};

struct TagDef {
    QString name;
    TypeRef type;
    QVector<int> dims; // empty for a scalar
    QByteArray data;
    // > 0: a BOOL array of this many bits, held as DWORD words (`dims` then
    // counts the words, as a controller's element segments do).
    int bits = 0;
};

class TagDatabase
{
public:
    // Limits on what a tag file may declare, so that a file cannot make the
    // simulator allocate without bound.
    static constexpr int MaxDims = 3;
    // A BOOL array is held in words of this many bits, and declared in
    // whole words, as a controller does.
    static constexpr int BitsPerWord = 32;
    // A short string: its length byte, then room for 255 characters.
    static constexpr int ShortStringSize = 256;
    static constexpr qint64 MaxTagBytes = 16 * 1024 * 1024;
    static constexpr int MaxStructBytes = 1024 * 1024;

    TagDatabase(); // holds the STRING structure, no tags

    static TypeRef atomicType(quint16 code) { return TypeRef{code, -1}; }
    TypeRef stringType() const { return TypeRef{0, 0}; }

    // Type by its name in a tag file: an atomic name, STRING, or a structure.
    bool typeByName(const QString &name, TypeRef *out) const;
    int typeSize(const TypeRef &t) const;
    int typeAlign(const TypeRef &t) const;
    // The CIP type bytes a read reply starts with: the atomic code, or
    // 0x02A0 followed by the structure handle.
    QByteArray typeBytes(const TypeRef &t) const;
    const StructDef &structDef(const TypeRef &t) const { return structs.at(t.structIndex); }

    // Lays the members out in order, each on its natural alignment. Returns
    // the new type, or a type with atomic 0 and no structure on error.
    TypeRef addStruct(const QString &name, quint16 handle, QVector<MemberDef> members,
                      QString *error);
    // A zero-filled tag; false on a duplicate name or a size over the limits.
    // A BOOL tag of one dimension is a BOOL array: whole words, its last
    // word's spare bits unused.
    bool addTag(const QString &name, const TypeRef &type, const QVector<int> &dims, QString *error);
    // A structure of a DINT LEN and a SINT array DATA: a text type.
    bool isText(const TypeRef &t) const;
    // The bit of a tag that toggle() flips: "TAG.N", N within its data.
    bool setToggle(const QString &bitAddress, QString *error);
    // Flips that bit (nothing without setToggle): another writer of the
    // controller at work between a client's requests.
    void toggle();
    // Fills a tag, or a part of it, from JSON: numbers (or numeric strings
    // for 64-bit values), booleans, strings for STRING, objects keyed by
    // member name for structures, flat or nested lists for arrays.
    bool setValue(const QString &tag, const QJsonValue &value, QString *error);

    const TagDef *find(const QString &name) const;
    // Overwrites `bytes.size()` bytes of a tag's value from byte `offset`;
    // false, changing nothing, when they do not lie within it.
    bool storeBytes(const QString &tag, qint64 offset, const QByteArray &bytes);
    int tagCount() const { return order.size(); }
    // Tags in the order they were added: the tag list's instance order.
    const TagDef &tagAt(int i) const { return tags.find(order.at(i)).value(); }
    // Template instance of a structure type, and the structure it names.
    static constexpr quint16 FirstTemplateId = 0x100;
    static constexpr int MaxStructs = 0x0FFF - FirstTemplateId;
    quint16 templateId(const TypeRef &t) const
    {
        return static_cast<quint16>(FirstTemplateId + t.structIndex);
    }
    const StructDef *structByTemplate(quint16 id) const
    {
        const int i = id - FirstTemplateId;
        return i >= 0 && i < structs.size() ? &structs.at(i) : nullptr;
    }

    static qint64 elementCount(const QVector<int> &dims);

    // What ListIdentity and the Identity object report.
    identity::DeviceIdentity identity = defaultIdentity();

private:
    bool writeValue(const TypeRef &t, const QVector<int> &dims, QByteArray &data, int offset,
                    const QJsonValue &v, QString *error) const;
    bool writeScalar(const TypeRef &t, QByteArray &data, int offset, const QJsonValue &v,
                     QString *error) const;

    QVector<StructDef> structs;
    QHash<QString, TagDef> tags; // keyed by the lower-case name
    QVector<QString> order;      // their keys, as added
    struct {
        QString key; // empty: none
        int byte = 0;
        quint8 mask = 0;
    } toggled;
};

// The built-in tag set listed in SimRunner.h.
TagDatabase defaultTags();

// Reads a JSON tag database (format in docs/simulator.md, "Tag files").
bool loadTagFile(const QString &path, TagDatabase *db, QString *error);
bool loadTagJson(const QByteArray &json, TagDatabase *db, QString *error);

} // namespace qsim

#endif
