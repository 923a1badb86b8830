#include "IdentityService.h"

#include "ByteOrder.h"
#include "CipService.h"
#include "EipProtocol.h"

#include <QJsonObject>

namespace qsim
{

namespace
{

// The socket address a ListIdentity reply names: IPv4, the registered
// EtherNet/IP port, the loopback address the simulator listens on.
constexpr quint16 AddressFamilyInet = 2;
constexpr quint16 EncapsulationPort = 44818;
constexpr quint32 LoopbackAddress = 0x7F000001;
// Operational, as a controller that runs its program reports.
constexpr quint8 StateOperational = 3;

QByteArray logicalPath()
{
    QByteArray p;
    le::put8(p, cip::SegClass8);
    le::put8(p, cip::IdentityClass);
    le::put8(p, cip::SegInstance8);
    le::put8(p, cip::IdentityInstance);
    return p;
}

QByteArray attributeData(quint8 attribute, const identity::DeviceIdentity &d)
{
    QByteArray out;
    switch (attribute) {
    case cip::AttrVendor:
        le::put16(out, d.vendor);
        break;
    case cip::AttrDeviceType:
        le::put16(out, d.deviceType);
        break;
    case cip::AttrProductCode:
        le::put16(out, d.productCode);
        break;
    case cip::AttrRevision:
        le::put8(out, d.revisionMajor);
        le::put8(out, d.revisionMinor);
        break;
    case cip::AttrStatus:
        le::put16(out, d.status);
        break;
    case cip::AttrSerialNumber:
        le::put32(out, d.serialNumber);
        break;
    case cip::AttrProductName:
        le::put8(out, static_cast<quint8>(d.productName.left(0xFF).size()));
        out += d.productName.left(0xFF);
        break;
    default:
        break;
    }
    return out;
}

QByteArray success(quint8 service, const QByteArray &data)
{
    QByteArray reply;
    le::put8(reply, service | cip::ReplyBit);
    le::put8(reply, 0);
    le::put8(reply, cip::Success);
    le::put8(reply, 0);
    return reply + data;
}

// The identity fields in wire order, as both replies carry them.
QByteArray encodeIdentity(const identity::DeviceIdentity &d)
{
    QByteArray out;
    le::put16(out, d.vendor);
    le::put16(out, d.deviceType);
    le::put16(out, d.productCode);
    le::put8(out, d.revisionMajor);
    le::put8(out, d.revisionMinor);
    le::put16(out, d.status);
    le::put32(out, d.serialNumber);
    const QByteArray name = d.productName.left(0xFF);
    le::put8(out, static_cast<quint8>(name.size()));
    out.append(name);
    return out;
}

bool number(const QJsonObject &o, const char *key, qint64 max, qint64 *out, QString *error)
{
    const QJsonValue v = o.value(QLatin1String(key));
    if (v.isUndefined())
        return true;
    bool ok = false;
    qint64 n = -1;
    if (v.isDouble()) {
        const double x = v.toDouble();
        ok = x == static_cast<double>(static_cast<qint64>(x));
        n = static_cast<qint64>(x);
    } else if (v.isString()) {
        n = v.toString().toLongLong(&ok, 0);
    }
    if (!ok || n < 0 || n > max) {
        *error = QStringLiteral("identity: \"%1\" must be 0..%2").arg(QLatin1String(key)).arg(max);
        return false;
    }
    *out = n;
    return true;
}

} // namespace

identity::DeviceIdentity defaultIdentity()
{
    identity::DeviceIdentity d;
    d.vendor = 0x0001;
    d.deviceType = 0x000E; // programmable logic controller
    d.productCode = 0x0001;
    d.revisionMajor = 1;
    d.revisionMinor = 5;
    d.status = 0x0060;
    d.serialNumber = 0x00C0FFEE;
    d.productName = QByteArrayLiteral("Quorvex Simulator");
    return d;
}

QByteArray listIdentityData(const identity::DeviceIdentity &d)
{
    QByteArray item;
    le::put16(item, eip::ProtocolVersion);
    le::putBig16(item, AddressFamilyInet);
    le::putBig16(item, EncapsulationPort);
    le::putBig32(item, LoopbackAddress);
    item.append(eip::SocketAddressPadding, '\0');
    item += encodeIdentity(d);
    le::put8(item, StateOperational);
    QByteArray data;
    le::put16(data, 1);
    le::put16(data, eip::ItemCipIdentity);
    le::put16(data, static_cast<quint16>(item.size()));
    return data + item;
}

bool isIdentityPath(const QByteArray &path, quint8 *attribute)
{
    const QByteArray object = logicalPath();
    if (!attribute)
        return path == object;
    if (path.size() != object.size() + 2 || !path.startsWith(object) ||
        static_cast<quint8>(path.at(object.size())) != cip::SegAttribute8)
        return false;
    *attribute = static_cast<quint8>(path.at(object.size() + 1));
    return true;
}

QByteArray identityService(quint8 service, const QByteArray &path,
                           const identity::DeviceIdentity &d)
{
    if (service == cip::GetAttributesAll) {
        if (!isIdentityPath(path))
            return cipError(service, cip::PathDestinationUnknown);
        return success(service, encodeIdentity(d));
    }
    quint8 attribute = 0;
    if (!isIdentityPath(path, &attribute))
        return cipError(service, cip::PathDestinationUnknown);
    const QByteArray data = attributeData(attribute, d);
    if (data.isEmpty())
        return cipError(service, cip::AttributeNotSupported);
    return success(service, data);
}

bool loadIdentity(const QJsonValue &v, identity::DeviceIdentity *d, QString *error)
{
    if (v.isUndefined())
        return true;
    if (!v.isObject()) {
        *error = QStringLiteral("\"identity\" must be an object");
        return false;
    }
    const QJsonObject o = v.toObject();
    qint64 vendor = d->vendor, type = d->deviceType, code = d->productCode,
           serial = d->serialNumber, status = d->status;
    if (!number(o, "vendor", 0xFFFF, &vendor, error) ||
        !number(o, "device_type", 0xFFFF, &type, error) ||
        !number(o, "product_code", 0xFFFF, &code, error) ||
        !number(o, "status", 0xFFFF, &status, error) ||
        !number(o, "serial_number", 0xFFFFFFFFLL, &serial, error))
        return false;
    const QJsonValue revision = o.value(QLatin1String("revision"));
    int major = d->revisionMajor, minor = d->revisionMinor;
    if (!revision.isUndefined()) {
        const QStringList parts = revision.toString().split(QLatin1Char('.'));
        bool okMajor = false, okMinor = false;
        if (parts.size() == 2) {
            major = parts.at(0).toInt(&okMajor);
            minor = parts.at(1).toInt(&okMinor);
        }
        if (!okMajor || !okMinor || major < 0 || major > 0xFF || minor < 0 || minor > 0xFF) {
            *error = QStringLiteral("identity: \"revision\" must be \"MAJOR.MINOR\", each 0..255");
            return false;
        }
    }
    const QJsonValue name = o.value(QLatin1String("product_name"));
    if (!name.isUndefined()) {
        const QByteArray bytes = name.toString().toUtf8();
        if (!name.isString() || bytes.size() > 0xFF) {
            *error =
                QStringLiteral("identity: \"product_name\" must be a text of at most 255 bytes");
            return false;
        }
        d->productName = bytes;
    }
    d->vendor = static_cast<quint16>(vendor);
    d->deviceType = static_cast<quint16>(type);
    d->productCode = static_cast<quint16>(code);
    d->status = static_cast<quint16>(status);
    d->serialNumber = static_cast<quint32>(serial);
    d->revisionMajor = static_cast<quint8>(major);
    d->revisionMinor = static_cast<quint8>(minor);
    return true;
}

} // namespace qsim
