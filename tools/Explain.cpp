#include "Explain.h"

#include "ConnectionString.h"
#include "EipProtocol.h"
#include "LinkOptions.h"
#include "Messaging.h"
#include "TagRequest.h"

#include <QHostAddress>
#include <QRegularExpression>

namespace tools
{

namespace
{

// The driver's reply wait without ;timeout=: 500 ms for the first bytes,
// then 50 ms more.
constexpr int DefaultReplyWaitMs = 550;
// A refused or unreachable port answers at once; a connect that took
// longer than this waited for a host that did not answer.
constexpr int QuickFailureMs = 2000;

struct Words {
    quint32 code;
    const char *text;
};

// General statuses, as the protocol names them, with what they mean for a
// tag read or write.
const Words GeneralWords[] = {
    {cip::Success, "success"},
    {cip::ConnectionFailure, "connection failure"},
    {cip::ResourceUnavailable,
     "resource unavailable: the controller has too many requests at once; try a smaller window="},
    {cip::PathSegmentError, "path segment error: the controller does not take this address (an "
                            "index on a scalar, more indexes than dimensions)"},
    {cip::PathDestinationUnknown, "path destination unknown: no such tag or member"},
    {cip::PartialTransfer, "partial transfer"},
    {cip::ServiceNotSupported, "service not supported"},
    {cip::ReplyDataTooLarge, "reply data too large"},
    {cip::NotEnoughData, "not enough request data"},
    {cip::AttributeNotSupported, "attribute not supported"},
    {cip::EmbeddedServiceError, "embedded service error"},
    {cip::PathSizeMismatch, "path size mismatch"},
    {cip::GeneralError, "general error"},
};

const Words ExtendedWords[] = {
    {cip::ExtConnectionInUse, "connection in use"},
    {cip::ExtTransportNotSupported, "transport class not supported"},
    {cip::ExtConnectionNotFound, "target connection not found"},
    {cip::ExtInvalidConnectionSize, "invalid connection size"},
    {cip::ExtRpiNotSupported, "RPI not supported"},
    {cip::ExtOutOfConnections,
     "out of connections: the controller has none free; try connected=off"},
    {cip::ExtConnectionTimedOut, "connection timed out"},
    {cip::ExtUnconnectedTimedOut,
     "unconnected request timed out: nothing answered at the end of the route; check slot= or "
     "path="},
    {cip::ExtPortNotAvailable, "port not available: check path="},
    {cip::ExtLinkAddressInvalid, "link address not valid: check slot= or path="},
    {cip::ExtInvalidSegment, "invalid segment in the connection path: check path="},
    {cip::ExtBeyondEnd, "index beyond the end: an index or count past the end of the tag"},
    {cip::ExtTypeMismatch, "data type mismatch: the tag has another type; leave :TYPE out to "
                           "take the controller's"},
};

const Words EncapWords[] = {
    {eip::StatusSuccess, "success"},
    {eip::StatusInvalidCommand, "invalid or unsupported command"},
    {eip::StatusInsufficientMemory, "insufficient memory"},
    {eip::StatusPoorlyFormed, "poorly formed data"},
    {eip::StatusInvalidSession, "invalid session handle: the session is gone; connect again"},
    {eip::StatusInvalidLength, "invalid length"},
    {eip::StatusUnsupportedProtocol, "unsupported protocol revision"},
};

template <size_t N> const char *wordsFor(const Words (&table)[N], quint32 code)
{
    for (const Words &w : table)
        if (w.code == code)
            return w.text;
    return nullptr;
}

QString hex(quint32 v, int digits)
{
    return QStringLiteral("0x%1").arg(QString::number(v, 16).toUpper().rightJustified(digits, '0'));
}

bool hexValue(const QString &text, quint32 *v)
{
    bool ok = false;
    *v = text.startsWith(QLatin1String("0x")) ? text.mid(2).toUInt(&ok, 16) : 0;
    return ok;
}

// The value after "name = " in a driver line, up to the next blank.
QString field(const QString &line, const char *name)
{
    const QRegularExpression re(QStringLiteral("(?:^|\\s)%1 = (\\S+)").arg(QLatin1String(name)));
    const QRegularExpressionMatch m = re.match(line);
    return m.hasMatch() ? m.captured(1) : QString();
}

// The name after a field's value: "reply = 0x00c4 DINT" gives "DINT".
QString afterField(const QString &line, const char *name)
{
    const QRegularExpression re(
        QStringLiteral("(?:^|\\s)%1 = \\S+ (\\S+)").arg(QLatin1String(name)));
    const QRegularExpressionMatch m = re.match(line);
    return m.hasMatch() ? m.captured(1) : QString();
}

QString socketErrorText(int code)
{
    switch (code) {
    case QAbstractSocket::RemoteHostClosedError:
        return QStringLiteral("the controller closed the connection");
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("the connection was refused");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("a network error (cable, route or host gone)");
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("a socket time-out");
    case QAbstractSocket::UnknownSocketError:
        return QStringLiteral("no error recorded");
    default:
        return QStringLiteral("socket error %1").arg(code);
    }
}

int editDistance(const QString &a, const QString &b)
{
    QVector<int> row(b.size() + 1);
    for (int j = 0; j <= b.size(); ++j)
        row[j] = j;
    for (int i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = i;
        for (int j = 1; j <= b.size(); ++j) {
            const int above = row[j];
            const int swap = a.at(i - 1).toLower() == b.at(j - 1).toLower() ? 0 : 1;
            row[j] = qMin(qMin(row[j] + 1, row[j - 1] + 1), diagonal + swap);
            diagonal = above;
        }
    }
    return row[b.size()];
}

// A transposition ("slto") counts as one slip, as a typist makes it.
bool nearName(const QString &typed, const QString &name)
{
    if (typed.size() == name.size())
        for (int i = 0; i + 1 < typed.size(); ++i) {
            QString t = typed;
            const QChar c = t.at(i);
            t[i] = t.at(i + 1);
            t[i + 1] = c;
            if (t.compare(name, Qt::CaseInsensitive) == 0)
                return true;
        }
    return editDistance(typed, name) <= (name.size() > 4 ? 2 : 1);
}

QString serviceName(const QString &service)
{
    quint32 code = 0;
    if (hexValue(service, &code) && code == cip::LargeForwardOpen)
        return QStringLiteral("Large Forward Open (0x5B)");
    if (code == cip::ForwardOpen)
        return QStringLiteral("Forward Open (0x54)");
    return QStringLiteral("service ") + service;
}

bool isRegistrationRequest(const QString &line)
{
    // RegisterSession, command 0x0065 little-endian at the frame's start.
    return line.contains(QStringLiteral("读命令")) && line.contains(QLatin1String(" msg : 6500"));
}

bool isEmptyRegistrationReply(const QString &line)
{
    return line.startsWith(QStringLiteral("lib[Quorvex]响应 ")) &&
           line.endsWith(QLatin1String(" msg : "));
}

QString firstLine(const QStringList &lines, const QString &key)
{
    for (const QString &l : lines)
        if (l.contains(key))
            return l;
    return QString();
}

QString seconds(qint64 ms)
{
    return QString::number(ms / 1000.0, 'g', 3);
}

} // namespace

QString cipStatusText(quint8 general, const QVector<quint16> &ext)
{
    const char *g = wordsFor(GeneralWords, general);
    QString head = hex(general, 2);
    if (ext.isEmpty())
        return g ? head + QLatin1Char(' ') + QLatin1String(g)
                 : head + QStringLiteral(" (a status without a name here)");
    head += QLatin1Char('/') + hex(ext.first(), 4);
    const char *e = wordsFor(ExtendedWords, ext.first());
    QString text = e ? head + QLatin1Char(' ') + QLatin1String(e)
                     : head + QLatin1Char(' ') + QLatin1String(g ? g : "error") +
                           QStringLiteral(" (extended status ") + hex(ext.first(), 4) +
                           QLatin1Char(')');
    if (ext.first() == cip::ExtInvalidConnectionSize && ext.size() > 1)
        text += QStringLiteral(": the controller takes at most %1 bytes").arg(ext.at(1));
    return text;
}

QString cipStatusText(const QString &general, const QString &ext)
{
    quint32 g = 0;
    if (!hexValue(general, &g) || g > 0xFF)
        return QString();
    QVector<quint16> words;
    if (ext != QLatin1String("none"))
        for (const QString &w : ext.split(QLatin1Char(','))) {
            quint32 v = 0;
            if (hexValue(w, &v) && v <= 0xFFFF)
                words.append(static_cast<quint16>(v));
        }
    return cipStatusText(static_cast<quint8>(g), words);
}

QString encapStatusText(quint32 status)
{
    const char *w = wordsFor(EncapWords, status);
    return hex(status, 4) + QLatin1Char(' ') + QLatin1String(w ? w : "an unknown status");
}

QStringList linkOptionNames()
{
    QStringList names;
    for (const QString &l : linkOptionsHelp().split(QLatin1Char('\n')))
        names << l.section(QLatin1Char('='), 0, 0);
    return names;
}

QString explainOptionError(const QString &option, const QString &reason,
                           const QStringList &optionNames)
{
    const int eq = option.indexOf(QLatin1Char('='));
    const QString name = (eq < 0 ? option : option.left(eq)).trimmed();
    const QString value = eq < 0 ? QString() : option.mid(eq + 1).trimmed();
    if (reason == QStringLiteral("未知参数")) {
        QString text = QStringLiteral("unknown option '%1' (the options are %2)")
                           .arg(name, optionNames.join(QLatin1String(", ")));
        for (const QString &n : optionNames)
            if (nearName(name, n))
                return text + QStringLiteral("; did you mean %1?").arg(n);
        return text;
    }
    if (reason == QStringLiteral("重复"))
        return QStringLiteral("option %1 is given twice; give each option once").arg(name);
    const QRegularExpression conflict(QStringLiteral("^与 (\\S+) 冲突$"));
    const QRegularExpressionMatch c = conflict.match(reason);
    if (c.hasMatch()) {
        const QString other = c.captured(1);
        const bool route = QStringList{QStringLiteral("slot"), QStringLiteral("path")}.contains(
                               name, Qt::CaseInsensitive) &&
                           QStringList{QStringLiteral("slot"), QStringLiteral("path")}.contains(
                               other, Qt::CaseInsensitive);
        return QStringLiteral("%1 cannot go with %2: %3; give one of them")
            .arg(option, other,
                 route ? QStringLiteral("slot and path both set the route")
                       : QStringLiteral("both set the same thing"));
    }
    const QString expected = QStringLiteral("取值无效, 应为 ");
    if (reason.startsWith(expected)) {
        const QString syntax = reason.mid(expected.size());
        const QString takes = syntax.mid(syntax.indexOf(QLatin1Char('=')) + 1);
        if (value.isEmpty())
            return QStringLiteral("%1 needs a value: %2").arg(name, syntax);
        bool number = false;
        value.toLongLong(&number, 10);
        const QRegularExpressionMatch range =
            QRegularExpression(QStringLiteral("^(\\S+) \\((\\d+)\\.\\.(\\d+)\\)$")).match(takes);
        if (number && range.hasMatch())
            return QStringLiteral("%1=%2 is out of range: %1 takes %3 from %4 to %5")
                .arg(name, value, range.captured(1), range.captured(2), range.captured(3));
        return QStringLiteral("%1=%2 is not a value it takes: %3").arg(name, value, syntax);
    }
    return QStringLiteral("option %1 refused (%2)").arg(option, reason);
}

QString explainDriverLine(const QString &line)
{
    const QString status = field(line, "status");
    const QString ext = field(line, "ext");
    if (line.contains(QStringLiteral("报文返回状态错误")))
        return QStringLiteral("the controller refused the read: ") + cipStatusText(status, ext);
    if (line.contains(QStringLiteral("写入被拒绝")))
        return QStringLiteral("the controller refused the write: ") + cipStatusText(status, ext);
    if (line.contains(QStringLiteral("分段写入失败"))) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("written = (\\d+) of (\\d+)")).match(line);
        const QString cip = cipStatusText(status, ext);
        return QStringLiteral("a write in parts stopped after %1 of %2 bytes: %3")
            .arg(m.captured(1), m.captured(2),
                 cip.isEmpty() ? QStringLiteral("no usable reply") : cip);
    }
    if (line.contains(QStringLiteral("返回的报文长度为0")))
        return QStringLiteral("no reply within the wait (0.55 s, or ;timeout=): a slow or silent "
                              "controller; try ;timeout=3000");
    if (line.contains(QStringLiteral("报文返回长度错误")))
        return QStringLiteral(
            "the reply's length does not match its header: cut short, or not EtherNet/IP");
    if (line.contains(QStringLiteral("报文封装错误"))) {
        quint32 s = 0;
        hexValue(status, &s);
        return QStringLiteral("encapsulation error: command %1, status %2")
            .arg(field(line, "command"), encapStatusText(s));
    }
    if (line.contains(QStringLiteral("报文返回标志位错误")))
        return QStringLiteral("the reply answers another service than the one asked");
    if (line.contains(QStringLiteral("报文数据长度不足")))
        return QStringLiteral("the reply carried fewer value bytes than the %1 the count needs: "
                              "the tag is shorter, or of a smaller type")
            .arg(field(line, "need"));
    if (line.contains(QStringLiteral("数据类型不符")))
        return QStringLiteral("the tag is %1, which holds no %2 value; give the tag's type, "
                              "or leave :TYPE out")
            .arg(afterField(line, "reply"), typeName(field(line, "asked").toInt()));
    if (line.contains(QStringLiteral("数值超出范围")))
        return QStringLiteral("element %1 of the %2 tag is %3, which %4 cannot hold; read it "
                              "as the tag's type")
            .arg(field(line, "index"), afterField(line, "reply"), field(line, "value"),
                 typeName(field(line, "asked").toInt()));
    if (line.contains(QStringLiteral("位号超出范围")))
        return QStringLiteral("bit %1 is not one of the %2 bits of the tag's integer (nothing "
                              "sent once its type is known)")
            .arg(field(line, "bit"), field(line, "width"));
    if (line.contains(QStringLiteral("文本长度错误")))
        return QStringLiteral("text %1 of the reply says it is %2 characters long, where its "
                              "type holds 0 to %3: a cut or corrupt reply, or no text type")
            .arg(field(line, "index"), field(line, "length"), field(line, "limit"));
    if (line.contains(QStringLiteral("读取数据超出上限")))
        return QStringLiteral("the value is larger than the %1 bytes the read may gather; ask "
                              "for fewer elements")
            .arg(field(line, "limit"));
    if (line.contains(QStringLiteral("分段读取错误")))
        return QStringLiteral("a part of a read in parts failed, at byte offset %1")
            .arg(field(line, "offset"));
    if (line.contains(QStringLiteral("读请求无效")) || line.contains(QStringLiteral("写请求无效")))
        return QStringLiteral("the request does not fit one message: a shorter address or fewer "
                              "elements");
    if (line.contains(QStringLiteral("写入文本过长")))
        return QStringLiteral(
                   "text %1 is %2 bytes in UTF-8, more than the %3 the tag's text type holds "
                   "(nothing sent)")
            .arg(field(line, "index"), field(line, "bytes"), field(line, "limit"));
    if (line.contains(QStringLiteral("注册会话失败"))) {
        quint32 s = 0;
        hexValue(status, &s);
        return QStringLiteral("the controller refused the session registration: "
                              "encapsulation status ") +
               encapStatusText(s);
    }
    if (line.contains(QStringLiteral("打开连接失败"))) {
        const QString cip = cipStatusText(status, ext);
        return QStringLiteral("the controller refused the %1: %2")
            .arg(serviceName(field(line, "service")),
                 cip.isEmpty() ? QStringLiteral("no usable reply") : cip);
    }
    if (line.contains(QStringLiteral("连接参数无效"))) {
        const int at = line.lastIndexOf(QLatin1String(" : "));
        const int start = line.indexOf(QStringLiteral("连接参数无效")) + 7;
        return at < 0 ? QString()
                      : explainOptionError(line.mid(start, at - start).trimmed(),
                                           line.mid(at + 3).trimmed(), linkOptionNames());
    }
    if (line.contains(QStringLiteral("连接中断")))
        return QStringLiteral("the connection was lost: %1")
            .arg(line.section(QStringLiteral(" reason = "), 1));
    if (line.contains(QStringLiteral("重新连接失败"))) {
        // An attempt that ran into its deadline is followed at once.
        const QString in =
            QRegularExpression(QStringLiteral("retry in (\\d+) ms")).match(line).captured(1);
        return QStringLiteral("reopening failed (attempt %1), next attempt %2: %3")
            .arg(field(line, "attempt"),
                 in == QLatin1String("0") ? QStringLiteral("at once")
                                          : QStringLiteral("in %1 ms").arg(in),
                 line.section(QStringLiteral(" reason = "), 1));
    }
    if (line.contains(QStringLiteral("仍在重新连接")))
        return QStringLiteral("still reopening after %1 ms, %2 attempts so far: %3")
            .arg(field(line, "down"), field(line, "attempts"),
                 line.section(QStringLiteral(" reason = "), 1));
    if (line.contains(QStringLiteral("重新连接成功")))
        return QStringLiteral("reopened after %1 ms, %2 attempts")
            .arg(field(line, "down"), field(line, "attempts"));
    if (line.contains(QStringLiteral("响应错误"))) {
        // The Identity object answers as a read does, so a refusal (a wrong
        // route, say) carries its CIP status; ListIdentity's reply has none.
        if (!line.contains(QLatin1String("ListIdentity"))) {
            const messaging::MrReply m = messaging::parseMrReply(
                QByteArray::fromHex(line.section(QStringLiteral(" msg : "), 1).toLatin1()));
            if (m.verdict == messaging::Verdict::Ok && m.generalStatus != cip::Success)
                return QStringLiteral("the controller refused the Identity request: ") +
                       cipStatusText(m.generalStatus, m.ext);
        }
        return QStringLiteral("the identity reply was rejected (malformed or an error status)");
    }
    const QRegularExpressionMatch closed =
        QRegularExpression(QStringLiteral(" Disconnected=(-?\\d+)$")).match(line);
    if (closed.hasMatch())
        return QStringLiteral("the connection closed: ") +
               socketErrorText(closed.captured(1).toInt());
    return QString();
}

