#include "WriteRequest.h"

#include <QStringList>
#include <limits>

namespace tools
{

namespace
{

// Splits at "," outside double quotes; quoted items lose their quotes.
bool splitValues(const QString &text, QStringList *out)
{
    QString item;
    bool quoted = false, wasQuoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < text.size())
                item += text.at(++i);
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                item += c;
        } else if (c == QLatin1Char('"') && item.trimmed().isEmpty() && !wasQuoted) {
            quoted = wasQuoted = true;
            item.clear();
        } else if (c == QLatin1Char(',')) {
            out->append(wasQuoted ? item : item.trimmed());
            item.clear();
            wasQuoted = false;
        } else if (wasQuoted && !c.isSpace()) {
            return false; // text after a closing quote
        } else {
            item += c;
        }
    }
    if (quoted)
        return false;
    out->append(wasQuoted ? item : item.trimmed());
    return true;
}

template <typename T> bool signedOf(const QString &s, T *v)
{
    bool ok = false;
    const qlonglong x = s.toLongLong(&ok, 10);
    if (!ok || x < std::numeric_limits<T>::min() || x > std::numeric_limits<T>::max())
        return false;
    *v = static_cast<T>(x);
    return true;
}

template <typename T> bool unsignedOf(const QString &s, T *v)
{
    bool ok = false;
    const qulonglong x = s.toULongLong(&ok, 10);
    if (!ok || s.startsWith(QLatin1Char('-')) || x > std::numeric_limits<T>::max())
        return false;
    *v = static_cast<T>(x);
    return true;
}

template <typename T> bool elementOf(const QString &s, T *v)
{
    if constexpr (std::is_same_v<T, QString>) {
        *v = s;
        return true;
    } else if constexpr (std::is_same_v<T, bool>) {
        const QString t = s.toLower();
        *v = t == QLatin1String("true") || t == QLatin1String("1");
        return *v || t == QLatin1String("false") || t == QLatin1String("0");
    } else if constexpr (std::is_same_v<T, float>) {
        bool ok = false;
        *v = s.toFloat(&ok);
        return ok;
    } else if constexpr (std::is_same_v<T, double>) {
        bool ok = false;
        *v = s.toDouble(&ok);
        return ok;
    } else if constexpr (std::is_same_v<T, char>) {
        signed char c = 0;
        const bool ok = signedOf(s, &c);
        *v = static_cast<char>(c);
        return ok;
    } else if constexpr (std::is_signed_v<T>) {
        return signedOf(s, v);
    } else {
        return unsignedOf(s, v);
    }
}

template <typename T> bool listOf(const QStringList &items, QVariant *out, QString *bad)
{
    QList<T> list;
    for (const QString &s : items) {
        T v{};
        if (!elementOf(s, &v)) {
            *bad = s;
            return false;
        }
        list.append(v);
    }
    *out = QVariant::fromValue(list);
    return true;
}

bool valuesOf(DataType type, const QStringList &items, QVariant *out, QString *bad)
{
    switch (type) {
    case DT_Bool:
        return listOf<bool>(items, out, bad);
    case DT_Int8:
        return listOf<char>(items, out, bad);
    case DT_UInt8:
        return listOf<unsigned char>(items, out, bad);
    case DT_Int16:
        return listOf<short>(items, out, bad);
    case DT_UInt16:
        return listOf<unsigned short>(items, out, bad);
    case DT_Int32:
        return listOf<int>(items, out, bad);
    case DT_UInt32:
        return listOf<unsigned int>(items, out, bad);
    case DT_Float:
        return listOf<float>(items, out, bad);
    case DT_Int64:
        return listOf<long long>(items, out, bad);
    case DT_UInt64:
        return listOf<unsigned long long>(items, out, bad);
    case DT_Double:
        return listOf<double>(items, out, bad);
    default:
        return listOf<QString>(items, out, bad);
    }
}

} // namespace

bool parseWriteRequest(const QString &text, WriteRequest *out, QString *error)
{
    const int eq = text.indexOf(QLatin1Char('='));
    if (eq < 0) {
        *error = QStringLiteral("'%1': expected TAG[:TYPE[:COUNT]]=VALUE[,VALUE...]").arg(text);
        return false;
    }
    const QString head = text.left(eq);
    WriteRequest w;
    if (!parseTagRequest(head, &w.target, error))
        return false;
    QStringList items;
    if (!splitValues(text.mid(eq + 1), &items)) {
        *error = QStringLiteral("'%1': a quoted value is not closed, or text follows it").arg(text);
        return false;
    }
    w.text = text;
    w.items = items;
    if (w.target.typeGiven && !convertValues(&w, error))
        return false;
    if (head.count(QLatin1Char(':')) < 2)
        w.target.count = items.size();
    *out = w;
    return true;
}

bool convertValues(WriteRequest *w, QString *error)
{
    QString bad;
    if (!valuesOf(w->target.type, w->items, &w->value.values, &bad)) {
        *error =
            QStringLiteral("'%1': '%2' is no %3 value").arg(w->text, bad, typeName(w->target.type));
        return false;
    }
    return true;
}

QString withWriteOption(const QString &connection)
{
    const QStringList items = connection.split(QLatin1Char(';'));
    for (int i = 1; i < items.size(); ++i)
        if (items.at(i).trimmed().startsWith(QLatin1String("write"), Qt::CaseInsensitive))
            return connection;
    return connection + QStringLiteral(";write");
}

bool writesOff(const QString &connection)
{
    bool off = false;
    const QStringList items = connection.split(QLatin1Char(';'));
    for (int i = 1; i < items.size(); ++i) {
        const QString item = items.at(i).trimmed();
        const int eq = item.indexOf(QLatin1Char('='));
        if (eq > 0 &&
            item.left(eq).trimmed().compare(QLatin1String("write"), Qt::CaseInsensitive) == 0)
            off =
                item.mid(eq + 1).trimmed().compare(QLatin1String("off"), Qt::CaseInsensitive) == 0;
    }
    return off;
}

} // namespace tools
