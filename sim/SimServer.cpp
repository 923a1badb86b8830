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

SimServer::SimServer(const TagDatabase &db, FaultControl &faults, QObject *parent)
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
    if (options.serial) {
        line = new PtyChannel(db, faults, shared, this);
        if (!line->open(error)) {
            delete line;
            line = nullptr;
            return false;
        }
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
    connect(server, &QTcpServer::newConnection, this, &SimServer::accept);
    return true;
}

void SimServer::accept()
{
    while (QTcpSocket *socket = server->nextPendingConnection()) {
        ++faults.connections;
        auto *channel = new TcpChannel(socket, db, faults, shared, this);
        connect(channel, &SimChannel::finished, channel, &QObject::deleteLater);
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
