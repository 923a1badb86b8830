#include "SimServer.h"

#include "SimChannel.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace qsim
{

SimServer::SimServer(TagDatabase &db, FaultControl &faults, QObject *parent)
    : QObject(parent), db(db), faults(faults)
{
}

SimServer::~SimServer() = default;

bool SimServer::listen(const SimOptions &options, QString *error)
{
    if (options.serial) {
        line = new PtyChannel(db, faults, &sessionCounter, this);
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
        auto *channel = new TcpChannel(socket, db, faults, &sessionCounter, this);
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
