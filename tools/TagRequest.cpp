#include "TagRequest.h"

namespace tools
{

namespace
{

const char *const names[] = {nullptr,  "bool",  "int8",  "uint8",  "int16",  "uint16", "int32",
                             "uint32", "float", "int64", "uint64", "double", "string"};
constexpr int NameCount = sizeof(names) / sizeof(names[0]);

} // namespace

QString typeName(int type)
{
    if (type > 0 && type < NameCount)
        return QLatin1String(names[type]);
    return QStringLiteral("type %1").arg(type);
}

int typeFromText(const QString &text)
{
    const QString t = text.trimmed().toLower();
    for (int i = 1; i < NameCount; ++i)
        if (t == QLatin1String(names[i]))
            return i;
    bool ok = false;
    const int code = t.toInt(&ok, 10);
    return ok && code > 0 && code < NameCount ? code : 0;
}

bool parseTagRequest(const QString &text, TagRequest *out, QString *error)
{
    // A program's tag carries a ':' of its own, before the TYPE's.
    const QString scope = QStringLiteral("Program:");
    const int skip = text.trimmed().startsWith(scope, Qt::CaseInsensitive)
                         ? text.indexOf(QLatin1Char(':')) + 1
                         : 0;
    QStringList parts = text.mid(skip).split(QLatin1Char(':'));
    parts[0].prepend(text.left(skip));
    TagRequest s;
    s.tag = parts.at(0).trimmed();
    if (s.tag.isEmpty()) {
        *error = QStringLiteral("'%1': the tag name is empty").arg(text);
        return false;
    }
    if (parts.size() > 3) {
        *error = QStringLiteral("'%1': expected TAG[:TYPE[:COUNT]]").arg(text);
        return false;
    }
    if (parts.size() > 1) {
        const int type = typeFromText(parts.at(1));
        if (type == 0) {
            *error = QStringLiteral("'%1': unknown type '%2' (bool, int8, uint8, int16, uint16, "
                                    "int32, uint32, float, int64, uint64, double, string, or "
                                    "their codes 1 to 12)")
                         .arg(text, parts.at(1));
            return false;
        }
        s.type = static_cast<DataType>(type);
        s.typeGiven = true;
    }
    if (parts.size() > 2) {
        bool ok = false;
        const int count = parts.at(2).trimmed().toInt(&ok, 10);
        if (!ok || count < 1 || count > MaxCount) {
            *error = QStringLiteral("'%1': the count '%2' is not a number from 1 to %3")
                         .arg(text, parts.at(2))
                         .arg(MaxCount);
            return false;
        }
        s.count = count;
    }
    *out = s;
    return true;
}

} // namespace tools
