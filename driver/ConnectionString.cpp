#include "ConnectionString.h"

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

ConnectionString parseConnectionString(QString text)
{
    ConnectionString c;
    // A ";" admits the string to the network form even when all that
    // follows it are options.
    const bool semicolon = text.contains(QLatin1Char(';'));
    takeWriteOption(text, &c.write);
    if (text.contains(QLatin1Char(','))) {
        c.form = ConnectionString::Form::Serial;
        c.portName = takeField(text);
        c.baudRate = takeField(text).toInt(nullptr, 10);
        c.dataBits = takeField(text).toInt(nullptr, 10);
        c.stopBits = takeField(text).toInt(nullptr, 10);
        c.parity = takeField(text);
    } else if (text.contains(QLatin1Char(':')) || semicolon) {
        c.form = ConnectionString::Form::Network;
        const int colon = text.indexOf(QLatin1Char(':'));
        c.ipAddress = colon < 0 ? text : text.left(colon);
        c.ipPort = (colon < 0 ? text : text.mid(colon + 1)).toInt(nullptr, 10);
    }
    return c;
}

bool ConnectionString::usable() const
{
    switch (form) {
    case Form::Serial:
        return !portName.isEmpty() && baudRate != 0 && dataBits != 0 && stopBits != 0;
    case Form::Network:
        // A port outside 1..65535 would otherwise be cut to its low 16 bits
        // and connect somewhere the host never asked for.
        return !ipAddress.isEmpty() && ipPort > 0 && ipPort <= MaxTcpPort;
    case Form::None:
        break;
    }
    return false;
}
