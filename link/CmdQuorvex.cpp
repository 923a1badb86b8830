#include "CmdQuorvex.h"

#include "Waits.h"

#include <QEventLoop>
#include <QSerialPort>
#include <QSignalBlocker>
#include <QTcpSocket>
#include <QTimer>

namespace
{

constexpr int ConnectWaitMs = 30000;
constexpr int DisconnectWaitMs = 30000;

} // namespace

CmdQuorvex::CmdQuorvex() = default;

CmdQuorvex::~CmdQuorvex()
{
    DestroyFree();
}

// ---- TCP ----

int CmdQuorvex::EthConnectDrive(QString host, int port)
{
    ++generation;
    recovery.aim(Recovery::Target::Tcp);
    tcpPort = port;
    if (tcpSocket == nullptr) {
        tcpSocket = new QTcpSocket(this);
        connect(tcpSocket, &QTcpSocket::connected, this, &CmdQuorvex::Ethconnected);
        connect(tcpSocket, &QTcpSocket::disconnected, this, &CmdQuorvex::Ethdisconnected);
        connect(tcpSocket, &QTcpSocket::readyRead, this, &CmdQuorvex::EthreadyRead);
        // A reopen's connect that fails ends its step at once.
        connect(tcpSocket, &QAbstractSocket::errorOccurred, this, [this] {
            if (recovery.attempting())
                recovery.advance();
        });
    }
    if (!hostAddress.setAddress(host))
        return -1;
    const int rc = connectTcp(ConnectWaitMs);
    // With the reconnect option a first connect that failed is retried in
    // the background, as a connection lost; the result stays the same. A
    // refused Forward Open on a transport that is up stays remembered.
    if (rc != 0 && !transportUp())
        recovery.lost(connectFailure, Recovery::FirstStepMs);
    return rc;
}

// The socket starts anew towards hostAddress:tcpPort; the connect is left
// to complete. The old socket ending was asked for, so it is no loss, and
// nothing owed on it can come on the new one.
void CmdQuorvex::startSocket()
{
    {
        const QSignalBlocker asked(tcpSocket);
        tcpSocket->abort();
    }
    linePart.clear();
    channel.giveUpAll();
    tcpSocket->connectToHost(hostAddress, static_cast<quint16>(tcpPort & 0xFFFF),
                             QIODevice::ReadWrite);
}

// Opens the socket anew to hostAddress:tcpPort, registers a session and
// opens the connection the options ask for.
int CmdQuorvex::connectTcp(int waitMs)
{
    closeConnection();
    startSocket();
    tcpSocket->waitForConnected(waitMs);
    const QAbstractSocket::SocketState state = tcpSocket->state();
    connectFailure = tcpSocket->errorString();
    // The registration must go over the new socket, but the socket carries
    // the traffic only once it is registered: a controller that refuses the
    // session must not take the requests away from a working serial line.
    const Line::Transport before = linePart.active();
    if (state == QAbstractSocket::ConnectedState)
        socketConnected();
    if (state == QAbstractSocket::ConnectingState || state == QAbstractSocket::ConnectedState) {
        if (send_reg() == 0) {
            connection.newTransport();
            reads.newConnection();
            return connection.open() == 0 ? 0 : -3;
        }
        connectFailure = QStringLiteral("no session registered");
        // Refused or unanswered: a socket without a session carries nothing
        // the controller would take, so it is not kept half open.
        const QSignalBlocker asked(tcpSocket);
        tcpSocket->abort();
    }
    linePart.setActive(before);
    return -3;
}

// The socket has just connected: it carries the traffic from now on.
void CmdQuorvex::socketConnected()
{
    if (options.reconnect)
        setKeepAlive();
    // Part requests of a window go out one right after the other: none may
    // wait for the acknowledgement of the one before.
    tcpSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    linePart.setActive(Line::Transport::Tcp);
}

int CmdQuorvex::EthDisConnectDrive()
{
    recovery.stop();
    if (tcpSocket == nullptr)
        return 1;
    if (linePart.useSocket())
        closeConnection();
    // The disconnect notice is for a peer that closes or a network that
    // fails; a close the host asked for records no error and is no news.
    const QSignalBlocker asked(tcpSocket);
    // A connect still pending is given up at once: closed, it would go on
    // connecting, and the wait below would wait for it.
    const QAbstractSocket::SocketState state = tcpSocket->state();
    if (state == QAbstractSocket::HostLookupState || state == QAbstractSocket::ConnectingState)
        tcpSocket->abort();
    tcpSocket->close();
    tcpSocket->disconnectFromHost();
    if (tcpSocket->state() != QAbstractSocket::UnconnectedState)
        tcpSocket->waitForDisconnected(DisconnectWaitMs);
    return 0;
}

