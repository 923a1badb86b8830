#include "DriverHost.h"

#include "Commands.h"
#include "StatusText.h"
#include "TraceTap.h"
#include <QObject>

#include <QCoreApplication>
#include <QHostAddress>
#include <QRegularExpression>
#include <cstdio>

namespace tools
{

namespace
{

using EntryFunction = CDriveBaseClass *(*)();

quint32 ipv4(const QString &text, bool *ok)
{
    QHostAddress a;
    *ok = a.setAddress(text) && a.protocol() == QAbstractSocket::IPv4Protocol;
    return *ok ? a.toIPv4Address() : 0;
}

// The controller's own address when the connection string names one; a
// serial line carries the same frames, so it gets made-up addresses.
void setPcapEndpoints(PcapWriter &w, const QString &connection)
{
    constexpr quint32 Loopback = 0x7F000001;
    constexpr quint32 DocClient = 0xC0000201, DocController = 0xC0000202; // 192.0.2.x
    bool ok = false;
    // Options after the first ";" may hold "," and ":" of their own.
    const QString head = connection.section(QLatin1Char(';'), 0, 0);
    const quint32 controller =
        head.contains(QLatin1Char(',')) ? 0 : ipv4(head.section(QLatin1Char(':'), 0, 0), &ok);
    if (!ok)
        w.setEndpoints(DocClient, DocController);
    else
        w.setEndpoints(controller == Loopback ? Loopback : DocClient, controller);
}

} // namespace

QString defaultDriverPath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/libLibQuorvex.so.1");
}

void addHostOptions(QCommandLineParser &p, bool withConnect)
{
    p.addOption({QStringLiteral("driver"),
                 QStringLiteral("The plug-in to load (default: %1).")
                     .arg(QStringLiteral("<dir of quorvex>/../lib/libLibQuorvex.so.1")),
                 QStringLiteral("path")});
    if (withConnect)
        p.addOption({QStringLiteral("connect"),
                     QStringLiteral("Connection string: ADDRESS:PORT, or the serial form "
                                    "PORT,BAUD,DATABITS,STOPBITS,PARITY."),
                     QStringLiteral("string")});
    p.addOption({QStringLiteral("trace"),
                 QStringLiteral("Switch the driver's traffic trace on and print its lines.")});
    p.addOption({QStringLiteral("pcap"),
                 QStringLiteral("Write every frame exchanged to FILE (pcap, Ethernet)."),
                 QStringLiteral("file")});
}

HostOptions hostOptions(const QCommandLineParser &p, bool withConnect)
{
    HostOptions o;
    o.driverPath = p.value(QStringLiteral("driver"));
    if (withConnect)
        o.connect = p.value(QStringLiteral("connect"));
    o.trace = p.isSet(QStringLiteral("trace"));
    o.pcapPath = p.value(QStringLiteral("pcap"));
    return o;
}

int usageError(const char *command, const QString &message)
{
    std::fprintf(stderr, "quorvex %s: %s\n(see 'quorvex %s --help')\n", command,
                 qPrintable(message), command);
    return ExitUsage;
}

bool parseCommandLine(QCommandLineParser &p, const char *command, const QStringList &args,
                      int *exitCode)
{
    p.addHelpOption();
    if (!p.parse(QStringList{QStringLiteral("quorvex %1").arg(QLatin1String(command))} + args)) {
        *exitCode = usageError(command, p.errorText());
        return false;
    }
    if (p.isSet(QStringLiteral("help"))) {
        // Qt names the executable's path; the user typed a subcommand.
        QString help = p.helpText();
        help.replace(QRegularExpression(QStringLiteral("^Usage: \\S+")),
                     QStringLiteral("Usage: quorvex %1").arg(QLatin1String(command)));
        std::fputs(qPrintable(help), stdout);
        *exitCode = ExitOk;
        return false;
    }
    return true;
}

DriverHost::DriverHost(const char *cmd) : command(cmd) {}

DriverHost::~DriverHost()
{
    if (drv) {
        drv->DisConnectDrive();
        drv->DestroyFree();
        // The interface has no destructor; the driver object is a QObject
        // and goes through that side, as a Qt host would delete it. The
        // plug-in itself stays loaded.
        delete dynamic_cast<QObject *>(drv);
        drv = nullptr;
    }
    TraceTap::instance().setPcap(nullptr);
    if (pcap)
        pcap->close();
}

bool DriverHost::load(const HostOptions &o)
{
    TraceTap &tap = TraceTap::instance();
    tap.install();
    tap.setEcho(o.trace);

    const QString path = o.driverPath.isEmpty() ? defaultDriverPath() : o.driverPath;
    library.setFileName(path);
    if (!library.load()) {
        std::fprintf(stderr, "quorvex %s: cannot load the driver %s: %s\n", command,
                     qPrintable(path), qPrintable(library.errorString()));
        return false;
    }
    const auto entry = reinterpret_cast<EntryFunction>(library.resolve("getSharedLibrary"));
    if (!entry) {
        std::fprintf(stderr, "quorvex %s: %s has no getSharedLibrary\n", command, qPrintable(path));
        return false;
    }
    drv = entry();
    if (!drv) {
        std::fprintf(stderr, "quorvex %s: getSharedLibrary gave no driver\n", command);
        return false;
    }

    if (!o.pcapPath.isEmpty()) {
        pcap = std::make_unique<PcapWriter>();
        QString error;
        if (!pcap->open(o.pcapPath, &error)) {
            std::fprintf(stderr, "quorvex %s: %s\n", command, qPrintable(error));
            pcap.reset();
            return false;
        }
        tap.setPcap(pcap.get());
    }
    traceOn = o.trace || pcap;
    if (traceOn)
        drv->DebugCmd(DBG_StartDebug);
    return true;
}

bool DriverHost::connect(const QString &connection)
{
    if (pcap)
        setPcapEndpoints(*pcap, connection);
    TraceTap::instance().takeLastWarning();
    const int rc = drv->ConnectDrive(connection);
    if (rc == 0)
        return true;
    std::fprintf(stderr, "quorvex %s: cannot connect to %s: %s (result %d)\n", command,
                 qPrintable(connection), qPrintable(connectMeaning(rc)), rc);
    const QString w = TraceTap::instance().takeLastWarning();
    if (!w.isEmpty())
        std::fprintf(stderr, "  driver: %s\n", w.toUtf8().constData());
    return false;
}

QString DriverHost::failureText(int status) const
{
    QString t = QStringLiteral("status %1 (%2)").arg(status).arg(statusMeaning(status));
    const QString w = TraceTap::instance().takeLastWarning();
    if (!w.isEmpty())
        t += QStringLiteral("\n  driver: ") + w;
    return t;
}

} // namespace tools
