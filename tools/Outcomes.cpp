#include "Outcomes.h"

#include "Commands.h"
#include "Table.h"
#include "ValueText.h"

#include <cstdio>

namespace tools
{

void printLine(const QString &s)
{
    const QByteArray b = s.toUtf8();
    std::fwrite(b.constData(), 1, static_cast<size_t>(b.size()), stdout);
    std::fputc('\n', stdout);
}

int reportOutcomes(const char *command, const QVector<Outcome> &outcomes, bool json)
{
    Table table(readHeader());
    QStringList reasons;
    for (const Outcome &o : outcomes) {
        if (json)
            printLine(jsonLine(o.value));
        else
            table.add(readRow(o.value));
        if (o.value.status != 0)
            reasons << QStringLiteral("quorvex %1: %2: %3")
                           .arg(QLatin1String(command), o.value.tagName, failureText(o));
    }
    if (!json)
        for (const QString &l : table.lines())
            printLine(l);
    std::fflush(stdout);
    for (const QString &r : reasons)
        std::fprintf(stderr, "%s\n", r.toUtf8().constData());
    return reasons.isEmpty() ? ExitOk : ExitFailure;
}

} // namespace tools
