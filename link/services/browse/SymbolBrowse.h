#ifndef QUORVEX_SYMBOLBROWSE_H
#define QUORVEX_SYMBOLBROWSE_H

#include <QByteArray>
#include <QString>
#include <QVector>
#include <functional>

#include "BrowseFrames.h"

// The controller's tag list, page by page over any Message Router exchange.
namespace browse
{

// Sends one Message Router request: 0 when a reply came (in `mrReply`).
using MrExchange = std::function<int(const QByteArray &mrRequest, QByteArray &mrReply)>;

struct ListLimits {
    // Instance ids are 16 bits in the request: every page must start past
    // the last, so no listing needs more pages than there are ids.
    int maxPages = 0x10000;
    int maxSymbols = 0x10000;
    qint64 maxNameBytes = 4 * 1024 * 1024;
};

struct SymbolList {
    bool ok = false;
    QString error;
    int pages = 0;
    QVector<SymbolEntry> symbols;
};

// Every symbol of the controller scope (`program` empty) or of a program.
SymbolList listSymbols(const MrExchange &exchange, const QString &program,
                       const ListLimits &limits = ListLimits());

} // namespace browse

#endif
