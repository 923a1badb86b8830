#ifndef QUORVEX_TOOLS_DRIVERHOST_H
#define QUORVEX_TOOLS_DRIVERHOST_H

#include "CDriveBaseClass.h"
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
    // ConnectDrive; a failure is printed in words. True when connected.
    bool connect(const QString &connection);

    CDriveBaseClass *driver() const { return drv; }
    // Tracing as the options asked (on for --trace and --pcap).
    bool traceWanted() const { return traceOn; }
    // Status in words, with the driver's last warning when there is one.
    QString failureText(int status) const;

private:
    const char *command;
    QLibrary library;
    CDriveBaseClass *drv = nullptr;
    std::unique_ptr<PcapWriter> pcap;
    bool traceOn = false;
};

} // namespace tools

#endif
