#ifndef QUORVEX_TOOLS_EXPLAIN_H
#define QUORVEX_TOOLS_EXPLAIN_H

#include <QString>
#include <QStringList>
#include <QVector>

// The driver's numbers and its Chinese log lines in English, for a user who
// has only the tool's output to go by. Everything here reads texts and
// numbers; nothing talks to a controller.
namespace tools
{

// A CIP general status and its extended status words, hex first:
// "0x05 path destination unknown: no such tag or member",
// "0xFF/0x2105 index beyond the end: ...".
QString cipStatusText(quint8 general, const QVector<quint16> &ext);
// The same from the texts a driver line carries ("0xff", "0x2105,0x0001" or
// "none"); empty when `general` is "none" or not a number.
QString cipStatusText(const QString &general, const QString &ext);
// An encapsulation status: "0x0064 invalid session handle".
QString encapStatusText(quint32 status);

// What one of the driver's log lines says, in English; empty for a line the
// tool does not know (trace lines included).
QString explainDriverLine(const QString &line);
// A connection string option the driver refused ("slto=3" with its reason
// "未知参数"), in English; `optionNames` are the options there are.
QString explainOptionError(const QString &option, const QString &reason,
                           const QStringList &optionNames);
// The option names of linkOptionsHelp(), in its order.
QStringList linkOptionNames();

// What to do about a read or write status when no driver line says more.
QString statusAdvice(int status);

// The tool's own attempt to reach a TCP controller, made after a failed
// connect to tell a closed port from a silent host.
enum class Probe { NotMade, Refused, Unreachable, TimedOut, Connected };

struct ConnectFacts {
    QString connection;
    int result = 0;       // ConnectDrive's (or the link's) result
    QStringList lines;    // every driver line of that call, trace lines too
    qint64 elapsedMs = 0; // how long the call took
    Probe probe = Probe::NotMade;
    QString osError; // of the probe, or of opening the serial port
};

struct ConnectVerdict {
    QString text;     // one sentence or two, no command prefix
    int exitCode = 1; // 2 for a malformed string, as for other bad arguments
};

ConnectVerdict explainConnect(const ConnectFacts &f);

// Whether a failed TCP connect needs the probe to be told apart: it did not
// get as far as the session registration and failed quickly.
bool probeWanted(const ConnectFacts &f);

} // namespace tools

#endif
