#include "SymbolBrowse.h"

namespace browse
{

namespace
{

constexpr quint32 LastInstance = 0xFFFF;

} // namespace

SymbolList listSymbols(const MrExchange &exchange, const QString &program, const ListLimits &limits)
{
    SymbolList list;
    quint32 start = 0;
    qint64 nameBytes = 0;
    while (list.pages < limits.maxPages) {
        QByteArray reply;
        ++list.pages;
        if (exchange(symbolListRequest(program, static_cast<quint16>(start)), reply) != 0) {
            list.error = QStringLiteral("no reply to the tag list request");
            return list;
        }
        const SymbolPage page = parseSymbolPage(reply);
        if (!page.ok) {
            list.error = QStringLiteral("tag list: %1").arg(page.error);
            return list;
        }
        for (const SymbolEntry &e : page.entries) {
            // A page that goes back would make the listing run forever.
            if (e.instance < start || e.instance > LastInstance) {
                list.error = QStringLiteral("tag list: instance %1 out of order").arg(e.instance);
                return list;
            }
            start = e.instance + 1;
            nameBytes += e.name.size();
            if (list.symbols.size() >= limits.maxSymbols || nameBytes > limits.maxNameBytes) {
                list.error = QStringLiteral("tag list: more tags than allowed");
                return list;
            }
            list.symbols.append(e);
        }
        if (!page.more) {
            list.ok = true;
            return list;
        }
        if (page.entries.isEmpty()) {
            list.error = QStringLiteral("tag list: a partial page without tags");
            return list;
        }
        if (start > LastInstance) {
            list.error = QStringLiteral("tag list: more pages past the last instance");
            return list;
        }
    }
    list.error = QStringLiteral("tag list: too many pages");
    return list;
}

} // namespace browse
