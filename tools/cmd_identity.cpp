#include "CmdQuorvex.h"
#include "Commands.h"
#include "ConnectionString.h"
#include "DriverHost.h"
#include "TraceTap.h"

#include <QElapsedTimer>

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

namespace tools
{

namespace
{

QString hex(quint32 v, int digits)
{
    return QStringLiteral("0x%1").arg(v, digits, 16, QLatin1Char('0'));
}

QJsonObject toJson(const identity::DeviceIdentity &d)
{
    QJsonObject o;
    o.insert(QStringLiteral("vendor"), d.vendor);
    o.insert(QStringLiteral("device_type"), d.deviceType);
    o.insert(QStringLiteral("product_code"), d.productCode);
    o.insert(QStringLiteral("revision"),
             QStringLiteral("%1.%2").arg(d.revisionMajor).arg(d.revisionMinor));
    o.insert(QStringLiteral("status"), hex(d.status, 4));
    o.insert(QStringLiteral("serial_number"), hex(d.serialNumber, 8));
    o.insert(QStringLiteral("product_name"), QString::fromUtf8(d.productName));
    return o;
}

void printTable(const char *title, const identity::DeviceIdentity &d)
{
    std::printf("%s:\n", title);
    std::printf("  vendor id      %u\n", d.vendor);
    std::printf("  device type    %u\n", d.deviceType);
    std::printf("  product code   %u\n", d.productCode);
    std::printf("  revision       %u.%u\n", d.revisionMajor, d.revisionMinor);
    std::printf("  status         %s\n", qPrintable(hex(d.status, 4)));
    std::printf("  serial number  %s\n", qPrintable(hex(d.serialNumber, 8)));
    std::printf("  product name   %s\n", d.productName.constData());
}

const char *failureText(int rc)
{
    switch (rc) {
    case -2:
        return "no reply";
    case -3:
        return "not connected";
    default:
        return "reply rejected";
    }
}

// The failure, what the link's last line says of it, and the lines.
void reportFailure(const char *what, int rc, const QStringList &lines)
{
    QString why;
    for (const QString &l : lines)
        if (!explainDriverLine(l).isEmpty())
            why = explainDriverLine(l);
    std::fprintf(stderr, "quorvex identity: %s: %s%s\n", what, failureText(rc),
                 why.isEmpty() ? "" : qPrintable(QStringLiteral(": ") + why));
    for (const QString &l : lines)
        std::fprintf(stderr, "  driver: %s\n", l.toUtf8().constData());
}

int connectLink(CmdQuorvex &link, const ConnectionString &c)
{
    link.setOptions(c.options);
    if (c.form == ConnectionString::Form::Serial)
        return link.serialConnectDrive(c.portName, c.baudRate, c.dataBits, c.stopBits, c.parity);
    return link.EthConnectDrive(c.ipAddress, c.ipPort);
}

} // namespace

int runIdentity(const QStringList &args)
{
    QCommandLineParser p;
    p.setApplicationDescription(
        QStringLiteral(
            "Asks the controller who it is, by ListIdentity and by the Identity object, and\n"
            "prints both answers (or one JSON object with --json).\n"
            "Exit status: 0 both answered, 1 either or the connection failed, 2 bad "
            "arguments.\n\n") +
        connectOptionsHelp());
    p.addOption(
        {QStringLiteral("connect"),
         QStringLiteral("Connection string: ADDRESS:PORT or the serial form "
                        "PORT,BAUD,DATABITS,STOPBITS,PARITY, then ;options (listed above)."),
         QStringLiteral("string")});
    p.addOption({QStringLiteral("json"), QStringLiteral("One JSON object with both answers.")});
    int exitCode = 0;
    if (!parseCommandLine(p, "identity", args, &exitCode))
        return exitCode;
    const QString connection = p.value(QStringLiteral("connect"));
    if (connection.isEmpty())
        return usageError("identity", QStringLiteral("--connect needs a usable connection string"));
    const ConnectionString c = parseConnectionString(connection);
    if (!c.usable())
        return usageError("identity", QStringLiteral("--connect: ") +
                                          diagnoseConnect(connection, -1, {}, 0).text);

    CmdQuorvex link;
    // The link's lines go through the tool's handler, traced for the tool's
    // eyes during the connect, so that a failure can say how far it got.
    TraceTap::instance().install();
    TraceTap::instance().beginCall(true, true);
    link.traceEnabled = true;
    QElapsedTimer clock;
    clock.start();
    const int rc = connectLink(link, c);
    const qint64 elapsed = clock.elapsed();
    link.traceEnabled = false;
    const QStringList lines = TraceTap::instance().endCall();
    if (rc != 0) {
        const ConnectVerdict v = diagnoseConnect(connection, rc, lines, elapsed);
        std::fprintf(stderr, "quorvex identity: cannot connect to %s: %s\n", qPrintable(connection),
                     v.text.toUtf8().constData());
        return v.exitCode;
    }
    identity::ListedIdentity listed;
    identity::DeviceIdentity object;
    TraceTap::instance().beginCall(false);
    const int listRc = link.listIdentity(&listed);
    const QStringList listLines = TraceTap::instance().endCall();
    TraceTap::instance().beginCall(false);
    const int objectRc = link.readIdentity(&object);
    const QStringList objectLines = TraceTap::instance().endCall();
    if (c.form == ConnectionString::Form::Serial)
        link.serialDisConnectDrive();
    else
        link.EthDisConnectDrive();

    if (p.isSet(QStringLiteral("json"))) {
        QJsonObject o;
        if (listRc == 0) {
            QJsonObject l = toJson(listed.device);
            l.insert(QStringLiteral("state"), listed.state);
            o.insert(QStringLiteral("list_identity"), l);
        }
        if (objectRc == 0)
            o.insert(QStringLiteral("identity_object"), toJson(object));
        std::printf("%s\n", QJsonDocument(o).toJson(QJsonDocument::Compact).constData());
    } else {
        if (listRc == 0)
            printTable("ListIdentity", listed.device);
        if (objectRc == 0)
            printTable("Identity object", object);
    }
    if (listRc != 0)
        reportFailure("ListIdentity", listRc, listLines);
    if (objectRc != 0)
        reportFailure("Identity object", objectRc, objectLines);
    return listRc == 0 && objectRc == 0 ? ExitOk : ExitFailure;
}

} // namespace tools
