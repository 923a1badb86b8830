#include "ConnectionString.h"
#include "LibQuorvex.h"

void LibQuorvex::SetConnectPar(QString text)
{
    connectPar = text.toUInt(nullptr, 10);
}

int LibQuorvex::ConnectDrive(QString text)
{
    const ConnectionString c = parseConnectionString(text);
    if (c.form != ConnectionString::Form::None)
        writeEnabled = c.write;
    switch (c.form) {
    case ConnectionString::Form::Serial:
        // Each form overwrites only its own fields.
        portName = c.portName;
        baudRate = c.baudRate;
        dataBits = c.dataBits;
        stopBits = c.stopBits;
        parity = c.parity;
        lastNamed = Named::Serial;
        if (!c.usable())
            return -1;
        return link.serialConnectDrive(portName, baudRate, dataBits, stopBits, parity);
    case ConnectionString::Form::Network:
        ipAddress = c.ipAddress;
        ipPort = c.ipPort;
        lastNamed = Named::Network;
        if (!c.usable())
            return -1;
        return link.EthConnectDrive(ipAddress, ipPort);
    case ConnectionString::Form::None:
        break;
    }
    return -4;
}

int LibQuorvex::DisConnectDrive()
{
    // The transport the last parsed string named is the one to close.
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
