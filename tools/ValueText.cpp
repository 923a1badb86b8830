#include "ValueText.h"
#include "TagRequest.h"

#include <charconv>
#include <cmath>

namespace tools
{

namespace
{

template <typename F> QString floatText(F v, TextStyle style)
{
    if (!std::isfinite(v)) {
        if (style == TextStyle::Json)
            return QStringLiteral("null");
        return std::isnan(v) ? QStringLiteral("nan")
                             : (v > 0 ? QStringLiteral("inf") : QStringLiteral("-inf"));
    }
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof(buf), v);
    return QString::fromLatin1(buf, static_cast<int>(r.ptr - buf));
}

template <typename T> QStringList integers(const QVariant &values)
{
    QStringList out;
    const QList<T> list = qvariant_cast<QList<T>>(values);
    out.reserve(list.size());
    for (const T x : list)
        out << QString::number(x);
    return out;
}

template <typename F> QStringList floats(const QVariant &values, TextStyle style)
{
    QStringList out;
    const QList<F> list = qvariant_cast<QList<F>>(values);
    out.reserve(list.size());
    for (const F x : list)
        out << floatText(x, style);
    return out;
}

} // namespace

QString jsonString(const QString &s)
{
    QString out;
    out.reserve(s.size() + 2);
    out += QLatin1Char('"');
    for (const QChar c : s) {
        switch (c.unicode()) {
        case '"':
            out += QLatin1String("\\\"");
            break;
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        default:
            if (c.unicode() < 0x20 || c.unicode() == 0x7F)
                out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                out += c;
        }
    }
    out += QLatin1Char('"');
    return out;
}

QStringList elementTexts(const CLabelVariable &v, TextStyle style)
{
    if (!v.values.isValid())
        return {};
    switch (v.type) {
    case DT_Bool: {
        QStringList out;
        const QList<bool> bits = qvariant_cast<QList<bool>>(v.values);
        for (int i = 0; i < bits.size() - boolPadding(v); ++i)
            out << (bits.at(i) ? QStringLiteral("true") : QStringLiteral("false"));
        return out;
    }
    case DT_Int8: {
        // char is signed on the targets this runs on, but say so explicitly.
        QStringList out;
        for (const char c : qvariant_cast<QList<char>>(v.values))
            out << QString::number(static_cast<signed char>(c));
        return out;
    }
    case DT_UInt8:
        return integers<unsigned char>(v.values);
    case DT_Int16:
        return integers<short>(v.values);
    case DT_UInt16:
        return integers<unsigned short>(v.values);
    case DT_Int32:
        return integers<int>(v.values);
    case DT_UInt32:
        return integers<unsigned int>(v.values);
    case DT_Int64:
        return integers<long long>(v.values);
    case DT_UInt64:
        return integers<unsigned long long>(v.values);
    case DT_Float:
        return floats<float>(v.values, style);
    case DT_Double:
        return floats<double>(v.values, style);
    case DT_String: {
        QStringList out;
        for (const QString &s : qvariant_cast<QList<QString>>(v.values))
            out << jsonString(s);
        return out;
    }
    default:
        return {};
    }
}

int boolPadding(const CLabelVariable &v)
{
    if (v.type != DT_Bool || v.count < 1 || !v.values.isValid())
        return 0;
    return qMax(0, qvariant_cast<QList<bool>>(v.values).size() - v.count);
}

QString valuesCell(const CLabelVariable &v)
{
    const QString values = shortList(elementTexts(v, TextStyle::Table));
    const int padding = boolPadding(v);
    return padding ? values + QStringLiteral(" (+%1 padding bits)").arg(padding) : values;
}

QString shortList(const QStringList &elements, int limit)
{
    if (elements.size() <= limit)
        return elements.join(QLatin1String(", "));
    const int tail = 2;
    const int head = qMax(1, limit - tail);
    return QStringLiteral("%1, ..., %2 (%3 values)")
        .arg(elements.mid(0, head).join(QLatin1String(", ")),
             elements.mid(elements.size() - tail).join(QLatin1String(", ")))
        .arg(elements.size());
}

QString isoTimestamp(const QDateTime &t)
{
    if (!t.isValid())
        return QString();
    // Local time with its offset spelt out, so that the text stands alone.
    return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QString jsonLine(const CLabelVariable &v)
{
    const QString time = isoTimestamp(v.timestamp);
    const int padding = boolPadding(v);
    return QStringLiteral("{\"tag\":%1,\"type\":%2,\"count\":%3,\"status\":%4,\"values\":[%5],"
                          "%6\"timestamp\":%7}")
        .arg(jsonString(v.tagName), jsonString(typeName(v.type)), QString::number(v.count),
             QString::number(v.status), elementTexts(v, TextStyle::Json).join(QLatin1Char(',')),
             padding ? QStringLiteral("\"padding_bits\":%1,").arg(padding) : QString(),
             time.isEmpty() ? QStringLiteral("null") : jsonString(time));
}

} // namespace tools
