#ifndef LABELTESTSUPPORT_H
#define LABELTESTSUPPORT_H

#include "CLabelVariable.h"

#include <QStringList>

#include <limits>

Q_DECLARE_METATYPE(CLabelVariable)

template <typename T> QVariant listOf(std::initializer_list<T> items)
{
    return QVariant::fromValue(QList<T>(items));
}

// Int8 elements written as numbers, whatever the sign of plain char.
inline QVariant int8s(std::initializer_list<int> items)
{
    QList<char> list;
    for (const int v : items)
        list.append(static_cast<char>(static_cast<qint8>(v)));
    return QVariant::fromValue(list);
}

inline CLabelVariable makeValue(int type, const QVariant &values, int count)
{
    CLabelVariable v;
    v.status = 0;
    v.type = static_cast<DataType>(type);
    v.values = values;
    v.count = count;
    v.tagName = QStringLiteral("Tag");
    return v;
}

template <typename T> QString elementText(const T &e)
{
    if constexpr (std::is_same_v<T, QString>)
        return e.isNull() ? QStringLiteral("<null>") : QLatin1Char('"') + e + QLatin1Char('"');
    else if constexpr (std::is_same_v<T, bool>)
        return e ? QStringLiteral("true") : QStringLiteral("false");
    else if constexpr (std::is_floating_point_v<T>)
        return QString::number(double(e), 'g', std::numeric_limits<T>::max_digits10);
    else if constexpr (std::is_same_v<T, char>) // an Int8 element, whatever char's sign
        return QString::number(static_cast<qint8>(e));
    else if constexpr (std::is_signed_v<T>)
        return QString::number(static_cast<long long>(e));
    else
        return QString::number(static_cast<unsigned long long>(e));
}

template <typename T> bool appendListText(const QVariant &v, const char *name, QString *out)
{
    if (v.userType() != qMetaTypeId<QList<T>>())
        return false;
    QStringList parts;
    for (const T &e : v.value<QList<T>>())
        parts << elementText(e);
    *out = QLatin1String(name) + QLatin1Char('[') + parts.join(QLatin1Char(',')) + QLatin1Char(']');
    return true;
}

// The list a variant holds, with its element type, as one comparable text:
// "short[11,22,33]", "invalid", or the type name of anything unexpected.
inline QString listText(const QVariant &v)
{
    QString out;
    if (!v.isValid())
        return QStringLiteral("invalid");
    if (appendListText<bool>(v, "bool", &out) || appendListText<char>(v, "char", &out) ||
        appendListText<unsigned char>(v, "uchar", &out) ||
        appendListText<short>(v, "short", &out) ||
        appendListText<unsigned short>(v, "ushort", &out) || appendListText<int>(v, "int", &out) ||
        appendListText<unsigned int>(v, "uint", &out) || appendListText<float>(v, "float", &out) ||
        appendListText<long long>(v, "int64", &out) ||
        appendListText<unsigned long long>(v, "uint64", &out) ||
        appendListText<double>(v, "double", &out) || appendListText<QString>(v, "text", &out))
        return out;
    return QString::fromLatin1(v.typeName());
}

#endif
