#ifndef QUORVEX_DECIMALTEXT_H
#define QUORVEX_DECIMALTEXT_H

#include <QString>
#include <QtGlobal>

// Strict decimal text for option values: digits only (no sign, blank or
// base prefix, which the host would not expect to change the number), and
// within [min, max].
inline bool boundedDecimal(const QString &text, quint32 min, quint32 max, quint32 *out)
{
    constexpr int MaxDigits = 9; // below 2^32 whatever the digits
    if (text.isEmpty() || text.size() > MaxDigits)
        return false;
    quint32 v = 0;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
        v = v * 10 + static_cast<quint32>(c.unicode() - '0');
    }
    if (v < min || v > max)
        return false;
    *out = v;
    return true;
}

#endif
