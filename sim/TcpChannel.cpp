#include "EipProtocol.h"
#include "SimChannel.h"

#include <QTcpSocket>

namespace qsim
{

TcpChannel::TcpChannel(QTcpSocket *socket, TagDatabase &db, FaultControl &faults,
                       ServerShared &shared, QObject *parent)
    : SimChannel(db, faults, shared, false, parent), socket(socket)
{
    socket->setParent(this);
    // Qt buffers at most one frame for us; the rest waits in the kernel.
    socket->setReadBufferSize(eip::MaxFrameSize);
    // Replies due together go out together, not each behind the last one's
    // acknowledgement.
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(socket, &QTcpSocket::readyRead, this, &TcpChannel::pump);
    connect(socket, &QTcpSocket::bytesWritten, this, &TcpChannel::pump);
    connect(socket, &QTcpSocket::disconnected, this, &SimChannel::finished);
    // Bytes may have come with the connection, before readyRead was watched.
    QTimer::singleShot(0, this, &TcpChannel::pump);
}

QByteArray TcpChannel::readSome(int max)
{
    if (max <= 0 || socket->state() != QAbstractSocket::ConnectedState)
        return QByteArray();
    return socket->read(max);
}

void TcpChannel::writeBytes(const QByteArray &bytes)
{
    if (socket->state() == QAbstractSocket::ConnectedState)
        socket->write(bytes);
}

qint64 TcpChannel::pendingOutput() const
{
    return socket->bytesToWrite();
}

void TcpChannel::closeTransport()
{
    // Replies already written still go out before the connection ends.
    socket->disconnectFromHost();
}

} // namespace qsim
