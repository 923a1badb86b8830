#include "ControllerBrowse.h"

#include "Commands.h"
#include "ConnectionString.h"
#include "DriverHost.h"
#include "EipProtocol.h"
#include "Explain.h"
#include "Messaging.h"
#include "TraceTap.h"

#include <QElapsedTimer>

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
    if (const char *name = cip::elementaryTypeName(code))
        return QLatin1String(name);
    return QStringLiteral("type 0x%1").arg(code, 2, 16, QLatin1Char('0'));
}

ControllerBrowse::~ControllerBrowse()
{
    if (connected) {
        link.closeConnection();
        link.EthDisConnectDrive();
    }
}

bool ControllerBrowse::open(const QString &connection, QString *error, int *exitCode)
{
    int failure = ExitUsage;
    const ConnectionString c = parseConnectionString(connection);
    if (c.form == ConnectionString::Form::Serial) {
        *error = QStringLiteral("tags are browsed over TCP only, not over %1").arg(connection);
    } else if (c.form != ConnectionString::Form::None && c.optionsValid && !c.semicolonFirst &&
               c.usable()) {
        link.setOptions(c.options);
        // Traced for the tool's eyes, so that a failure can say how far it got.
        const bool traced = link.traceEnabled;
        link.traceEnabled = true;
        TraceTap::instance().beginCall(true, !traced);
        QElapsedTimer clock;
        clock.start();
        const int rc = link.EthConnectDrive(c.ipAddress, c.ipPort);
        const qint64 elapsed = clock.elapsed();
        const QStringList lines = TraceTap::instance().endCall();
        link.traceEnabled = traced;
        if (rc == 0) {
            connected = true;
            return true;
        }
        const ConnectVerdict v = diagnoseConnect(connection, rc, lines, elapsed);
        *error = QStringLiteral("cannot connect to %1: %2").arg(connection, v.text);
        failure = v.exitCode;
    } else {
        *error = QStringLiteral("cannot connect to %1: %2")
                     .arg(connection, diagnoseConnect(connection, -1, {}, 0).text);
    }
    if (exitCode)
        *exitCode = failure;
    return false;
}

browse::MrExchange ControllerBrowse::exchange()
{
    return [this](const QByteArray &request, QByteArray &reply) {
        const int rc = link.exchangeCip(request, reply, QStringLiteral("browse"), 1);
        lastReply = reply;
        return rc;
    };
}

QString ControllerBrowse::refusal(const QString &error, const QString &program) const
{
    const messaging::MrReply m = messaging::parseMrReply(lastReply);
    if (m.verdict != messaging::Verdict::Ok || m.generalStatus == cip::Success ||
        m.generalStatus == cip::PartialTransfer)
        return error;
    QString what = error.section(QLatin1Char(':'), 0, 0);
    if (!program.isEmpty())
        what += QStringLiteral(" of program %1").arg(program);
    if (!program.isEmpty() && m.generalStatus == cip::PathDestinationUnknown && m.ext.isEmpty())
        return QStringLiteral("%1: the controller has no program named %2 (%3)")
            .arg(what, program, cipStatusText(m.generalStatus, m.ext));
    return QStringLiteral("%1: the controller answered %2")
        .arg(what, cipStatusText(m.generalStatus, m.ext));
}

bool ControllerBrowse::listScope(const QString &program, QVector<BrowsedTag> *out, QString *error)
{
    const browse::SymbolList list = browse::listSymbols(exchange(), program);
    if (!list.ok) {
        *error = refusal(list.error, program);
        return false;
    }
    for (const browse::SymbolEntry &e : list.symbols) {
        if (e.isStruct() && !cache.fetch(exchange(), e.templateId())) {
            *error = refusal(cache.error(), QString());
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
    // The words of a BOOL array are the controller's way of holding it.
    if (browse::isBoolArrayType(typeWord))
        return atomicTypeName(cip::TypeBool);
    return atomicTypeName(typeWord & cip::SymbolAtomicMask);
}

} // namespace tools
