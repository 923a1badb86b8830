#include "SimServer.h"

#include "SimChannel.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace qsim
{

namespace
{

constexpr int SweepIntervalMs = 20;

} // namespace

SimServer::SimServer(TagDatabase &db, FaultControl &faults, QObject *parent)
    : QObject(parent), db(db), faults(faults)
{
    connect(&sweep, &QTimer::timeout, this, &SimServer::expireConnections);
    sweep.start(SweepIntervalMs);
}

SimServer::~SimServer()
{
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
    }
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
