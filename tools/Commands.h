#ifndef QUORVEX_TOOLS_COMMANDS_H
#define QUORVEX_TOOLS_COMMANDS_H

#include <QStringList>

// Subcommands of the `quorvex` tool. Each gets the arguments after its own
// name and returns the process exit code; QCoreApplication exists already.
namespace tools
{

struct Command {
    const char *name;
    const char *summary;
    int (*run)(const QStringList &args);
};

int runSim(const QStringList &args);
int runRead(const QStringList &args);
int runWrite(const QStringList &args);
int runWatch(const QStringList &args);
int runDemo(const QStringList &args);
int runBench(const QStringList &args);
int runIdentity(const QStringList &args);
int runTags(const QStringList &args);

// Exit codes shared by all subcommands.
constexpr int ExitOk = 0;
constexpr int ExitFailure = 1;
constexpr int ExitUsage = 2;

} // namespace tools

#endif
