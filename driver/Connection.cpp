#include "ConnectionString.h"
#include "LibQuorvex.h"

#include <QDebug>

void LibQuorvex::SetConnectPar(QString text)
{
    connectPar = text.toUInt(nullptr, 10);
}

int LibQuorvex::ConnectDrive(QString text)
{
    const ConnectionString c = parseConnectionString(text);
    if (c.form != ConnectionString::Form::None) {
        // A refused string leaves no options of an earlier one behind.
        options = c.optionsValid ? c.options : LinkOptions();
        writeEnabled = options.write;
        if (!c.optionsValid)
            qWarning().noquote() << QStringLiteral("lib[Quorvex]连接参数无效 %1 : %2")
                                        .arg(c.optionError.option, c.optionError.reason);
    }
    switch (c.form) {
    case ConnectionString::Form::Serial:
        // Each form overwrites only its own fields.
        portName = c.portName;
        baudRate = c.baudRate;
        dataBits = c.dataBits;
        stopBits = c.stopBits;
        parity = c.parity;
        // A refused string does not change which transport a disconnect
        // closes: that stays the one the last usable string opened.
        if (!c.usable())
            return -1;
        lastNamed = Named::Serial;
        link.setOptions(options);
        return link.serialConnectDrive(portName, baudRate, dataBits, stopBits, parity);
    case ConnectionString::Form::Network:
        ipAddress = c.ipAddress;
        ipPort = c.ipPort;
        if (!c.usable())
            return -1;
        lastNamed = Named::Network;
        link.setOptions(options);
        return link.EthConnectDrive(ipAddress, ipPort);
    case ConnectionString::Form::None:
        break;
    }
    return -4;
}

int LibQuorvex::DisConnectDrive()
{
    // The transport the last usable string named is the one to close; a
    // refused string after it may have overwritten the fields.
    switch (lastNamed) {
    case Named::Network:
        return link.EthDisConnectDrive();
    case Named::Serial:
        return link.serialDisConnectDrive();
    case Named::None:
        break;
    }
    return 1;
}
