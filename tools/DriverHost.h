#ifndef QUORVEX_TOOLS_DRIVERHOST_H
#define QUORVEX_TOOLS_DRIVERHOST_H

#include "CDriveBaseClass.h"
#include "Explain.h"
#include "Pcap.h"

#include <QCommandLineParser>
#include <QLibrary>
#include <QString>
#include <QStringList>

#include <memory>

// The tool as an HMI runtime: loads the plug-in with QLibrary, takes the
// driver from getSharedLibrary and talks to it only through CDriveBaseClass.
namespace tools
{

struct HostOptions {
    QString driverPath; // empty: defaultDriverPath()
    QString connect;
    bool trace = false;
    QString pcapPath;
};

// <dir of the executable>/../lib/libLibQuorvex.so.1
QString defaultDriverPath();

// --driver, --trace, --pcap, and --connect when `withConnect`.
void addHostOptions(QCommandLineParser &p, bool withConnect);
HostOptions hostOptions(const QCommandLineParser &p, bool withConnect);

// Parses `args` for `command`. False when the command is to end at once
// with *exitCode: 0 after --help, ExitUsage after a bad argument (the
// message is printed).
bool parseCommandLine(QCommandLineParser &p, const char *command, const QStringList &args,
                      int *exitCode);
// A usage error: the message on stderr, and ExitUsage.
int usageError(const char *command, const QString &message);

// One driver call's result and the warning lines that call logged.
struct Outcome {
    CLabelVariable value;
    QStringList warnings;
};

// "status 7 (reply rejected): <why, in English>", then the driver's lines of
// that call, each on its own line after "  driver: ".
QString failureText(const Outcome &o);

// Why a connect of `connection` failed, from the lines the call logged (its
// trace included) and, where those do not tell, the tool's own attempt to
// reach the address or open the serial port.
ConnectVerdict diagnoseConnect(const QString &connection, int result, const QStringList &lines,
                               qint64 elapsedMs);

// The help text of --connect's ";options", one option a line.
QString connectOptionsHelp();

class DriverHost
{
public:
    explicit DriverHost(const char *command);
    ~DriverHost(); // disconnects and releases the transport

    DriverHost(const DriverHost &) = delete;
    DriverHost &operator=(const DriverHost &) = delete;

    // Loads the plug-in, opens the pcap file and switches tracing on as
    // asked. False with the reason printed.
    bool load(const HostOptions &o);
    // ConnectDrive; a failure is printed in words. ExitOk when connected,
    // else the exit status: ExitUsage for a malformed string.
    int connect(const QString &connection);

    // The driver's calls, each with the warnings it logged.
    Outcome read(const QString &tag, DataType type, int count);
    Outcome write(const QString &tag, DataType type, const CLabelVariable &value, int count);

    CDriveBaseClass *driver() const { return drv; }
    // Tracing as the options asked (on for --trace and --pcap).
    bool traceWanted() const { return traceOn; }

private:
    const char *command;
    QLibrary library;
    CDriveBaseClass *drv = nullptr;
    std::unique_ptr<PcapWriter> pcap;
    bool traceOn = false;
};

} // namespace tools

#endif
