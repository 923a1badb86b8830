#include "Line.h"

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "FrameSync.h"
#include "SerialTiming.h"
#include "Waits.h"

#include <QEventLoop>
#include <QSerialPort>
#include <QTcpSocket>
#include <QTimer>

#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

namespace
{

constexpr int WriteWaitMs = 200;

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

Line::Line(const LineFields &fields) : f(fields) {}

bool Line::useSocket() const
{
    return f.tcpSocket != nullptr && activeTransport != Transport::Serial;
}

bool Line::useSerial() const
{
    return f.serialPort != nullptr && !useSocket();
}

int Line::status() const
{
    if (standIn)
        return 0;
    if (useSocket())
        return f.tcpSocket->state() == QAbstractSocket::ConnectedState ? 0 : -3;
    if (useSerial())
        return f.serialPort->isOpen() ? 0 : -3;
    return -3;
}

bool Line::failed() const
{
    if (status() != 0)
        return true;
    return useSerial() && f.serialPort->error() == QSerialPort::ResourceError;
}

// Appends what the device holds, but never lets the received bytes grow past
// the largest frame: a peer that floods the line cannot exhaust memory. The
// bytes are read straight into the buffer: readAll() grows a 16 KiB scratch
// block for every delivery, which cost more than the rest of a read.
void Line::drain(QIODevice *device)
{
    QByteArray &buffer = f.recvBuffer;
    for (qint64 avail = device->bytesAvailable(); avail > 0; avail = device->bytesAvailable()) {
        const int room = eip::MaxFrameSize - buffer.size();
        if (room <= 0) {
            const qint64 skipped = device->skip(avail);
            if (skipped <= 0)
                break;
            junk += quint64(skipped);
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

void Line::takeSocketBytes()
{
    if (f.tcpSocket != nullptr)
        drain(f.tcpSocket);
}

void Line::takeSerialBytes()
{
    if (f.frameTimer != nullptr && f.frameTimer->isActive())
        f.frameTimer->stop();
    if (f.serialPort != nullptr && f.serialPort->isOpen())
        drain(f.serialPort);
}

void Line::collect()
{
    if (f.tcpSocket != nullptr && f.tcpSocket->bytesAvailable() > 0)
        drain(f.tcpSocket);
}

void Line::takeReady()
{
    if (standIn || status() != 0)
        return;
    if (useSocket()) {
        waitOnSocket(0);
        return;
    }
    // A wait that finds nothing records a time-out: it is no error of the line.
    if (!f.serialPort->waitForReadyRead(0) && f.serialPort->error() == QSerialPort::TimeoutError)
        f.serialPort->clearError();
    flushSerial();
}

void Line::flushSerial()
{
    if (!useSerial() || !f.serialPort->isOpen())
        return;
    if (f.frameTimer != nullptr)
        f.frameTimer->stop();
    drain(f.serialPort);
}

void Line::clear()
{
    if (f.frameTimer != nullptr)
        f.frameTimer->stop();
    f.recvBuffer.clear();
    watch = SerialWatch();
}

void Line::dropReceived()
{
    junk += quint64(f.recvBuffer.size());
    f.recvBuffer.clear();
}

int Line::frontFrame()
{
    QByteArray &buffer = f.recvBuffer;
    const int cut = framesync::junkPrefix(buffer, f.sessionHandle);
    if (cut > 0) {
        buffer.remove(0, cut);
        junk += quint64(cut);
    }
    return eip::completeFrameSize(buffer);
}

int Line::send(const QByteArray &frame)
{
    if (standIn) {
        const QByteArray back = standIn(frame);
        f.recvBuffer.append(back.left(eip::MaxFrameSize - f.recvBuffer.size()));
        return 0;
    }
    QIODevice *device = nullptr;
    if (useSocket())
        device = f.tcpSocket;
    else if (useSerial())
        device = f.serialPort;
    if (device == nullptr)
        return 1;
    QTcpSocket *socket = f.tcpSocket;
    if (device == socket && socket->state() == QAbstractSocket::ConnectedState &&
        socket->bytesToWrite() == 0 && socket->socketDescriptor() >= 0) {
        const qint64 taken = sendDirect(socket->socketDescriptor(), frame);
        if (taken == frame.size())
            return 0;
        if (taken > 0) {
            socket->write(frame.constData() + taken, frame.size() - taken);
            socket->flush();
            socket->waitForBytesWritten(WriteWaitMs);
            return 0;
        }
    }
    device->write(frame);
    if (device == socket) {
        socket->flush();
        socket->waitForBytesWritten(WriteWaitMs);
    } else {
        f.serialPort->flush();
        // A serial port blocks the whole wait even when nothing is left to
        // write, which would add 200 ms to every exchange.
        if (f.serialPort->bytesToWrite() > 0)
            f.serialPort->waitForBytesWritten(WriteWaitMs);
    }
    return 0;
}

int Line::waitForReady(int ms)
{
    if (useSocket()) {
        f.tcpSocket->waitForReadyRead(ms);
        return 0;
    }
    if (useSerial()) {
        f.serialPort->waitForReadyRead(ms);
        return 0;
    }
    return 1;
}

// The blocking wait for a reply on the socket, reading what comes straight
// into the received bytes: Qt's own wait asks the system how much has come
// before it reads, and copies it through its read buffer and the readyRead
// slot. Only a plain "readable" is read here; a closed or failed socket, and
// bytes Qt holds already, go through the socket object so that its state,
// its error and the disconnect notice stay its own.
void Line::waitOnSocket(int ms)
{
    QTcpSocket *socket = f.tcpSocket;
    QByteArray &buffer = f.recvBuffer;
    const qintptr fd = socket->socketDescriptor();
    if (socket->bytesAvailable() > 0 || fd < 0) {
        const int before = buffer.size();
        drain(socket);
        if (buffer.size() == before)
            socket->waitForReadyRead(ms);
        return;
    }
    // A wait cut short by a signal returns as one that timed out: the
    // caller waits again for what is left of its own deadline.
    pollfd p = {static_cast<int>(fd), POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0)
        return;
    if (p.revents != POLLIN) {
        socket->waitForReadyRead(0);
        return;
    }
    char chunk[DirectReadBytes];
    const ssize_t n = ::recv(static_cast<int>(fd), chunk, sizeof chunk, MSG_DONTWAIT);
    if (n <= 0) {
        socket->waitForReadyRead(0);
        return;
    }
    // Bounded as every delivery is.
    const int room = qMax(0, eip::MaxFrameSize - buffer.size());
    buffer.append(chunk, static_cast<int>(qMin<ssize_t>(n, room)));
    if (n > room)
        junk += quint64(n - room);
}

// One polling step: a nested event loop that ends after `ms`, or as soon as
// a TCP delivery or a serial quiet gap has added bytes (those slots are
// attached first, so they have run when the loop quits).
void Line::waitStep(int ms)
{
    QEventLoop loop;
    QTimer step;
    step.setSingleShot(true);
    QObject::connect(&step, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (f.tcpSocket != nullptr)
        QObject::connect(f.tcpSocket, &QTcpSocket::readyRead, &loop, &QEventLoop::quit);
    if (f.frameTimer != nullptr)
        QObject::connect(f.frameTimer, &QTimer::timeout, &loop, &QEventLoop::quit);
    step.start(ms);
    loop.exec();
}

// Serial bytes that have come but are not yet received: they wait in the
// port for the quiet gap that ends a delivery.
bool Line::serialBytesOnHand() const
{
    return useSerial() && (f.serialPort->bytesAvailable() > 0 ||
                           (f.frameTimer != nullptr && f.frameTimer->isActive()));
}

void Line::wait(qint64 sinceSendMs, qint64 leftMs)
{
    // For the first-reply wait a blocking wait that dispatches only the
    // transport's own signals (on a socket also while a cut reply is
    // completed: its rest is on its way); after it, and on a serial line
    // once bytes come, short event-loop steps.
    const qint64 first = qMin<qint64>(leftMs, waits::FirstReplyWaitMs - sinceSendMs);
    if (sinceSendMs < waits::FirstReplyWaitMs && useSocket())
        waitOnSocket(static_cast<int>(first));
    else if (sinceSendMs < waits::FirstReplyWaitMs && f.recvBuffer.isEmpty() &&
             !serialBytesOnHand())
        waitForReady(static_cast<int>(first));
    else
        waitStep(static_cast<int>(qMin<qint64>(waits::PollStepMs, leftMs)));
}

// When a serial reply is on its way, the time by which it can be complete:
// the rest of the frame its header announces, at the line's speed, plus a
// margin. Recomputed only while bytes keep coming.
qint64 Line::serialFrameEnd(qint64 sinceSendMs)
{
    if (!useSerial() || !f.serialPort->isOpen())
        return 0;
    QSerialPort *port = f.serialPort;
    const qint64 have = f.recvBuffer.size() + port->bytesAvailable();
    if (have <= watch.have)
        return watch.endMs;
    watch.have = have;
    QByteArray head = f.recvBuffer.left(eip::HeaderSize);
    if (head.size() < eip::HeaderSize)
        head += port->peek(eip::HeaderSize - head.size());
    qint64 total = eip::HeaderSize;
    if (head.size() == eip::HeaderSize && framesync::plausibleStart(head, 0, f.sessionHandle))
        total += static_cast<qint64>(le::getPadded(head, eip::OffLength, 2));
    const int dataBits = port->dataBits() > 0 ? port->dataBits() : 8;
    const bool parity =
        port->parity() != QSerialPort::NoParity && port->parity() != QSerialPort::UnknownParity;
    int stopHalfBits = 2;
    if (port->stopBits() == QSerialPort::TwoStop)
        stopHalfBits = 4;
    else if (port->stopBits() == QSerialPort::OneAndHalfStop)
        stopHalfBits = 3;
    const qint64 wireMs =
        (serialtiming::wireTimeUs(qMax<qint64>(0, total - have), port->baudRate(),
                                  serialtiming::halfBitsPerChar(dataBits, parity, stopHalfBits)) +
         999) /
        1000;
    // A line a little slower than its nominal rate, the quiet gap that ends
    // a delivery and the polling step that notices it.
    watch.endMs = sinceSendMs + wireMs + wireMs / 8 + f.frameGapMs + 2 * waits::PollStepMs;
    return watch.endMs;
}
