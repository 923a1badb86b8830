#include "TagDatabase.h"
#include "IdentityService.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace qsim
{

namespace
{

constexpr qint64 MaxFileBytes = 64 * 1024 * 1024;

bool dimsOf(const QJsonObject &o, QVector<int> *dims, QString *error)
{
    const QJsonValue v = o.value(QStringLiteral("dims"));
    if (v.isUndefined() || v.isNull())
        return true;
    if (!v.isArray() || v.toArray().size() > TagDatabase::MaxDims) {
        *error = QStringLiteral("\"dims\" must be a list of at most 3 sizes");
        return false;
    }
    for (const QJsonValue &d : v.toArray()) {
        const int n = d.toInt(0);
        if (n < 1) {
            *error = QStringLiteral("every dimension must be at least 1");
            return false;
        }
        dims->append(n);
    }
    return true;
}

bool handleOf(const QJsonValue &v, quint16 *handle)
{
    bool ok = false;
    qint64 h = -1;
    if (v.isDouble()) {
        h = v.toInt(-1);
        ok = true;
    } else if (v.isString()) {
        h = v.toString().toLongLong(&ok, 0);
    }
    if (!ok || h < 0 || h > 0xFFFF)
        return false;
    *handle = static_cast<quint16>(h);
    return true;
}

bool loadTypes(const QJsonArray &types, TagDatabase *db, QString *error)
{
    for (const QJsonValue &tv : types) {
        const QJsonObject t = tv.toObject();
        const QString name = t.value(QStringLiteral("name")).toString();
        quint16 handle = 0;
        if (!handleOf(t.value(QStringLiteral("handle")), &handle)) {
            *error = QStringLiteral("type %1: \"handle\" must be 0..0xFFFF").arg(name);
            return false;
        }
        QVector<MemberDef> members;
        for (const QJsonValue &mv : t.value(QStringLiteral("members")).toArray()) {
            const QJsonObject m = mv.toObject();
            MemberDef def;
            def.name = m.value(QStringLiteral("name")).toString();
            const QString typeName = m.value(QStringLiteral("type")).toString();
            if (!db->typeByName(typeName, &def.type)) {
                *error = QStringLiteral("member %1.%2: unknown type \"%3\"")
                             .arg(name, def.name, typeName);
                return false;
            }
            if (!dimsOf(m, &def.dims, error))
                return false;
            members.append(def);
        }
        if (!db->addStruct(name, handle, members, error).isStruct())
            return false;
    }
    return true;
}

bool loadTags(const QJsonArray &tags, TagDatabase *db, QString *error)
{
    for (const QJsonValue &tv : tags) {
        const QJsonObject t = tv.toObject();
        const QString name = t.value(QStringLiteral("name")).toString();
        const QString typeName = t.value(QStringLiteral("type")).toString();
        TypeRef type;
        QVector<int> dims;
        if (!db->typeByName(typeName, &type)) {
            *error = QStringLiteral("tag %1: unknown type \"%2\"").arg(name, typeName);
            return false;
        }
        if (!dimsOf(t, &dims, error) || !db->addTag(name, type, dims, error))
            return false;
        const QJsonValue value = t.value(QStringLiteral("value"));
        if (!value.isUndefined() && !db->setValue(name, value, error)) {
            *error = QStringLiteral("tag %1: %2").arg(name, *error);
            return false;
        }
    }
    return true;
}

} // namespace

bool loadTagJson(const QByteArray &json, TagDatabase *db, QString *error)
{
    QJsonParseError perr;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &perr);
    if (!doc.isObject()) {
        *error = QStringLiteral("not a JSON object: %1").arg(perr.errorString());
        return false;
    }
    const QJsonObject root = doc.object();
    if (!root.value(QStringLiteral("tags")).isArray()) {
        *error = QStringLiteral("the file needs a \"tags\" list");
        return false;
    }
    if (!loadIdentity(root.value(QStringLiteral("identity")), &db->identity, error))
        return false;
    return loadTypes(root.value(QStringLiteral("types")).toArray(), db, error) &&
           loadTags(root.value(QStringLiteral("tags")).toArray(), db, error);
}

bool loadTagFile(const QString &path, TagDatabase *db, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("cannot open %1: %2").arg(path, f.errorString());
        return false;
    }
    if (f.size() > MaxFileBytes) {
        *error = QStringLiteral("%1 is too large").arg(path);
        return false;
    }
    return loadTagJson(f.readAll(), db, error);
}

} // namespace qsim
