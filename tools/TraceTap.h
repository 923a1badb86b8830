#ifndef QUORVEX_TOOLS_TRACETAP_H
#define QUORVEX_TOOLS_TRACETAP_H

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>

namespace tools
{

class PcapWriter;

// One frame as the driver's traffic trace shows it.
struct TraceFrame {
    bool toController = false;
    QByteArray bytes;
};

// The driver's trace lines end in " msg : " and the frame in hex; request
// lines say 命令, reply lines 响应. False for other lines and for a reply
// line whose hex is empty (nothing came).
bool parseTraceFrame(const QString &line, TraceFrame *out);

// The tool's Qt message handler. The driver logs through Qt's message
// logger, so this is where its trace and warning lines arrive: echoed on
// stderr with --trace, turned into pcap records with --pcap, and the
// warnings of each driver call kept to explain its failure. Messages may
// come from the simulator's thread too, hence the lock.
class TraceTap
{
public:
    static TraceTap &instance();
    void install();

    void setEcho(bool on);
    void setPcap(PcapWriter *writer);
    // While capturing, frames are also kept for takeCaptured().
    void setCapture(bool on);
    QList<TraceFrame> takeCaptured();
    // The driver's lines from here to endCall() are kept for it: its
    // warnings, and with `withTrace` its trace lines too. One driver call
    // at a time, so that each failure is told with its own lines. With
    // `traceIsOurs` the trace was switched on for the tool alone: its lines
    // are neither echoed nor written to the pcap file.
    void beginCall(bool withTrace, bool traceIsOurs = false);
    QStringList endCall();

    void handle(int type, const QString &message);

private:
    TraceTap() = default;
    QMutex mutex;
    bool echo = false;
    bool capture = false;
    PcapWriter *pcap = nullptr;
    QList<TraceFrame> captured;
    bool inCall = false;
    bool callTrace = false;
    bool callTraceOurs = false;
    QStringList callLines;
};

} // namespace tools

#endif
