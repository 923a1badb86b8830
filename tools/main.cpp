#include "Commands.h"
#include "Explain.h"

#include <QCoreApplication>
#include <cstdio>

namespace
{

const tools::Command commands[] = {
    {"read", "read tags through the driver and print them (table or JSON)", tools::runRead},
    {"write", "write tags through the driver and print the outcome", tools::runWrite},
    {"tags", "list the controller's tags and structures", tools::runTags},
    {"watch", "poll tags like an HMI and show the changes", tools::runWatch},
    {"demo", "read a representative tag set from the bundled simulator", tools::runDemo},
    {"bench", "compare driver reads with a minimal raw client", tools::runBench},
    {"identity", "print who the controller says it is (ListIdentity, Identity object)",
     tools::runIdentity},
    {"sim", "run a simulated controller (EtherNet/IP + CIP) for tests and demos", tools::runSim},
};

void usage(FILE *to)
{
    std::fprintf(to, "usage: quorvex <command> [options]\n\ncommands:\n");
    for (const tools::Command &c : commands)
        std::fprintf(to, "  %-8s %s\n", c.name, c.summary);
    std::fprintf(to,
                 "\n--connect takes the driver's connection string: ADDRESS:PORT (e.g.\n"
                 "192.168.1.10:44818) or PORT,BAUD,DATABITS,STOPBITS,PARITY (e.g.\n"
                 "/dev/ttyUSB0,115200,8,1,N), either followed by ;options:\n  %s\n"
                 "e.g. --connect \"192.168.1.10:44818;slot=3;timeout=2000\".\n"
                 "\n'quorvex <command> --help' describes the options of a command.\n",
                 qPrintable(tools::linkOptionNames().join(QStringLiteral("= ;")).prepend(';') +
                            QLatin1Char('=')));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        usage(stderr);
        return tools::ExitUsage;
    }
    const QString name = args.takeFirst();
    if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
        usage(stdout);
        return tools::ExitOk;
    }
    for (const tools::Command &c : commands)
        if (name == QLatin1String(c.name))
            return c.run(args);
    std::fprintf(stderr, "quorvex: unknown command '%s'\n\n", qPrintable(name));
    usage(stderr);
    return tools::ExitUsage;
}
