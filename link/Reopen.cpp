#include "CmdQuorvex.h"

#include "EncapFrame.h"
#include "Waits.h"

#include <QSerialPort>
#include <QSignalBlocker>
#include <QTcpSocket>

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

// The reconnect option as the link carries it out: the recovery part says
// when, the link performs the steps of an attempt (transport, session,
// connection), each started or taken up without waiting.

namespace
{

// A cable pulled while the host is idle is noticed within about 16 s.
constexpr int KeepIdleS = 10;
constexpr int KeepIntervalS = 2;
constexpr int KeepProbes = 3;

// What the socket's own wait may take to take up a connect the system has
// completed already; it returns at once, this only bounds it.
constexpr int ConnectTakeUpMs = 100;

using Progress = Recovery::Progress;

Recovery::Outcome progress(Progress p, const QString &reason = QString())
{
    Recovery::Outcome o;
    o.progress = p;
    o.reason = reason;
    return o;
}

// The system has completed a connect (or failed it) that the socket has not
// heard of yet: its event loop has not run since.
bool connectCompleted(qintptr fd)
{
    if (fd < 0)
        return false;
    pollfd p = {static_cast<int>(fd), POLLOUT, 0};
    int ready = 0;
    do {
        ready = ::poll(&p, 1, 0);
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
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

// An attempt that failed or was called off: what it opened goes, and what
// it waits for is given up. It was never a connection: no disconnect notice.
void CmdQuorvex::dropReopen()
{
    connection.abandonOpen();
    registration.clear();
    const QSignalBlocker quiet(tcpSocket);
    dropTransport();
}

Recovery::Outcome CmdQuorvex::reopenStep(Recovery::Phase phase, bool first, bool expired)
{
    const bool serial = recovery.aimedAt() == Recovery::Target::Serial;
    // Released under the attempt (deletetcpSocket, deleteSerialPort).
    if (serial ? serialPort == nullptr : tcpSocket == nullptr)
        return progress(Progress::Failed, QStringLiteral("no transport"));
    switch (phase) {
    case Recovery::Phase::Transport:
        if (!serial)
            return first ? startConnect() : connectProgress();
        {
            // One open attempt: a device that is not there fails at once.
            const Recovery::SerialPort p = recovery.serialPort();
            ++generation; // as serialConnectDrive counts its own
            if (!openSerial(p.name, p.baud, p.dataBits, p.stopBits, p.parity))
                return progress(Progress::Failed, serialPort->errorString());
        }
        return progress(Progress::Done);
    case Recovery::Phase::Session:
        if (serial)
            return progress(Progress::Done);
        return first ? postRegistration() : takeRegistration(expired);
    case Recovery::Phase::Connection:
        if (first) {
            connection.newTransport();
            reads.newConnection();
            return opening(connection.startOpen());
        }
        if (!transportUp())
            return progress(Progress::Failed, transportError());
        return opening(connection.stepOpen(expired));
    }
    return progress(Progress::Failed);
}

Recovery::Outcome CmdQuorvex::startConnect()
{
    ++generation; // as EthConnectDrive counts its own
    connection.forget();
    startSocket();
    const Recovery::Outcome o = connectProgress();
    return o.progress == Progress::Waiting ? progress(Progress::Sent) : o;
}

// Qt's asynchronous connect: completed in the thread's event loop, which
// calls Ethconnected or reports the error. A host that calls the driver
// without running it between calls still sees it complete: a connect the
// system has finished is taken up here.
Recovery::Outcome CmdQuorvex::connectProgress()
{
    if (tcpSocket->state() == QAbstractSocket::ConnectingState &&
        connectCompleted(tcpSocket->socketDescriptor()))
        tcpSocket->waitForConnected(ConnectTakeUpMs);
    switch (tcpSocket->state()) {
    case QAbstractSocket::ConnectedState:
        socketConnected();
        return progress(Progress::Done);
    case QAbstractSocket::UnconnectedState:
        return progress(Progress::Failed, tcpSocket->errorString());
    default:
        return progress(Progress::Waiting);
    }
}

Recovery::Outcome CmdQuorvex::postRegistration()
{
    registration = encap::registerSessionRequest();
    channel.stamp(registration);
    if (traceEnabled)
        linklog::debug(
            linklog::at("lib[Quorvex]读命令 %1:%2 msg : %3", where, linklog::hex(registration)));
    if (channel.post(registration) != 0)
        return progress(Progress::Failed, transportError());
    return progress(Progress::Sent);
}

Recovery::Outcome CmdQuorvex::takeRegistration(bool expired)
{
    QByteArray reply;
    if (channel.poll(registration, reply) != 0) {
        if (!transportUp())
            return progress(Progress::Failed, transportError());
        if (!expired)
            return progress(Progress::Waiting);
        channel.giveUp(registration);
    }
    registration.clear();
    if (traceEnabled)
        linklog::debug(linklog::at("lib[Quorvex]响应 %1:%2 msg : %3", where, linklog::hex(reply)));
    if (reply.isEmpty())
        return progress(Progress::Failed, QStringLiteral("no reply to the session registration"));
    if (acceptRegistration(reply) != 0)
        return progress(Progress::Failed, QStringLiteral("session registration refused"));
    return progress(Progress::Done);
}

Recovery::Outcome CmdQuorvex::opening(CipConnection::Opening o)
{
    switch (o.state) {
    case CipConnection::Opening::Sent:
        return progress(Progress::Sent);
    case CipConnection::Opening::Waiting:
        return progress(Progress::Waiting);
    case CipConnection::Opening::Done:
        break;
    }
    switch (o.rc) {
    case 0:
        return progress(Progress::Done);
    case -2:
        return progress(Progress::Failed, QStringLiteral("no reply to the Forward Open"));
    case -3:
        return progress(Progress::Failed, QStringLiteral("Forward Open refused"));
    default:
        return progress(Progress::Failed, QStringLiteral("Forward Open reply not understood"));
    }
}

int CmdQuorvex::ensureTransport()
{
    if (!recovery.active())
        return Connection_status() == 0 ? 0 : -3;
    if (!recovery.down()) {
        if (transportUp())
            return 0;
        recovery.lost(transportError());
    }
    recovery.advance();
    return recovery.down() ? -3 : 0;
}

// A transport lost while a read waited: the read is not connected, and
// the reopen starts beside the calls that follow.
void CmdQuorvex::lostWhileWaiting(int &rc)
{
    if (!recovery.active() || rc != -2 || transportUp())
        return;
    recovery.lost(transportError());
    rc = -3;
}

void CmdQuorvex::noteResult(int rc)
{
    if (!recovery.silentTooLong(rc, transportUp()))
        return;
    dropTransport();
    recovery.lost(Recovery::silenceReason(), Recovery::FirstStepMs);
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
