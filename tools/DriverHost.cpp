#include "DriverHost.h"

#include "Commands.h"
#include "ConnectionString.h"
#include "LinkOptions.h"
#include "StatusText.h"
#include "TraceTap.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QObject>
#include <QRegularExpression>
#include <QTcpSocket>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace tools
{

namespace
{

using EntryFunction = CDriveBaseClass *(*)();

// The tool's own connect after a quick failure: long enough for a refusal
// or an unreachable network to come back.
constexpr int ProbeWaitMs = 2000;

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
    // The build tree keeps it in lib/ beside bin/; an install in its
    // library folder, which may be lib/<multiarch>.
    const QString bin = QCoreApplication::applicationDirPath();
    const QString built = bin + QStringLiteral("/../lib/libLibQuorvex.so.1");
    const QString installed = bin + QStringLiteral("/" QUORVEX_LIB_FROM_BIN "/libLibQuorvex.so.1");
    return QFileInfo::exists(built) || !QFileInfo::exists(installed) ? built : installed;
}

QString connectOptionsHelp()
{
    QStringList lines;
    for (const QString &l : linkOptionsHelp().split(QLatin1Char('\n')))
        lines << QStringLiteral("  ;") + l;
    return QStringLiteral("The connection string may end in options, each after a \";\", e.g.\n"
                          "  --connect \"192.168.1.10:44818;slot=3;timeout=2000\":\n") +
           lines.join(QLatin1Char('\n'));
}

QString failureText(const Outcome &o)
{
    QString why;
    for (const QString &w : o.warnings) {
        const QString e = explainDriverLine(w);
        if (!e.isEmpty())
            why = e; // the last one decided the outcome
    }
    if (why.isEmpty())
        why = statusAdvice(o.value.status);
    QString t =
        QStringLiteral("status %1 (%2)").arg(o.value.status).arg(statusMeaning(o.value.status));
    if (!why.isEmpty())
        t += QStringLiteral(": ") + why;
    for (const QString &w : o.warnings)
        t += QStringLiteral("\n  driver: ") + w;
    return t;
}

ConnectVerdict diagnoseConnect(const QString &connection, int result, const QStringList &lines,
                               qint64 elapsedMs)
{
    ConnectFacts f;
    f.connection = connection;
    f.result = result;
    f.lines = lines;
    f.elapsedMs = elapsedMs;
    const ConnectionString c = parseConnectionString(connection);
    if (probeWanted(f)) {
        QTcpSocket probe;
        probe.connectToHost(c.ipAddress, static_cast<quint16>(c.ipPort));
        if (probe.waitForConnected(ProbeWaitMs)) {
            f.probe = Probe::Connected;
            probe.abort();
        } else if (probe.error() == QAbstractSocket::ConnectionRefusedError) {
            f.probe = Probe::Refused;
        } else if (probe.error() == QAbstractSocket::SocketTimeoutError) {
            f.probe = Probe::TimedOut;
        } else {
            f.probe = Probe::Unreachable;
            f.osError = probe.errorString();
        }
    } else if (result == -1 && c.form == ConnectionString::Form::Serial && c.usable()) {
        const QByteArray name = QFile::encodeName(c.portName);
        const int fd = ::open(name.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        termios settings;
        if (fd < 0) {
            f.osError = QString::fromLocal8Bit(std::strerror(errno));
        } else {
            // A file that opens but takes no line settings (/dev/null, a
            // plain file) is what the driver failed on.
            if (::tcgetattr(fd, &settings) != 0)
                f.osError = QStringLiteral("not a serial port (%1)")
                                .arg(QString::fromLocal8Bit(std::strerror(errno)));
            ::close(fd);
        }
    }
    return explainConnect(f);
}

void addHostOptions(QCommandLineParser &p, bool withConnect)
{
    p.addOption({QStringLiteral("driver"),
                 QStringLiteral("The plug-in to load (default: %1).")
                     .arg(QStringLiteral("<dir of quorvex>/../lib/libLibQuorvex.so.1")),
                 QStringLiteral("path")});
    if (withConnect)
        p.addOption(
            {QStringLiteral("connect"),
             QStringLiteral("Connection string: ADDRESS:PORT or the serial form "
                            "PORT,BAUD,DATABITS,STOPBITS,PARITY, then ;options (listed above)."),
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

int DriverHost::connect(const QString &connection)
{
    if (pcap)
        setPcapEndpoints(*pcap, connection);
    // Traced for the tool's eyes, so that a failure can say how far it got.
    TraceTap::instance().beginCall(true, !traceOn);
    if (!traceOn)
        drv->DebugCmd(DBG_StartDebug);
    QElapsedTimer clock;
    clock.start();
    const int rc = drv->ConnectDrive(connection);
    const qint64 elapsed = clock.elapsed();
    if (!traceOn)
        drv->DebugCmd(DBG_StopDebug);
    const QStringList lines = TraceTap::instance().endCall();
    if (rc == 0)
        return ExitOk;
    const ConnectVerdict v = diagnoseConnect(connection, rc, lines, elapsed);
    std::fprintf(stderr, "quorvex %s: cannot connect to %s: %s\n", command, qPrintable(connection),
                 v.text.toUtf8().constData());
    for (const QString &l : lines)
        if (!explainDriverLine(l).isEmpty())
            std::fprintf(stderr, "  driver: %s\n", l.toUtf8().constData());
    return v.exitCode;
}

Outcome DriverHost::read(const QString &tag, DataType type, int count)
{
    Outcome o;
    TraceTap::instance().beginCall(false);
    o.value = drv->ReadVariable(tag, type, count);
    o.warnings = TraceTap::instance().endCall();
    return o;
}

Outcome DriverHost::write(const QString &tag, DataType type, const CLabelVariable &value, int count)
{
    Outcome o;
    TraceTap::instance().beginCall(false);
    o.value = drv->WriteVariable(tag, type, value, count);
    o.warnings = TraceTap::instance().endCall();
    return o;
}

} // namespace tools
