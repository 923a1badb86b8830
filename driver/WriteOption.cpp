#include "ConnectionString.h"

#include <QStringList>

namespace
{

// 1 on, 0 off, -1 not the write option.
int writeItem(const QString &item)
{
    const QString t = item.trimmed().toLower();
    if (t == QLatin1String("write") || t == QLatin1String("write=on"))
        return 1;
    if (t == QLatin1String("write=off"))
        return 0;
    return -1;
}

} // namespace

bool takeWriteOption(QString &text, bool *write)
{
    const int semicolon = text.indexOf(QLatin1Char(';'));
    if (semicolon < 0)
        return false;
    bool on = false;
    for (const QString &item : text.mid(semicolon + 1).split(QLatin1Char(';'))) {
        const int v = writeItem(item);
        if (v < 0)
            return false;
        on = v == 1;
    }
    *write = on;
    text.truncate(semicolon);
    return true;
}
