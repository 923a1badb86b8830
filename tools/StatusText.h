#ifndef QUORVEX_TOOLS_STATUSTEXT_H
#define QUORVEX_TOOLS_STATUSTEXT_H

#include <QString>

// The driver's numbers in words, for tables and error messages.
namespace tools
{

// Meaning of a CLabelVariable status code.
QString statusMeaning(int status);
// Meaning of a ConnectDrive result.
QString connectMeaning(int result);

} // namespace tools

#endif
