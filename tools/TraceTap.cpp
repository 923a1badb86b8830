#include "TraceTap.h"
#include "Pcap.h"

#include <QMutexLocker>
#include <cstdio>

namespace tools
{

namespace
{

const QLatin1String DriverPrefix("lib[Quorvex]");
const QLatin1String HexMarker(" msg : ");

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    TraceTap::instance().handle(type, message);
}

bool isHex(const QString &s)
{
    if (s.size() % 2)
        return false;
    for (const QChar c : s) {
        const ushort u = c.unicode();
        if (!((u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F')))
            return false;
    }
    return true;
}

} // namespace

bool parseTraceFrame(const QString &line, TraceFrame *out)
{
    if (!line.startsWith(DriverPrefix))
        return false;
    const int at = line.lastIndexOf(HexMarker);
    if (at < 0)
        return false;
    const QString head = line.left(at);
    bool request = head.contains(QStringLiteral("命令"));
    if (!request && !head.contains(QStringLiteral("响应")))
        return false;
    const QString hex = line.mid(at + HexMarker.size()).trimmed();
    if (hex.isEmpty() || !isHex(hex))
        return false;
    out->toController = request;
    out->bytes = QByteArray::fromHex(hex.toLatin1());
    return true;
}

TraceTap &TraceTap::instance()
{
    static TraceTap tap;
    return tap;
}

void TraceTap::install()
{
    qInstallMessageHandler(messageHandler);
}

void TraceTap::setEcho(bool on)
{
    QMutexLocker lock(&mutex);
    echo = on;
}

void TraceTap::setPcap(PcapWriter *writer)
{
    QMutexLocker lock(&mutex);
    pcap = writer;
}

void TraceTap::setCapture(bool on)
{
    QMutexLocker lock(&mutex);
    capture = on;
}

QList<TraceFrame> TraceTap::takeCaptured()
{
    QMutexLocker lock(&mutex);
    QList<TraceFrame> r;
    r.swap(captured);
    return r;
}

void TraceTap::beginCall(bool withTrace, bool traceIsOurs)
{
    QMutexLocker lock(&mutex);
    inCall = true;
    callTrace = withTrace;
    callTraceOurs = traceIsOurs;
    callLines.clear();
}

QStringList TraceTap::endCall()
{
    QMutexLocker lock(&mutex);
    inCall = false;
    callTraceOurs = false;
    QStringList r;
    r.swap(callLines);
    return r;
}

void TraceTap::handle(int type, const QString &message)
{
    QMutexLocker lock(&mutex);
    const bool fromDriver = message.startsWith(DriverPrefix);
    if (fromDriver && type == QtDebugMsg) {
        if (inCall && callTrace)
            callLines.append(message);
        if (inCall && callTraceOurs)
            return;
        TraceFrame f;
        if ((pcap || capture) && parseTraceFrame(message, &f)) {
            if (pcap)
                pcap->write(f.toController, f.bytes, PcapWriter::nowUsec());
            if (capture)
                captured.append(f);
        }
        if (!echo)
            return;
    } else if (fromDriver && type == QtWarningMsg) {
        if (inCall)
            callLines.append(message);
        if (!echo)
            return;
    } else if (type == QtDebugMsg && !echo) {
        return;
    }
    const QByteArray text = message.toUtf8();
    std::fprintf(stderr, "%s\n", text.constData());
    std::fflush(stderr);
}

} // namespace tools
