#include "StatusText.h"

namespace tools
{

QString statusMeaning(int status)
{
    switch (status) {
    case 0:
        return QStringLiteral("ok");
    case 1:
        return QStringLiteral("no result");
    case 2:
        return QStringLiteral("unsupported data type");
    case 3:
        return QStringLiteral("address refused");
    case 4:
        return QStringLiteral("count out of range");
    case 7:
        return QStringLiteral("reply rejected");
    case 8:
        return QStringLiteral("no reply");
    case 9:
        return QStringLiteral("not connected");
    case 10:
        return QStringLiteral("index out of range");
    case 11:
        return QStringLiteral("wrong element type");
    default:
        return QStringLiteral("unknown status");
    }
}

QString connectMeaning(int result)
{
    switch (result) {
    case 0:
        return QStringLiteral("connected");
    case -1:
        return QStringLiteral("bad connection string (address not an IP address, port 0, empty "
                              "field) or the serial port could not be opened");
    case -3:
        return QStringLiteral("could not connect to the controller, or it did not answer the "
                              "session registration");
    case -4:
        return QStringLiteral("the connection string is neither ADDRESS:PORT nor "
                              "PORT,BAUD,DATABITS,STOPBITS,PARITY");
    default:
        return QStringLiteral("unexpected connect result");
    }
}

} // namespace tools
