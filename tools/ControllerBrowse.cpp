#include "ControllerBrowse.h"

#include "EipProtocol.h"

namespace tools
{

QString BrowsedTag::path() const
{
    return scope.isEmpty()
               ? symbol.name
               : QLatin1String(cip::ProgramPrefix) + scope + QLatin1Char('.') + symbol.name;
}

QString atomicTypeName(quint16 code)
{
    switch (code) {
    case cip::TypeBool:
        return QStringLiteral("BOOL");
    case cip::TypeSint:
        return QStringLiteral("SINT");
    case cip::TypeInt:
        return QStringLiteral("INT");
    case cip::TypeDint:
        return QStringLiteral("DINT");
    case cip::TypeLint:
        return QStringLiteral("LINT");
    case cip::TypeUsint:
        return QStringLiteral("USINT");
    case cip::TypeUint:
        return QStringLiteral("UINT");
    case cip::TypeUdint:
        return QStringLiteral("UDINT");
    case cip::TypeUlint:
        return QStringLiteral("ULINT");
    case cip::TypeReal:
        return QStringLiteral("REAL");
    case cip::TypeLreal:
        return QStringLiteral("LREAL");
    case cip::TypeDword:
        return QStringLiteral("DWORD");
    default:
        return QStringLiteral("type 0x%1").arg(code, 2, 16, QLatin1Char('0'));
    }
}

ControllerBrowse::~ControllerBrowse()
{
    if (connected) {
        link.closeConnection();
        link.EthDisConnectDrive();
    }
}

bool ControllerBrowse::open(const QString &connection, QString *error)
{
    const int semi = connection.indexOf(QLatin1Char(';'));
    const QString address = semi < 0 ? connection : connection.left(semi);
    LinkOptions options;
    OptionError optionError;
    if (semi >= 0 && !parseLinkOptions(connection.mid(semi + 1), &options, &optionError)) {
        *error = QStringLiteral("option %1: %2").arg(optionError.option, optionError.reason);
        return false;
    }
    const int colon = address.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    const int port = colon < 0 ? 0 : address.mid(colon + 1).toInt(&portOk);
    if (colon <= 0 || !portOk || port <= 0 || port > 0xFFFF) {
        *error = QStringLiteral("browsing needs ADDRESS:PORT, not %1").arg(address);
        return false;
    }
    link.setOptions(options);
    if (link.EthConnectDrive(address.left(colon), port) != 0) {
        *error = QStringLiteral("cannot connect to %1").arg(address);
        return false;
    }
    connected = true;
    return true;
}

browse::MrExchange ControllerBrowse::exchange()
{
    return [this](const QByteArray &request, QByteArray &reply) {
        return link.exchangeCip(request, reply, QStringLiteral("browse"), 1);
    };
}

bool ControllerBrowse::listScope(const QString &program, QVector<BrowsedTag> *out, QString *error)
{
    const browse::SymbolList list = browse::listSymbols(exchange(), program);
    if (!list.ok) {
        *error = list.error;
        return false;
    }
    for (const browse::SymbolEntry &e : list.symbols) {
        if (e.isStruct() && !cache.fetch(exchange(), e.templateId())) {
            *error = cache.error();
            return false;
        }
        BrowsedTag t;
        t.scope = program;
        t.symbol = e;
        out->append(t);
    }
    return true;
}

bool ControllerBrowse::listTags(const QString &program, bool allPrograms, QVector<BrowsedTag> *out,
                                QString *error)
{
    QVector<BrowsedTag> controller;
    if (!listScope(QString(), &controller, error))
        return false;
    QStringList programs;
    for (const BrowsedTag &t : controller) {
        if (t.symbol.name.startsWith(QLatin1String(cip::ProgramPrefix)))
            programs.append(t.symbol.name.mid(int(sizeof(cip::ProgramPrefix)) - 1));
        else
            out->append(t);
    }
    if (!program.isEmpty())
        programs = QStringList{program};
    else if (!allPrograms)
        programs.clear();
    for (const QString &p : programs)
        if (!listScope(p, out, error))
            return false;
    return true;
}

QString ControllerBrowse::typeName(quint16 typeWord) const
{
    if (typeWord & cip::SymbolStructBit) {
        const browse::StructType *s = cache.find(typeWord & cip::SymbolTemplateMask);
        return s ? s->name : QStringLiteral("structure");
    }
    return atomicTypeName(typeWord & cip::SymbolAtomicMask);
}

} // namespace tools
