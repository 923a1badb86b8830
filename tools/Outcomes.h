#ifndef QUORVEX_TOOLS_OUTCOMES_H
#define QUORVEX_TOOLS_OUTCOMES_H

#include <QString>
#include <QVector>

#include "CLabelVariable.h"

namespace tools
{

class DriverHost;

// One line on standard output, as UTF-8.
void printLine(const QString &s);

// What `read` and `write` print for the values they got back: a table (or
// JSON lines), then on standard error one line per failed tag. The exit
// status: ExitOk when every status is 0, else ExitFailure.
int reportOutcomes(const char *command, const QVector<CLabelVariable> &values,
                   const DriverHost &host, bool json);

} // namespace tools

#endif
