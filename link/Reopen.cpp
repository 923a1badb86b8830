#include "CmdQuorvex.h"

#include <QSerialPort>
#include <QTcpSocket>

#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

// The reconnect option as the link carries it out: the recovery part says
// when, the link reopens what the last ConnectDrive opened, step by step
// (transport, session, connection).

namespace
{

// A cable pulled while the host is idle is noticed within about 16 s.
constexpr int KeepIdleS = 10;
constexpr int KeepIntervalS = 2;
constexpr int KeepProbes = 3;

qint64 nowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

// The transport carrying the traffic is there: the line says so (a serial
// adapter that was unplugged stays "open", with a resource error).
bool CmdQuorvex::transportUp() const
{
    return !linePart.failed();
}

QString CmdQuorvex::transportError() const
{
    if (linePart.useSerial())
        return serialPort->errorString();
    return tcpSocket != nullptr ? tcpSocket->errorString() : QStringLiteral("no transport");
}

// Nothing is said to a peer that is gone: no Forward Close, no owed replies.
void CmdQuorvex::dropTransport()
{
    connection.forget();
    channel.giveUpAll();
    linePart.clear();
    if (recovery.aimedAt() == Recovery::Target::Serial) {
        if (serialPort != nullptr && serialPort->isOpen())
            serialPort->close();
    } else if (tcpSocket != nullptr) {
        tcpSocket->abort();
    }
}

int CmdQuorvex::reopenTransport()
{
    int rc = -3;
    if (recovery.aimedAt() == Recovery::Target::Serial) {
        const Recovery::SerialPort p = recovery.serialPort();
        rc = serialConnectDrive(p.name, p.baud, p.dataBits, p.stopBits, p.parity);
    } else if (tcpSocket != nullptr) {
        ++generation; // as EthConnectDrive counts its own
        rc = connectTcp(Recovery::ConnectWaitMs);
    }
    const qint64 after = nowMs();
    if (rc == 0 && transportUp()) {
        recovery.reopened(after);
        return 0;
    }
    // Opened but not usable: the session or the connection was refused or
    // went unanswered.
    const QString reason =
        transportUp() ? QStringLiteral("transport up, but no session or connection (%1)").arg(rc)
                      : transportError();
    dropTransport();
    recovery.attemptFailed(reason, after);
    return -3;
}

int CmdQuorvex::ensureTransport()
{
    if (!recovery.active())
        return Connection_status() == 0 ? 0 : -3;
    if (transportUp())
        return 0;
    const qint64 now = nowMs();
    // The first attempt after a loss the peer caused comes at once.
    if (!recovery.down())
        recovery.lost(transportError(), now);
    if (!recovery.attemptDue(now))
        return -3;
    return reopenTransport();
}

bool CmdQuorvex::reopenedAfterLoss(int &rc)
{
    if (!recovery.active() || rc != -2 || transportUp())
        return false;
    if (ensureTransport() == 0)
        return true;
    rc = -3;
    return false;
}

void CmdQuorvex::noteResult(int rc)
{
    if (!recovery.silentTooLong(rc, transportUp()))
        return;
    const qint64 now = nowMs();
    dropTransport();
    recovery.lost(Recovery::silenceReason(), now, Recovery::FirstStepMs);
}

void CmdQuorvex::setKeepAlive()
{
    tcpSocket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const int fd = static_cast<int>(tcpSocket->socketDescriptor());
    if (fd < 0)
        return;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &KeepIdleS, sizeof KeepIdleS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &KeepIntervalS, sizeof KeepIntervalS);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &KeepProbes, sizeof KeepProbes);
}
