#include "CmdQuorvex.h"
#include "Commands.h"
#include "ConnectionString.h"
#include "DriverHost.h"

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
    p.setApplicationDescription(QStringLiteral(
        "Asks the controller who it is, by ListIdentity and by the Identity object, and\n"
        "prints both answers (or one JSON object with --json).\n"
        "Exit status: 0 both answered, 1 either or the connection failed, 2 bad arguments."));
    p.addOption({QStringLiteral("connect"),
                 QStringLiteral("Connection string: ADDRESS:PORT, or the serial form "
                                "PORT,BAUD,DATABITS,STOPBITS,PARITY."),
                 QStringLiteral("string")});
    p.addOption({QStringLiteral("json"), QStringLiteral("One JSON object with both answers.")});
    int exitCode = 0;
    if (!parseCommandLine(p, "identity", args, &exitCode))
        return exitCode;
    const ConnectionString c = parseConnectionString(p.value(QStringLiteral("connect")));
    if (!c.optionsValid)
        return usageError("identity", QStringLiteral("--connect option %1: %2")
                                          .arg(c.optionError.option, c.optionError.reason));
    if (!c.usable())
        return usageError("identity", QStringLiteral("--connect needs a usable connection string"));

    CmdQuorvex link;
    if (connectLink(link, c) != 0) {
        std::fprintf(stderr, "quorvex identity: cannot connect to %s\n",
                     qPrintable(p.value(QStringLiteral("connect"))));
        return ExitFailure;
    }
    identity::ListedIdentity listed;
    identity::DeviceIdentity object;
    const int listRc = link.listIdentity(&listed);
    const int objectRc = link.readIdentity(&object);
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
        std::fprintf(stderr, "quorvex identity: ListIdentity: %s\n", failureText(listRc));
    if (objectRc != 0)
        std::fprintf(stderr, "quorvex identity: Identity object: %s\n", failureText(objectRc));
    return listRc == 0 && objectRc == 0 ? ExitOk : ExitFailure;
}

} // namespace tools
