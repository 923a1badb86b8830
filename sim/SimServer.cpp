#include "SimServer.h"

#include "SimChannel.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qsim
{

namespace
{

constexpr int SweepIntervalMs = 20;

// The listening socket's backlog as QTcpServer sets it, and the one that
// keeps its accept queue full with a connection of our own.
constexpr int ListenBacklog = 50;
constexpr int PulledBacklog = 0;
// On the loopback a connect that finds room is answered at once; one that
// does not within this long met a full queue.
constexpr int FillerWaitMs = 100;
constexpr int MaxFillers = 8;

// A connection of ours to the listening socket: -1 when it found the queue
// full (and is closed), else its descriptor.
int fillerConnection(const QHostAddress &address, quint16 port, bool *full)
{
    *full = false;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(address.toIPv4Address());
    const int rc = ::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    if (rc != 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    pollfd p{fd, POLLOUT, 0};
    int error = 0;
    socklen_t len = sizeof error;
    if (rc == 0 || (::poll(&p, 1, FillerWaitMs) > 0 &&
                    ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0))
        return fd;
    ::close(fd);
    *full = true;
    return -1;
}

} // namespace

SimServer::SimServer(TagDatabase &db, FaultControl &faults, QObject *parent)
    : QObject(parent), db(db), faults(faults)
{
    connect(&sweep, &QTimer::timeout, this, &SimServer::expireConnections);
    sweep.start(SweepIntervalMs);
}

SimServer::~SimServer()
{
    for (int f : qAsConst(fillers))
        ::close(f);
    // The channels use `shared`, which goes before QObject deletes children.
    qDeleteAll(findChildren<SimChannel *>(QString(), Qt::FindDirectChildrenOnly));
    line = nullptr;
}

void SimServer::expireConnections()
{
    shared.connections.expire(shared.nowMs(), faults.get().connectionTimeoutMs);
    faults.liveConnections = shared.connections.size();
}

bool SimServer::listen(const SimOptions &options, QString *error)
{
    shared.cip.route.slot = options.slot;
    shared.cip.route.bridge = options.bridge.toLatin1();
    shared.cip.route.direct = options.direct;
    shared.cip.maxConnectionSize = options.maxConnectionSize;
    shared.cip.forwardOpen = !options.noForwardOpen;
    shared.cip.largeForwardOpen = !options.noLargeForwardOpen;
    shared.cip.readModifyWrite = !options.noRmw;
    if (options.serial) {
        line = new PtyChannel(db, faults, shared, this);
        if (!line->open(error)) {
            delete line;
            line = nullptr;
            return false;
        }
        adopt(line);
        return true;
    }
    QHostAddress address;
    if (!address.setAddress(options.listenHost)) {
        *error = QStringLiteral("not an IP address: %1").arg(options.listenHost);
        return false;
    }
    server = new QTcpServer(this);
    if (!server->listen(address, options.port)) {
        *error = QStringLiteral("cannot listen on %1:%2: %3")
                     .arg(options.listenHost)
                     .arg(options.port)
                     .arg(server->errorString());
        delete server;
        server = nullptr;
        return false;
    }
    host = address.toString();
    listenAddress = address;
    listenPort = server->serverPort();
    connect(server, &QTcpServer::newConnection, this, &SimServer::accept);
    return true;
}

void SimServer::adopt(SimChannel *channel)
{
    connect(channel, &SimChannel::tagAnswered, this, &SimServer::countTag);
}

void SimServer::countTag()
{
    quint64 gen = 0;
    const SimFaults f = faults.get(&gen);
    if (gen != generation) {
        generation = gen;
        tagsSinceOutage = 0;
    }
    ++tagsSinceOutage;
    if (f.restartAfter > 0 && tagsSinceOutage >= f.restartAfter) {
        tagsSinceOutage = 0;
        // Not from inside the channel that has just answered.
        const int gap = f.restartGapMs;
        QTimer::singleShot(0, this, [this, gap] { restart(gap); });
    } else if (f.blackholeAfter > 0 && tagsSinceOutage >= f.blackholeAfter) {
        tagsSinceOutage = 0;
        shared.mutedUntilMs = shared.nowMs() + f.blackholeMs;
        ++faults.blackholes;
    } else if (f.pullAfter > 0 && tagsSinceOutage >= f.pullAfter) {
        tagsSinceOutage = 0;
        pull(f.pullMs);
    }
}

// A cable pulled between the clients and the controller: nothing is
// answered, nothing closed, and a connection attempt goes unanswered, as
// to a host that is gone: the accept queue is kept full by connections of
// our own, so the system drops the attempts' SYNs and the clients keep
// retrying. (A serial line only falls silent.)
void SimServer::pull(int ms)
{
    if (pulled)
        return;
    pulled = true;
    shared.mutedUntilMs = shared.nowMs() + ms;
    if (server && server->isListening()) {
        server->pauseAccepting();
        const int fd = static_cast<int>(server->socketDescriptor());
        ::listen(fd, PulledBacklog);
        bool full = false;
        for (int i = 0; i < MaxFillers && !full; ++i) {
            const int filler = fillerConnection(listenAddress, listenPort, &full);
            if (filler < 0)
                break;
            fillers.append(filler);
        }
    }
    QTimer::singleShot(qMax(0, ms), this, &SimServer::plugIn);
}

void SimServer::plugIn()
{
    if (server && server->isListening()) {
        // What sits in the queue is ours, or an attempt that got in before
        // the pull: neither is a client to serve now.
        const int fd = static_cast<int>(server->socketDescriptor());
        for (int c = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC); c >= 0;
             c = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC))
            ::close(c);
        ::listen(fd, ListenBacklog);
        server->resumeAccepting();
    }
    for (int f : qAsConst(fillers))
        ::close(f);
    fillers.clear();
    pulled = false;
    ++faults.pulls;
}

// A controller that goes down and comes back: the clients' connections end,
// nothing listens for a while, then the same port is served again, with
// fresh sessions and no CIP connections.
void SimServer::restart(int gapMs)
{
    if (!faults.listening)
        return;
    faults.listening = false;
    for (SimChannel *c : findChildren<SimChannel *>(QString(), Qt::FindDirectChildrenOnly))
        c->shutDown();
    if (server)
        server->close();
    else // a serial line stays; it drops what comes during the gap
        shared.mutedUntilMs = shared.nowMs() + gapMs;
    QTimer::singleShot(qMax(0, gapMs), this, &SimServer::listenAgain);
}

void SimServer::listenAgain()
{
    // The port was ours a moment ago; should another take it meanwhile, try again.
    if (server && !server->listen(listenAddress, listenPort)) {
        QTimer::singleShot(SweepIntervalMs, this, &SimServer::listenAgain);
        return;
    }
    faults.listening = true;
    ++faults.restarts;
}

void SimServer::accept()
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        ++faults.connections;
        auto *channel = new TcpChannel(socket, db, faults, shared, this);
        connect(channel, &SimChannel::finished, channel, &QObject::deleteLater);
        adopt(channel);
        if (socket->state() != QAbstractSocket::ConnectedState)
            channel->deleteLater();
    }
}

quint16 SimServer::port() const
{
    return server ? server->serverPort() : 0;
}

QString SimServer::serialPath() const
{
    return line ? line->slavePath() : QString();
}

QString SimServer::address() const
{
    return server ? QStringLiteral("%1:%2").arg(host).arg(port()) : QString();
}

int SimServer::openConnections() const
{
    return findChildren<TcpChannel *>(QString(), Qt::FindDirectChildrenOnly).size();
}

} // namespace qsim
