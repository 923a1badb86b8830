#include "LoopbackPeer.h"

#include <QHostAddress>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QQueue>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

struct LoopbackPeerShared {
    mutable QMutex mutex;
    QQueue<PeerStep> script;
    PeerResponder responder;
    QList<QByteArray> requests;
    int repliesDone = 0;
    int connections = 0;
    int open = 0;
};

class LoopbackPeerWorker : public QObject
{
    Q_OBJECT

public:
    LoopbackPeerWorker(LoopbackPeer *owner, LoopbackPeerShared *shared)
        : owner(owner), shared(shared)
    {
    }

public slots:
    quint16 start()
    {
        server = new QTcpServer(this);
        connect(server, &QTcpServer::newConnection, this, &LoopbackPeerWorker::accept);
        if (!server->listen(QHostAddress::LocalHost, 0))
            return 0;
        return server->serverPort();
    }

    void stop()
    {
        const auto sockets = findChildren<QTcpSocket *>();
        for (QTcpSocket *s : sockets) {
            s->disconnect(this);
            s->abort();
            delete s;
        }
        pending.clear();
        delete server;
        server = nullptr;
    }

    void sendNow(const QByteArray &bytes)
    {
        for (QTcpSocket *s : findChildren<QTcpSocket *>()) {
            s->write(bytes);
            s->flush();
        }
    }

    void closeAll()
    {
        for (QTcpSocket *s : findChildren<QTcpSocket *>())
            s->disconnectFromHost();
    }

private:
    void accept()
    {
        while (server != nullptr && server->hasPendingConnections()) {
            QTcpSocket *s = server->nextPendingConnection();
            s->setParent(this);
            // Bytes go out as scripted, not held back for coalescing.
            s->setSocketOption(QAbstractSocket::LowDelayOption, 1);
            {
                QMutexLocker lock(&shared->mutex);
                ++shared->connections;
                ++shared->open;
            }
            connect(s, &QTcpSocket::readyRead, this, [this, s] { receive(s); });
            connect(s, &QTcpSocket::disconnected, this, [this, s] {
                {
                    QMutexLocker lock(&shared->mutex);
                    --shared->open;
                }
                s->disconnect(this);
                pending.remove(s);
                s->deleteLater();
                emit owner->connectionClosed();
            });
        }
    }

    void receive(QTcpSocket *s)
    {
        QByteArray &buf = pending[s];
        buf.append(s->readAll());
        for (int n = peerFrameSize(buf); n > 0; n = peerFrameSize(buf)) {
            const QByteArray request = buf.left(n);
            buf.remove(0, n);
            PeerStep step;
            PeerResponder responder;
            int index = 0;
            bool scripted = false;
            {
                QMutexLocker lock(&shared->mutex);
                index = shared->requests.size();
                shared->requests.append(request);
                if (!shared->script.isEmpty()) {
                    step = shared->script.dequeue();
                    scripted = true;
                } else {
                    responder = shared->responder;
                }
            }
            emit owner->requestReceived(index);
            if (!scripted)
                step = responder ? responder(request) : PeerStep::silent();
            run(s, step, index, request);
        }
    }

    void run(QTcpSocket *s, const PeerStep &step, int index, const QByteArray &request)
    {
        if (step.kind == PeerStep::Silent)
            return;
        QPointer<QTcpSocket> guard(s);
        if (step.kind == PeerStep::Close) {
            QTimer::singleShot(step.delayMs, this, [guard] {
                if (guard)
                    guard->disconnectFromHost();
            });
            return;
        }
        // A duplicate travels in the same write as the (last part of the)
        // reply, so the receiver sees both copies at once.
        const QByteArray wire = step.wireBytes(request);
        const bool split = step.splitAt > 0 && step.splitAt < wire.size();
        const QByteArray first = split ? wire.left(step.splitAt) : wire;
        QByteArray last = split ? wire.mid(step.splitAt) : QByteArray();
        if (step.duplicate) {
            if (split)
                last += wire;
            else
                last = wire;
        }
        auto finish = [this, guard, index] {
            {
                QMutexLocker lock(&shared->mutex);
                ++shared->repliesDone;
            }
            emit owner->replyDone(index);
        };
        QTimer::singleShot(step.delayMs, this,
                           [this, guard, first, last, split, gap = step.splitGapMs, finish] {
                               if (!guard)
                                   return;
                               if (!split) {
                                   write(guard, first + last);
                                   finish();
                                   return;
                               }
                               write(guard, first);
                               QTimer::singleShot(gap, this, [guard, last, finish] {
                                   if (!guard)
                                       return;
                                   write(guard, last);
                                   finish();
                               });
                           });
    }

    static void write(QTcpSocket *s, const QByteArray &bytes)
    {
        s->write(bytes);
        s->flush();
    }

    LoopbackPeer *owner;
    LoopbackPeerShared *shared;
    QTcpServer *server = nullptr;
    QHash<QTcpSocket *, QByteArray> pending;
};

LoopbackPeer::LoopbackPeer() : m_shared(new LoopbackPeerShared)
{
    m_worker = new LoopbackPeerWorker(this, m_shared);
    m_worker->moveToThread(&m_thread);
    m_thread.start();
    QMetaObject::invokeMethod(m_worker, &LoopbackPeerWorker::start, Qt::BlockingQueuedConnection,
                              &m_port);
}

LoopbackPeer::~LoopbackPeer()
{
    QMetaObject::invokeMethod(m_worker, &LoopbackPeerWorker::stop, Qt::BlockingQueuedConnection);
    m_thread.quit();
    m_thread.wait(10000);
    delete m_worker;
    delete m_shared;
}

void LoopbackPeer::enqueue(const PeerStep &step)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->script.enqueue(step);
}

void LoopbackPeer::setResponder(PeerResponder responder)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->responder = std::move(responder);
}

QList<QByteArray> LoopbackPeer::requests() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->requests;
}

int LoopbackPeer::requestCount() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->requests.size();
}

int LoopbackPeer::repliesDone() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->repliesDone;
}

int LoopbackPeer::connectionCount() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->connections;
}

int LoopbackPeer::openConnections() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->open;
}

void LoopbackPeer::sendNow(const QByteArray &bytes)
{
    QMetaObject::invokeMethod(
        m_worker, [this, bytes] { m_worker->sendNow(bytes); }, Qt::BlockingQueuedConnection);
}

void LoopbackPeer::closeConnections()
{
    QMetaObject::invokeMethod(
        m_worker, [this] { m_worker->closeAll(); }, Qt::BlockingQueuedConnection);
}

#include "LoopbackPeer.moc"
