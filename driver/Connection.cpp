#include "LibQuorvex.h"

namespace
{

// Takes the text before the first "," and removes it with its ",". With no
// "," left the whole rest is the field and stays, so a short serial string
// repeats its last field into the later positions.
QString takeField(QString &rest)
{
    const int comma = rest.indexOf(QLatin1Char(','));
    if (comma < 0)
        return rest;
    const QString field = rest.left(comma);
    rest.remove(0, comma + 1);
    return field;
}

constexpr int MaxTcpPort = 65535;

} // namespace

void LibQuorvex::SetConnectPar(QString text)
{
    connectPar = text.toUInt(nullptr, 10);
}

int LibQuorvex::ConnectDrive(QString text)
{
    if (text.contains(QLatin1Char(','))) {
        portName = takeField(text);
        baudRate = takeField(text).toInt(nullptr, 10);
        dataBits = takeField(text).toInt(nullptr, 10);
        stopBits = takeField(text).toInt(nullptr, 10);
        parity = takeField(text);
        lastNamed = Named::Serial;
        if (portName.isEmpty() || baudRate == 0 || dataBits == 0 || stopBits == 0)
            return -1;
        return link.serialConnectDrive(portName, baudRate, dataBits, stopBits, parity);
    }
    if (text.contains(QLatin1Char(':')) || text.contains(QLatin1Char(';'))) {
        const int colon = text.indexOf(QLatin1Char(':'));
        ipAddress = colon < 0 ? text : text.left(colon);
        ipPort = (colon < 0 ? text : text.mid(colon + 1)).toInt(nullptr, 10);
        lastNamed = Named::Network;
        // A port outside 1..65535 would otherwise be cut to its low 16 bits
        // and connect somewhere the host never asked for.
        if (ipAddress.isEmpty() || ipPort <= 0 || ipPort > MaxTcpPort)
            return -1;
        return link.EthConnectDrive(ipAddress, ipPort);
    }
    return -4;
}

int LibQuorvex::DisConnectDrive()
{
    switch (lastNamed) {
    case Named::Network:
        if (ipPort > 0)
            return link.EthDisConnectDrive();
        break;
    case Named::Serial:
        if (baudRate > 0 && dataBits != 0 && stopBits != 0)
            return link.serialDisConnectDrive();
        break;
    case Named::None:
        break;
    }
    return 1;
}
