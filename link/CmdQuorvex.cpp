#include "CmdQuorvex.h"

#include "EipProtocol.h"
#include "EncapFrame.h"
#include "FragmentWindow.h"
#include "FrameSync.h"
#include "ReadFrames.h"
#include "SerialTiming.h"
#include "UnitData.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSerialPort>
#include <QSignalBlocker>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

namespace
{

constexpr int ConnectWaitMs = 30000;
constexpr int DisconnectWaitMs = 30000;
constexpr int WriteWaitMs = 200;
constexpr int FirstReplyWaitMs = 500;
constexpr int PollStepMs = 10;

// Appends what the device holds, but never lets one request's buffer grow
// past the largest frame: a peer that floods the line cannot exhaust memory,
// and the reply is at most one frame anyway. The bytes are read straight
// into the buffer: readAll() grows a 16 KiB scratch block for every
// delivery, which cost more than the rest of a read.
void drainBounded(QIODevice *device, QByteArray &buffer)
{
    for (qint64 avail = device->bytesAvailable(); avail > 0; avail = device->bytesAvailable()) {
        const int room = eip::MaxFrameSize - buffer.size();
        if (room <= 0) {
            if (device->skip(avail) <= 0)
                break;
            continue;
        }
        const int old = buffer.size();
        const int take = static_cast<int>(qMin<qint64>(avail, room));
        buffer.resize(old + take);
        const qint64 got = device->read(buffer.data() + old, take);
        buffer.resize(old + static_cast<int>(qMax<qint64>(got, 0)));
        if (got <= 0)
            break;
    }
}

// Bytes the system has received on the socket that Qt has not picked up yet.
int unreadInSystem(qintptr fd)
{
    int n = 0;
    if (fd < 0 || ::ioctl(static_cast<int>(fd), FIONREAD, &n) != 0)
        return 0;
    return n;
}

// A read straight from the socket takes at most this much at a time: a
// one-element reply is a few dozen bytes, a fragment of a large connection
// about 4 KB; a longer frame is taken in several reads.
constexpr int DirectReadBytes = 8192;

// Hands the request to the system when nothing waits in Qt's write buffer:
// a write through the socket object turns its write notifier on and off,
// and each of those wakes the event dispatcher with a system call of its
// own. Returns the bytes the system took; -1 leaves all of it to Qt, which
// then meets any error as before.
qint64 sendDirect(qintptr fd, const QByteArray &data)
{
    for (;;) {
        const ssize_t n = ::send(static_cast<int>(fd), data.constData(),
                                 static_cast<size_t>(data.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 ? -1 : n;
    }
}

} // namespace

CmdQuorvex::CmdQuorvex() = default;

CmdQuorvex::~CmdQuorvex()
{
    DestroyFree();
}

// ---- transport selection ----

// The transport that connected last carries the traffic; before any
// connection succeeded, a socket object wins over a serial port.
bool CmdQuorvex::useSocket() const
{
    return tcpSocket != nullptr && activeTransport != Transport::Serial;
}

bool CmdQuorvex::useSerial() const
{
    return serialPort != nullptr && !useSocket();
}

// ---- TCP ----

int CmdQuorvex::EthConnectDrive(QString host, int port)
{
    ++generation;
    recovery.target = Transport::Tcp;
    tcpPort = port;
    if (tcpSocket == nullptr) {
        tcpSocket = new QTcpSocket(this);
        connect(tcpSocket, &QTcpSocket::connected, this, &CmdQuorvex::Ethconnected);
        connect(tcpSocket, &QTcpSocket::disconnected, this, &CmdQuorvex::Ethdisconnected);
        connect(tcpSocket, &QTcpSocket::readyRead, this, &CmdQuorvex::EthreadyRead);
    }
    if (!hostAddress.setAddress(host))
        return -1;
    closeConnection();
    {
        // The host asked for a new connection: the old one ending is no loss.
        const QSignalBlocker asked(tcpSocket);
        tcpSocket->abort();
    }
    lateContexts.clear(); // a new connection owes nothing
    tcpSocket->connectToHost(hostAddress, static_cast<quint16>(tcpPort & 0xFFFF),
                             QIODevice::ReadWrite);
    tcpSocket->waitForConnected(recovery.reopening ? Recovery::ConnectWaitMs : ConnectWaitMs);
    const QAbstractSocket::SocketState state = tcpSocket->state();
    if (options.reconnect && state == QAbstractSocket::ConnectedState)
        setKeepAlive();
    // Part requests of a window go out one right after the other: none may
    // wait for the acknowledgement of the one before.
    if (state == QAbstractSocket::ConnectedState)
        tcpSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // The registration must go over the new socket, but the socket carries
    // the traffic only once it is registered: a controller that refuses the
    // session must not take the requests away from a working serial line.
    const Transport before = activeTransport;
    if (state == QAbstractSocket::ConnectedState)
        activeTransport = Transport::Tcp;
    if (state == QAbstractSocket::ConnectingState || state == QAbstractSocket::ConnectedState) {
        if (send_reg() == 0) {
            largeRefused = smallRefused = false;
            const int rc = openConnection();
            // Nothing is known yet of what this peer sends unasked.
            strayCheckDue = true;
            straysSeen = false;
            return rc;
        }
    }
    activeTransport = before;
    return -3;
}

int CmdQuorvex::EthDisConnectDrive()
{
    recovery.stopped = true;
    if (tcpSocket == nullptr)
        return 1;
    if (useSocket())
        closeConnection();
    // The disconnect notice is for a peer that closes or a network that
    // fails; a close the host asked for records no error and is no news.
    const QSignalBlocker asked(tcpSocket);
    tcpSocket->close();
    tcpSocket->disconnectFromHost();
    if (tcpSocket->state() != QAbstractSocket::UnconnectedState)
        tcpSocket->waitForDisconnected(DisconnectWaitMs);
    return 0;
}

void CmdQuorvex::Ethconnected() {}

void CmdQuorvex::Ethdisconnected()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (socket == nullptr)
        socket = tcpSocket;
    const int error = socket != nullptr ? static_cast<int>(socket->error()) : -1;
    qWarning().noquote() << QString("lib[Quorvex]%1:%2 Disconnected=%3")
                                .arg(hostAddress.toString())
                                .arg(tcpPort)
                                .arg(error);
}

// Every delivery is added to what the request already holds: a reply that
// comes in several TCP segments must reach the caller whole, not as its
// last piece.
void CmdQuorvex::EthreadyRead()
{
    if (tcpSocket == nullptr)
        return;
    drainBounded(tcpSocket, recvBuffer);
}

// ---- serial line ----

int CmdQuorvex::serialConnectDrive(QString portName, int baudRate, int dataBits, int stopBits,
                                   QString parity)
{
    ++generation;
    recovery.target = Transport::Serial;
    recovery.serial = {portName, parity, baudRate, dataBits, stopBits};
    if (serialPort == nullptr)
        serialPort = new QSerialPort(this);
    closeConnection();
    if (serialPort->isOpen()) {
        if (frameTimer != nullptr)
            frameTimer->stop();
        serialPort->clear(QSerialPort::AllDirections);
        serialPort->close();
    }
    serialPort->setPortName(portName);
    if (!serialPort->open(QIODevice::ReadWrite))
        return -1;
    activeTransport = Transport::Serial;
    lateContexts.clear();

    switch (baudRate) {
    case 2400:
        frameGapMs = 10;
        break;
    case 4800:
        frameGapMs = 6;
        break;
    case 9600:
        frameGapMs = 3;
        break;
    default:
        break;
    }
    switch (baudRate) {
    case 1200:
    case 2400:
    case 4800:
    case 9600:
    case 19200:
    case 38400:
    case 57600:
    case 115200:
        serialPort->setBaudRate(baudRate, QSerialPort::AllDirections);
        break;
    default:
        break;
    }

    if (dataBits >= 5 && dataBits <= 8)
        serialPort->setDataBits(static_cast<QSerialPort::DataBits>(dataBits));

    if (stopBits == 1)
        serialPort->setStopBits(QSerialPort::OneStop);
    else if (stopBits == 2)
        serialPort->setStopBits(QSerialPort::TwoStop);
    else if (stopBits == 3)
        serialPort->setStopBits(QSerialPort::OneAndHalfStop);

    // Judged by the first letter only: searching the whole text for the
    // letters made "Even" (it holds an n) select no parity, and left mark and
    // space parity out of reach.
    const ushort letter = parity.isEmpty() ? 0 : parity.at(0).toUpper().unicode();
    switch (letter) {
    case 'N':
        serialPort->setParity(QSerialPort::NoParity);
        break;
    case 'E':
        serialPort->setParity(QSerialPort::EvenParity);
        break;
    case 'O':
        serialPort->setParity(QSerialPort::OddParity);
        break;
    case 'M':
        serialPort->setParity(QSerialPort::MarkParity);
        break;
    case 'S':
        serialPort->setParity(QSerialPort::SpaceParity);
        break;
    default:
        break;
    }

    serialPort->setFlowControl(QSerialPort::NoFlowControl);
    // Unique: the port is reopened by every call, and a second attachment
    // would only run the slot twice per delivery.
    connect(serialPort, &QSerialPort::readyRead, this, &CmdQuorvex::serialreadyRead,
            Qt::UniqueConnection);
    if (frameTimer == nullptr) {
        frameTimer = new QTimer(this);
        frameTimer->setSingleShot(false);
        connect(frameTimer, &QTimer::timeout, this, &CmdQuorvex::TimerTimeOut);
    }
    largeRefused = smallRefused = false;
    return openConnection();
}

int CmdQuorvex::serialDisConnectDrive()
{
    recovery.stopped = true;
    if (serialPort == nullptr || !serialPort->isOpen())
        return 1;
    if (useSerial())
        closeConnection();
    // A gap timer left running would read from the closed port.
    if (frameTimer != nullptr)
        frameTimer->stop();
    serialPort->clear(QSerialPort::AllDirections);
    serialPort->close();
    return 0;
}

void CmdQuorvex::serialreadyRead()
{
    if (frameTimer == nullptr)
        return;
    frameTimer->stop();
    frameTimer->start(frameGapMs);
}

// The line went quiet: what the port holds is one delivery. It is added to
// the request's bytes; a frame that is still short keeps SendData waiting.
void CmdQuorvex::TimerTimeOut()
{
    if (frameTimer != nullptr && frameTimer->isActive())
        frameTimer->stop();
    if (serialPort != nullptr && serialPort->isOpen())
        drainBounded(serialPort, recvBuffer);
}

// ---- send and wait ----

int CmdQuorvex::Only_send(const QByteArray &request)
{
    QIODevice *device = nullptr;
    if (useSocket())
        device = tcpSocket;
    else if (useSerial())
        device = serialPort;
    if (device == nullptr)
        return 1;
    if (device == tcpSocket && tcpSocket->state() == QAbstractSocket::ConnectedState &&
        tcpSocket->bytesToWrite() == 0 && tcpSocket->socketDescriptor() >= 0) {
        const qint64 taken = sendDirect(tcpSocket->socketDescriptor(), request);
        if (taken == request.size())
            return 0;
        if (taken > 0) {
            tcpSocket->write(request.constData() + taken, request.size() - taken);
            tcpSocket->flush();
            tcpSocket->waitForBytesWritten(WriteWaitMs);
            return 0;
        }
    }
    device->write(request);
    if (device == tcpSocket) {
        tcpSocket->flush();
        tcpSocket->waitForBytesWritten(WriteWaitMs);
    } else {
        serialPort->flush();
        // A serial port blocks the whole wait even when nothing is left to
        // write, which would add 200 ms to every exchange.
        if (serialPort->bytesToWrite() > 0)
            serialPort->waitForBytesWritten(WriteWaitMs);
    }
    return 0;
}

int CmdQuorvex::waitForReady(int ms)
{
    if (useSocket()) {
        tcpSocket->waitForReadyRead(ms);
        return 0;
    }
    if (useSerial()) {
        serialPort->waitForReadyRead(ms);
        return 0;
    }
    return 1;
}

// The blocking wait for a reply on the socket, reading what comes straight
// into recvBuffer: Qt's own wait asks the system how much has come before
// it reads, and copies it through its read buffer and the readyRead slot.
// Only a plain "readable" is read here; a closed or failed socket, and
// bytes Qt holds already, go through the socket object so that its state,
// its error and the disconnect notice stay its own.
void CmdQuorvex::waitOnSocket(int ms)
{
    const qintptr fd = tcpSocket->socketDescriptor();
    if (tcpSocket->bytesAvailable() > 0 || fd < 0) {
        drainBounded(tcpSocket, recvBuffer);
        if (recvBuffer.isEmpty())
            tcpSocket->waitForReadyRead(ms);
        return;
    }
    pollfd p = {static_cast<int>(fd), POLLIN, 0};
    int ready = 0;
    QElapsedTimer clock;
    clock.start();
    do {
        const int left = static_cast<int>(qMax<qint64>(0, ms - clock.elapsed()));
        ready = ::poll(&p, 1, left);
    } while (ready < 0 && errno == EINTR && clock.elapsed() < ms);
    if (ready <= 0)
        return;
    if (p.revents != POLLIN) {
        tcpSocket->waitForReadyRead(0);
        return;
    }
    char chunk[DirectReadBytes];
    const ssize_t n = ::recv(static_cast<int>(fd), chunk, sizeof chunk, MSG_DONTWAIT);
    if (n <= 0) {
        tcpSocket->waitForReadyRead(0);
        return;
    }
    // Bounded as every delivery is: the reply is at most one frame.
    const int room = eip::MaxFrameSize - recvBuffer.size();
    if (room > 0)
        recvBuffer.append(chunk, static_cast<int>(qMin<ssize_t>(n, room)));
    if (n > room)
        straysSeen = true;
}

// Leftovers of an earlier exchange (a late or duplicated reply) must not be
// handed over as the answer to the request about to be sent.
void CmdQuorvex::discardPending()
{
    // Requests sent with sendOwned are in flight: what came since the first
    // of them went out (sendOwned discarded the rest) is theirs or this
    // request's, and takeOwnFrame tells which.
    if (!ownedRequests.isEmpty())
        return;
    if (tcpSocket != nullptr && tcpSocket->state() == QAbstractSocket::ConnectedState) {
        // Bytes Qt picked up between requests came unasked; frames left over
        // from parts in flight together may have more behind them.
        if (tcpSocket->bytesAvailable() > 0)
            straysSeen = true;
        if (!recvBuffer.isEmpty())
            strayCheckDue = true;
        if (straysSeen || strayCheckDue || !lateContexts.isEmpty()) {
            // Pick up what the system already holds, then throw all of it
            // away. Bytes that no owed reply explains came unasked.
            for (int i = 0; i < 4 && unreadInSystem(tcpSocket->socketDescriptor()) > 0; ++i) {
                straysSeen = straysSeen || lateContexts.isEmpty();
                tcpSocket->waitForReadyRead(0);
            }
            strayCheckDue = false;
        }
        // readAll() would size a 16 KiB block even for nothing.
        if (tcpSocket->bytesAvailable() > 0)
            tcpSocket->readAll();
    }
    if (frameTimer != nullptr)
        frameTimer->stop();
    if (serialPort != nullptr && serialPort->isOpen()) {
        serialPort->readAll();
        serialPort->clear(QSerialPort::Input);
    }
    recvBuffer.clear();
}

// One polling step: a nested event loop that ends after `ms`, or as soon as
// a TCP delivery or a serial quiet gap has added bytes to recvBuffer (those
// slots are attached first, so they have run when the loop quits).
void CmdQuorvex::waitStep(int ms)
{
    QEventLoop loop;
    QTimer step;
    step.setSingleShot(true);
    connect(&step, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (tcpSocket != nullptr)
        connect(tcpSocket, &QTcpSocket::readyRead, &loop, &QEventLoop::quit);
    if (frameTimer != nullptr)
        connect(frameTimer, &QTimer::timeout, &loop, &QEventLoop::quit);
    step.start(ms);
    loop.exec();
}

// Serial bytes that have come but are not yet in recvBuffer: they wait in
// the port for the quiet gap that ends a delivery.
bool CmdQuorvex::serialBytesOnHand() const
{
    return useSerial() &&
           (serialPort->bytesAvailable() > 0 || (frameTimer != nullptr && frameTimer->isActive()));
}

// Takes the first whole frame that answers this request, dropping on the
// way whatever cannot start a frame (the tail of a cut reply) and replies
// owed to requests that timed out.
bool CmdQuorvex::takeOwnFrame(const QByteArray &request, QByteArray &reply)
{
    const QByteArray session = tagread::sessionBytes(sessionHandle);
    for (;;) {
        const int junk = framesync::junkPrefix(recvBuffer, session);
        if (junk > 0) {
            recvBuffer.remove(0, junk);
            straysSeen = true;
        }
        const int frame = eip::completeFrameSize(recvBuffer);
        if (frame == 0)
            return false;
        if (!ownedRequests.isEmpty() && holdOwned(recvBuffer.left(frame))) {
            recvBuffer.remove(0, frame);
            continue;
        }
        // On a connection the sequence count tells: another one is owed
        // to a request that timed out, or a duplicate.
        if (cipConnection.open &&
            unitdata::answersAnother(request, recvBuffer.left(frame), cipConnection.toId)) {
            recvBuffer.remove(0, frame);
            strayCheckDue = true;
            continue;
        }
        // A request that timed out may be answered after a later one was
        // sent; its reply echoes that request's context. Replies arrive in
        // order, so that context and every older one are settled.
        const int owed = lateContexts.isEmpty()
                             ? -1
                             : lateContexts.indexOf(encap::senderContext(recvBuffer.left(frame)));
        if (owed >= 0 && lateContexts.at(owed) != encap::senderContext(request)) {
            lateContexts.erase(lateContexts.begin(), lateContexts.begin() + owed + 1);
            recvBuffer.remove(0, frame);
            strayCheckDue = true;
            continue;
        }
        lateContexts.clear();
        // Usually the buffer holds just this frame: handed over as it is.
        // Bytes behind it came unasked, and more of them may follow.
        if (reply.isEmpty() && frame == recvBuffer.size()) {
            reply.swap(recvBuffer);
        } else {
            straysSeen = straysSeen || frame < recvBuffer.size();
            reply.append(recvBuffer.left(frame));
        }
        recvBuffer.clear();
        return true;
    }
}

// When a serial reply is on its way, the time by which it can be complete:
// the rest of the frame its header announces, at the line's speed, plus a
// margin. Recomputed only while bytes keep coming.
qint64 CmdQuorvex::serialFrameEnd(SerialWatch &watch, qint64 nowMs)
{
    const qint64 have = recvBuffer.size() + serialPort->bytesAvailable();
    if (have <= watch.have)
        return watch.endMs;
    watch.have = have;
    QByteArray head = recvBuffer.left(eip::HeaderSize);
    if (head.size() < eip::HeaderSize)
        head += serialPort->peek(eip::HeaderSize - head.size());
    qint64 total = eip::HeaderSize;
    if (head.size() == eip::HeaderSize &&
        framesync::plausibleStart(head, 0, tagread::sessionBytes(sessionHandle)))
        total += static_cast<qint64>(le::getPadded(head, eip::OffLength, 2));
    const int dataBits = serialPort->dataBits() > 0 ? serialPort->dataBits() : 8;
    const bool parity = serialPort->parity() != QSerialPort::NoParity &&
                        serialPort->parity() != QSerialPort::UnknownParity;
    int stopHalfBits = 2;
    if (serialPort->stopBits() == QSerialPort::TwoStop)
        stopHalfBits = 4;
    else if (serialPort->stopBits() == QSerialPort::OneAndHalfStop)
        stopHalfBits = 3;
    const qint64 wireMs =
        (serialtiming::wireTimeUs(qMax<qint64>(0, total - have), serialPort->baudRate(),
                                  serialtiming::halfBitsPerChar(dataBits, parity, stopHalfBits)) +
         999) /
        1000;
    // A line a little slower than its nominal rate, the quiet gap that ends
    // a delivery and the polling step that notices it.
    watch.endMs = nowMs + wireMs + wireMs / 8 + frameGapMs + 2 * PollStepMs;
    return watch.endMs;
}

int CmdQuorvex::SendData(const QByteArray &request, QByteArray &reply, int timeoutMs)
{
    if (testLine)
        return testLineExchange(request, reply);
    discardPending();
    const bool sent = Only_send(request) == 0;
    // Every wait below runs to one deadline counted from here, whatever
    // arrives and is dropped in between.
    QElapsedTimer clock;
    clock.start();
    if (timeoutMs <= 0) {
        if (eip::completeFrameSize(recvBuffer) == 0 && !serialBytesOnHand())
            waitForReady(FirstReplyWaitMs);
        oweReply(sent, encap::senderContext(request));
        return -1;
    }
    const qint64 waitMs = replyWaitMs(timeoutMs);
    SerialWatch watch;
    for (;;) {
        if (takeOwnFrame(request, reply))
            return 0;
        // A transport that closed meanwhile brings nothing more; its waits
        // would return at once, again and again, until the deadline.
        if (Connection_status() != 0)
            break;
        const qint64 now = clock.elapsed();
        qint64 deadline = waitMs;
        if (useSerial() && serialPort->isOpen())
            deadline = qMax(deadline, serialFrameEnd(watch, now));
        const qint64 left = deadline - now;
        if (left <= 0)
            break;
        // Lost as the reconnect option sees it: also a serial adapter that
        // was unplugged, which stays open with a resource error.
        if (recovering() && !transportUp() && recvBuffer.isEmpty())
            break;
        // For the first-reply wait a blocking wait that dispatches only the
        // transport's own signals (on a socket also while a cut reply is
        // completed: its rest is on its way); after it, and on a serial line
        // once bytes come, short event-loop steps, which let the host's
        // events through and the serial quiet-gap timer fire.
        const int firstWait = static_cast<int>(qMin<qint64>(left, FirstReplyWaitMs - now));
        if (now < FirstReplyWaitMs && useSocket())
            waitOnSocket(firstWait);
        else if (now < FirstReplyWaitMs && recvBuffer.isEmpty() && !serialBytesOnHand())
            waitForReady(firstWait);
        else
            waitStep(static_cast<int>(qMin<qint64>(PollStepMs, left)));
    }
    oweReply(sent, encap::senderContext(request));
    // Serial bytes still waiting for their quiet gap came all the same.
    if (useSerial() && serialPort->isOpen()) {
        if (frameTimer != nullptr)
            frameTimer->stop();
        drainBounded(serialPort, recvBuffer);
        recvBuffer.remove(0,
                          framesync::junkPrefix(recvBuffer, tagread::sessionBytes(sessionHandle)));
    }
    if (recvBuffer.isEmpty())
        return -1;
    reply.append(recvBuffer);
    recvBuffer.clear();
    return 0;
}

int CmdQuorvex::replyWaitMs(int timeoutMs) const
{
    return replyTimeoutMs > 0 ? replyTimeoutMs : FirstReplyWaitMs + timeoutMs;
}

int CmdQuorvex::sendOwned(const QByteArray &request)
{
    // The first of a group goes out as SendData sends: with nothing stale
    // left to be taken for a reply.
    if (ownedRequests.isEmpty())
        discardPending();
    if (Only_send(request) != 0)
        return -1;
    ownedRequests.append(request);
    while (ownedRequests.size() > MaxLateContexts)
        ownedRequests.removeFirst();
    return 0;
}

// A whole frame answering a request sent with sendOwned is kept for
// receiveOwned, whichever wait it came in.
bool CmdQuorvex::holdOwned(const QByteArray &frame)
{
    const quint32 toId = cipConnection.open ? cipConnection.toId : 0;
    if (ownedRequests.isEmpty() || fragwindow::answeredRequest(ownedRequests, frame, toId) < 0)
        return false;
    heldReplies.append(frame);
    while (heldReplies.size() > MaxLateContexts)
        heldReplies.removeFirst();
    return true;
}

int CmdQuorvex::takeHeld(const QVector<QByteArray> &requests, QByteArray &reply)
{
    const quint32 toId = cipConnection.open ? cipConnection.toId : 0;
    for (int i = 0; i < heldReplies.size(); ++i) {
        const int which = fragwindow::answeredRequest(requests, heldReplies.at(i), toId);
        if (which >= 0) {
            reply.append(heldReplies.takeAt(i));
            releaseOwned(requests.at(which));
            return which;
        }
    }
    return -1;
}

void CmdQuorvex::releaseOwned(const QByteArray &request)
{
    ownedRequests.removeOne(request);
}

int CmdQuorvex::receiveOwned(const QVector<QByteArray> &requests, int waitMs, QByteArray &reply)
{
    QElapsedTimer clock;
    clock.start();
    const QByteArray session = tagread::sessionBytes(sessionHandle);
    const quint32 toId = cipConnection.open ? cipConnection.toId : 0;
    const int held = takeHeld(requests, reply);
    if (held >= 0)
        return held;
    for (;;) {
        // Frames of nobody in flight (late, duplicated) are dropped.
        for (;;) {
            const int junk = framesync::junkPrefix(recvBuffer, session);
            if (junk > 0) {
                recvBuffer.remove(0, junk);
                straysSeen = true;
            }
            const int size = eip::completeFrameSize(recvBuffer);
            if (size == 0)
                break;
            const QByteArray frame = recvBuffer.left(size);
            recvBuffer.remove(0, size);
            const int which = fragwindow::answeredRequest(requests, frame, toId);
            if (which >= 0) {
                reply.append(frame);
                releaseOwned(requests.at(which));
                return which;
            }
            if (holdOwned(frame))
                continue;
            lateContexts.removeOne(encap::senderContext(frame));
            strayCheckDue = true;
        }
        const qint64 left = waitMs - clock.elapsed();
        if (left <= 0 || Connection_status() != 0)
            return -1;
        if (useSocket() && recvBuffer.isEmpty())
            waitForReady(static_cast<int>(left));
        else
            waitStep(static_cast<int>(qMin<qint64>(PollStepMs, left)));
    }
}

void CmdQuorvex::abandonRequest(const QByteArray &request)
{
    releaseOwned(request);
    // A reply held for it has come already: nothing more is owed.
    const quint32 toId = cipConnection.open ? cipConnection.toId : 0;
    for (int i = 0; i < heldReplies.size(); ++i) {
        if (fragwindow::answeredRequest({request}, heldReplies.at(i), toId) == 0) {
            heldReplies.removeAt(i);
            return;
        }
    }
    oweReply(true, encap::senderContext(request));
}

// A request that got no whole reply in time may still be answered later.
void CmdQuorvex::oweReply(bool sent, const QByteArray &context)
{
    if (!sent)
        return;
    strayCheckDue = true;
    lateContexts.append(context);
    while (lateContexts.size() > MaxLateContexts)
        lateContexts.removeFirst();
}

void CmdQuorvex::mysleep(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int CmdQuorvex::Connection_status()
{
    if (testLine)
        return 0;
    if (useSocket())
        return tcpSocket->state() == QAbstractSocket::ConnectedState ? 0 : -3;
    if (useSerial())
        return serialPort->isOpen() ? 0 : -3;
    return -3;
}

// ---- release ----

int CmdQuorvex::deletetcpSocket()
{
    if (tcpSocket != nullptr) {
        QTcpSocket *socket = tcpSocket;
        // Released on the host's request: no disconnect notice.
        if (socket->state() != QAbstractSocket::UnconnectedState) {
            const QSignalBlocker asked(socket);
            socket->abort();
        }
        tcpSocket = nullptr;
        delete socket;
    }
    if (activeTransport == Transport::Tcp)
        activeTransport = Transport::None;
    return 0;
}

// The socket's slots stay attached: they are made once per socket object and
// the socket keeps working after the serial objects are gone.
int CmdQuorvex::deleteSerialPort()
{
    delete frameTimer;
    frameTimer = nullptr;
    delete serialPort;
    serialPort = nullptr;
    if (activeTransport == Transport::Serial)
        activeTransport = Transport::None;
    return 0;
}

// Both transports are released: a socket left behind a serial port would
// keep its connection and session open until the object died.
int CmdQuorvex::DestroyFree()
{
    recovery.stopped = true;
    bool released = false;
    if (serialPort != nullptr) {
        serialDisConnectDrive();
        deleteSerialPort();
        released = true;
    }
    if (tcpSocket != nullptr) {
        if (tcpSocket->state() != QAbstractSocket::UnconnectedState)
            EthDisConnectDrive();
        deletetcpSocket();
        released = true;
    }
    return released ? 0 : 1;
}
