#include "CmdQuorvex.h"

#include "LinkLog.h"

#include <QDebug>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTimer>

#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

// The reconnect option: a lost transport is reopened by the next read that
// needs it, attempts are spaced by a doubling back-off, and a peer that
// stopped answering is given up so that reads fail at once instead of each
// waiting for its whole time-out.

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

bool CmdQuorvex::recovering() const
{
    return options.reconnect && !recovery.stopped;
}

// A serial adapter that was unplugged stays "open" with a resource error.
bool CmdQuorvex::transportUp() const
{
    switch (recovery.target) {
    case Transport::Serial:
        return serialPort != nullptr && serialPort->isOpen() &&
               serialPort->error() != QSerialPort::ResourceError;
    case Transport::Tcp:
        return useSocket() && tcpSocket->state() == QAbstractSocket::ConnectedState;
    case Transport::None:
        break;
    }
    return false;
}

QString CmdQuorvex::whereText() const
{
    if (recovery.target == Transport::Serial)
        return recovery.serial.name;
    return linklog::at("%1:%2", where);
}

QString CmdQuorvex::transportError() const
{
    if (recovery.target == Transport::Serial)
        return serialPort != nullptr ? serialPort->errorString() : QStringLiteral("no port");
    return tcpSocket != nullptr ? tcpSocket->errorString() : QStringLiteral("no socket");
}

void CmdQuorvex::markLost(const QString &reason, qint64 now, int waitMs)
{
    recovery.down = true;
    recovery.downSinceMs = now;
    recovery.attempts = 0;
    recovery.silentReads = 0;
    recovery.stepMs = Recovery::FirstStepMs;
    recovery.nextAttemptMs = now + waitMs;
    linklog::warn(QStringLiteral("lib[Quorvex]连接中断 %1 reason = %2").arg(whereText(), reason));
}

// Nothing is said to a peer that is gone: no Forward Close, no owed replies.
void CmdQuorvex::dropTransport()
{
    cipConnection = CipConnection();
    lateContexts.clear();
    recvBuffer.clear();
    if (recovery.target == Transport::Serial) {
        if (frameTimer != nullptr)
            frameTimer->stop();
        if (serialPort != nullptr && serialPort->isOpen())
            serialPort->close();
    } else if (tcpSocket != nullptr) {
        tcpSocket->abort();
    }
}

int CmdQuorvex::attemptReopen()
{
    ++recovery.attempts;
    recovery.reopening = true;
    const int rc = recovery.target == Transport::Serial
                       ? serialConnectDrive(recovery.serial.name, recovery.serial.baud,
                                            recovery.serial.dataBits, recovery.serial.stopBits,
                                            recovery.serial.parity)
                       : EthConnectDrive(hostAddress.toString(), tcpPort);
    recovery.reopening = false;
    const qint64 after = nowMs();
    if (rc == 0 && transportUp()) {
        linklog::warn(QStringLiteral("lib[Quorvex]重新连接成功 %1 down = %2 ms attempts = %3")
                          .arg(whereText(), QString::number(after - recovery.downSinceMs),
                               QString::number(recovery.attempts)));
        recovery.down = false;
        recovery.silentReads = 0;
        recovery.stepMs = Recovery::FirstStepMs;
        return 0;
    }
    // Opened but not usable: the session or the connection was refused or
    // went unanswered.
    const QString reason =
        transportUp() ? QStringLiteral("transport up, but no session or connection (%1)").arg(rc)
                      : transportError();
    dropTransport();
    linklog::warn(
        QStringLiteral("lib[Quorvex]重新连接失败 %1 attempt = %2 retry in %3 ms reason = %4")
            .arg(whereText(), QString::number(recovery.attempts), QString::number(recovery.stepMs),
                 reason));
    recovery.nextAttemptMs = after + recovery.stepMs;
    recovery.stepMs = qMin(recovery.stepMs * 2, int(Recovery::LastStepMs));
    return -3;
}

int CmdQuorvex::ensureTransport()
{
    if (!recovering())
        return Connection_status() == 0 ? 0 : -3;
    if (transportUp())
        return 0;
    const qint64 now = nowMs();
    // The first attempt after a loss the peer caused comes at once.
    if (!recovery.down)
        markLost(transportError(), now, 0);
    if (now < recovery.nextAttemptMs)
        return -3;
    return attemptReopen();
}

bool CmdQuorvex::reopenedAfterLoss(int &rc)
{
    if (!recovering() || rc != -2 || transportUp())
        return false;
    if (ensureTransport() == 0)
        return true;
    rc = -3;
    return false;
}

// Any reply, even an error, shows the peer is there; only silence counts.
void CmdQuorvex::noteResult(int rc)
{
    if (!recovering())
        return;
    if (rc != -2) {
        if (rc != -3)
            recovery.silentReads = 0;
        return;
    }
    if (!transportUp() || ++recovery.silentReads < Recovery::SilentReadsToGiveUp)
        return;
    const qint64 now = nowMs();
    dropTransport();
    markLost(QStringLiteral("no reply to %1 requests in a row").arg(Recovery::SilentReadsToGiveUp),
             now, Recovery::FirstStepMs);
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
