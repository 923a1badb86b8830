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

void parseNetwork(const QString &text, ConnectionString &c)
{
    c.form = ConnectionString::Form::Network;
    const int colon = text.indexOf(QLatin1Char(':'));
    c.ipAddress = colon < 0 ? text : text.left(colon);
    c.ipPort = (colon < 0 ? text : text.mid(colon + 1)).toInt(nullptr, 10);
}

} // namespace

ConnectionString parseConnectionString(QString text)
{
    ConnectionString c;
    // Option values may hold "," and ":", so only the text before the first
    // ";" decides the form.
    const int semicolon = text.indexOf(QLatin1Char(';'));
    QString head = semicolon < 0 ? text : text.left(semicolon);
    const bool serial = head.contains(QLatin1Char(','));
    if (serial) {
        c.form = ConnectionString::Form::Serial;
        c.portName = takeField(head);
        c.baudRate = takeField(head).toInt(nullptr, 10);
        c.dataBits = takeField(head).toInt(nullptr, 10);
        c.stopBits = takeField(head).toInt(nullptr, 10);
        c.parity = takeField(head);
    } else if (head.contains(QLatin1Char(':'))) {
        parseNetwork(head, c);
    } else if (semicolon >= 0) {
        // Read as it always was, and refused as it always was.
        parseNetwork(text, c);
        c.semicolonFirst = true;
        return c;
    }
    if (semicolon >= 0)
        c.optionsValid = parseLinkOptions(text.mid(semicolon + 1), &c.options, &c.optionError);
    return c;
}

bool ConnectionString::usable() const
{
    if (!optionsValid || semicolonFirst)
        return false;
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