QString statusAdvice(int status)
{
    switch (status) {
    case 1:
        return QStringLiteral("the driver concluded nothing (the value as it was)");
    case 2:
        return QStringLiteral("the driver has no decoder for this type");
    case 3:
        return QStringLiteral("nothing was sent: names take letters, digits and _ : $ @, "
                              "indexes are decimal numbers in [ ]");
    case 4:
        return QStringLiteral("the count must be 1 to 65535");
    case 7:
        return QStringLiteral("the reply was rejected");
    case 8:
        return QStringLiteral("nothing came within the wait (0.55 s, or ;timeout=): a slow or "
                              "silent controller; try ;timeout=3000");
    case 9:
        return QStringLiteral("the controller closed the connection or was never reached; "
                              ";reconnect reopens it by itself");
    case 10:
        return QStringLiteral("an index outside the values");
    case 11:
        return QStringLiteral("the values are of another element type, or a text is longer "
                              "than 82 bytes");
    default:
        return QString();
    }
}

bool probeWanted(const ConnectFacts &f)
{
    const ConnectionString c = parseConnectionString(f.connection);
    if (f.result != -3 || c.form != ConnectionString::Form::Network)
        return false;
    for (const QString &l : f.lines)
        if (isRegistrationRequest(l) || !explainDriverLine(l).isEmpty())
            return false;
    return f.elapsedMs < QuickFailureMs;
}