// A reopen's connect has completed: its next step need not wait for a call.
void CmdQuorvex::Ethconnected()
{
    if (recovery.attempting())
        recovery.advance();
}

void CmdQuorvex::Ethdisconnected()
{
    auto *socket = qobject_cast<QTcpSocket *>(sender());
    if (socket == nullptr)
        socket = tcpSocket;
    const int error = socket != nullptr ? static_cast<int>(socket->error()) : -1;
    linklog::warn(linklog::at("lib[Quorvex]%1:%2 Disconnected=%3", where, QString::number(error)));
}

// Every delivery is added to what has come: a reply that comes in several
// TCP segments must reach the caller whole, not as its last piece.
void CmdQuorvex::EthreadyRead()
{
    linePart.takeSocketBytes();
    if (recovery.attempting())
        recovery.advance(); // a reply a reopen waits for
}

// ---- serial line ----

int CmdQuorvex::serialConnectDrive(QString portName, int baudRate, int dataBits, int stopBits,
                                   QString parity)
{
    ++generation;
    recovery.aim(Recovery::SerialPort{portName, parity, baudRate, dataBits, stopBits});
    if (!openSerial(portName, baudRate, dataBits, stopBits, parity)) {
        // With the reconnect option an adapter not there yet is looked for
        // in the background; the result stays the same.
        recovery.lost(serialPort->errorString(), Recovery::FirstStepMs);
        return -1;
    }
    connection.newTransport();
    reads.newConnection();
    return connection.open() == 0 ? 0 : -3;
}

// Opens and sets up the port, without the connection the options ask for.
bool CmdQuorvex::openSerial(const QString &portName, int baudRate, int dataBits, int stopBits,
                            const QString &parity)
{
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
        return false;
    linePart.setActive(Line::Transport::Serial);
    linePart.clear();

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
    return true;
}

int CmdQuorvex::serialDisConnectDrive()
{
    recovery.stop();
    if (serialPort == nullptr || !serialPort->isOpen())
        return 1;
    if (linePart.useSerial())
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
// what has come; a frame that is still short keeps SendData waiting.
void CmdQuorvex::TimerTimeOut()
{
    linePart.takeSerialBytes();
    if (recovery.attempting())
        recovery.advance();
}

// ---- send and wait ----

int CmdQuorvex::Only_send(const QByteArray &request)
{
    return linePart.send(request);
}

int CmdQuorvex::waitForReady(int ms)
{
    return linePart.waitForReady(ms);
}

int CmdQuorvex::SendData(const QByteArray &request, QByteArray &reply, int timeoutMs)
{
    return channel.exchange(request, reply, timeoutMs <= 0 ? 0 : replyWaitMs(timeoutMs));
}

int CmdQuorvex::replyWaitMs(int timeoutMs) const
{
    return options.replyTimeoutMs > 0 ? options.replyTimeoutMs
                                      : waits::FirstReplyWaitMs + timeoutMs;
}

void CmdQuorvex::mysleep(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

int CmdQuorvex::Connection_status()
{
    return linePart.status();
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
    if (linePart.active() == Line::Transport::Tcp)
        linePart.setActive(Line::Transport::None);
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
    if (linePart.active() == Line::Transport::Serial)
        linePart.setActive(Line::Transport::None);
    return 0;
}

// Both transports are released: a socket left behind a serial port would
// keep its connection and session open until the object died.
int CmdQuorvex::DestroyFree()
{
    recovery.stop();
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

// ---- options ----

void CmdQuorvex::setOptions(const LinkOptions &o)
{
    options = o;
    // A new ConnectDrive ends an explicit disconnect, any outage and a
    // reopen under way.
    recovery.begin(o.reconnect, replyWaitMs(waits::ReplyWaitMs));
}

void CmdQuorvex::closeConnection()
{
    if (linePart.status() == 0)
        connection.close();
    else
        connection.forget();
}
