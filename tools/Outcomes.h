#ifndef QUORVEX_TOOLS_OUTCOMES_H
#define QUORVEX_TOOLS_OUTCOMES_H

#include <QString>
#include <QVector>

#include "DriverHost.h"

namespace tools
{

// One line on standard output, as UTF-8.
void printLine(const QString &s);

// What `read` and `write` print for the values they got back: a table (or
// JSON lines), then on standard error each failed tag with the warnings
// its own call logged. The exit status: ExitOk when every status is 0,
// else ExitFailure.
int reportOutcomes(const char *command, const QVector<Outcome> &outcomes, bool json);

} // namespace tools

#endif