ConnectVerdict explainConnect(const ConnectFacts &f)
{
    const ConnectionString c = parseConnectionString(f.connection);
    const QString where = QStringLiteral("%1:%2").arg(c.ipAddress).arg(c.ipPort);
    ConnectVerdict v;
    v.exitCode = 2;
    if (f.result == -4 || c.form == ConnectionString::Form::None) {
        v.text = QStringLiteral("'%1' is neither ADDRESS:PORT nor PORT,BAUD,DATABITS,STOPBITS,"
                                "PARITY (e.g. 192.168.1.10:44818 or /dev/ttyUSB0,115200,8,1,N)")
                     .arg(f.connection);
        return v;
    }
    const QString optionLine = firstLine(f.lines, QStringLiteral("连接参数无效"));
    if (!optionLine.isEmpty() || !c.optionsValid) {
        v.text = QStringLiteral("bad option in the connection string: ") +
                 (optionLine.isEmpty() ? explainOptionError(c.optionError.option,
                                                            c.optionError.reason, linkOptionNames())
                                       : explainDriverLine(optionLine));
        return v;
    }
    if (c.semicolonFirst) {
        v.text = QStringLiteral("options come after ADDRESS:PORT, e.g. 192.168.1.10:44818;slot=1");
        return v;
    }
    if (c.form == ConnectionString::Form::Serial) {
        if (!c.usable()) {
            v.text =
                QStringLiteral("the serial form is PORT,BAUD,DATABITS,STOPBITS,PARITY with a "
                               "port name and numbers above 0, e.g. /dev/ttyUSB0,115200,8,1,N");
            return v;
        }
        v.exitCode = 1;
        v.text = QStringLiteral("cannot open the serial port %1: %2")
                     .arg(c.portName, f.osError.isEmpty() ? QStringLiteral("the driver could not "
                                                                           "open or set it up")
                                                          : f.osError);
        return v;
    }
    if (c.ipAddress.isEmpty()) {
        v.text = QStringLiteral("no address before the ':'; give an IPv4 address, e.g. "
                                "192.168.1.10:44818");
        return v;
    }
    if (c.ipPort < 1 || c.ipPort > 65535) {
        v.text =
            QStringLiteral("the port '%1' is not a number from 1 to 65535 (EtherNet/IP "
                           "listens on 44818)")
                .arg(f.connection.section(QLatin1Char(';'), 0, 0).section(QLatin1Char(':'), 1));
        return v;
    }
    if (f.result == -1) {
        v.text = QStringLiteral("'%1' is not an IPv4 address: no name lookup is done; give an "
                                "IPv4 address, e.g. 192.168.1.10:44818")
                     .arg(c.ipAddress);
        return v;
    }
    v.exitCode = 1;
    // A refusal the driver logged says the most.
    for (const char *key : {"注册会话失败", "打开连接失败"}) {
        const QString l = firstLine(f.lines, QString::fromUtf8(key));
        if (!l.isEmpty()) {
            v.text = QStringLiteral("connected to %1, but %2").arg(where, explainDriverLine(l));
            return v;
        }
    }
    const int waitMs = c.options.replyTimeoutMs > 0 ? c.options.replyTimeoutMs : DefaultReplyWaitMs;
    bool registered = false, unanswered = false, closed = false;
    for (const QString &l : f.lines) {
        registered = registered || isRegistrationRequest(l);
        unanswered = unanswered || isEmptyRegistrationReply(l);
        closed = closed || l.contains(QLatin1String(" Disconnected="));
    }
    if (registered && closed) {
        v.text = QStringLiteral("connected to %1, but it closed the connection when asked to "
                                "register a session: is this an EtherNet/IP port?")
                     .arg(where);
        return v;
    }
    if (registered && unanswered) {
        v.text = QStringLiteral("connected to %1, but the session registration got no reply in "
                                "%2 s; a slow controller? try ;timeout=3000")
                     .arg(where, seconds(waitMs));
        return v;
    }
    if (registered) {
        v.text = QStringLiteral("connected to %1 and registered, but the connected messaging "
                                "the string asks for did not open; try connected=auto or off")
                     .arg(where);
        return v;
    }
    switch (f.probe) {
    case Probe::Refused:
        v.text = QStringLiteral("nothing listening on %1 (connection refused)").arg(where);
        return v;
    case Probe::Unreachable:
        v.text = QStringLiteral("cannot reach %1: %2").arg(where, f.osError);
        return v;
    case Probe::TimedOut:
    case Probe::NotMade:
    case Probe::Connected:
        break;
    }
    if (f.elapsedMs >= QuickFailureMs || f.probe == Probe::TimedOut) {
        v.text = QStringLiteral("no answer from %1 in %2 s (host unreachable or filtered)")
                     .arg(where, seconds(qMax<qint64>(f.elapsedMs, QuickFailureMs)));
        return v;
    }
    v.text = QStringLiteral("could not connect to %1%2")
                 .arg(where, f.osError.isEmpty() ? QString() : QStringLiteral(": ") + f.osError);
    return v;
}

} // namespace tools
