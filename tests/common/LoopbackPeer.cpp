#include "LoopbackPeer.h"

#include <QHostAddress>
#include <QMutex>
#include <QMutexLocker>
#include <QPointer>
#include <QQueue>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

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
        backlog.clear();
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
        // A copy without a gap travels in the same write as the (last part
        // of the) reply, so the receiver sees both copies at once.
        const QByteArray wire = step.wireBytes(request);
        const bool cut = step.cutAt > 0 && step.cutAt < wire.size();
        const bool split = !cut && step.splitAt > 0 && step.splitAt < wire.size();
        const QByteArray first = cut     ? wire.left(step.cutAt)
                                 : split ? wire.left(step.splitAt)
                                         : wire;
        QByteArray last = split ? wire.mid(step.splitAt) : QByteArray();
        const bool laterCopy = step.duplicate && step.duplicateGapMs > 0;
        if (step.duplicate && !laterCopy && !cut)
            last += wire;
        auto finish = [this, guard, index, copy = laterCopy ? wire : QByteArray(),
                       gap = step.duplicateGapMs] {
            {
                QMutexLocker lock(&shared->mutex);
                ++shared->repliesDone;
            }
            emit owner->replyDone(index);
            if (!copy.isEmpty())
                QTimer::singleShot(gap, this, [this, guard, copy] { deliver(guard, copy); });
        };
        QTimer::singleShot(step.delayMs, this,
                           [this, guard, first, last, split, cut, gap = step.splitGapMs, finish] {
                               if (!split) {
                                   deliver(guard, first + last, finish, cut);
                                   return;
                               }
                               deliver(guard, first);
                               QTimer::singleShot(gap, this, [this, guard, last, finish] {
                                   deliver(guard, last, finish);
                               });
                           });
    }

    // Writes now, or keeps the bytes while the peer stalls; `then` runs once
    // they are written, and `close` ends the connection after them.
    void deliver(const QPointer<QTcpSocket> &s, const QByteArray &bytes,
                 const std::function<void()> &then = {}, bool close = false)
    {
        if (!s)
            return;
        if (stalled) {
            backlog.append({s, bytes, then, close});
            return;
        }
        s->write(bytes);
        s->flush();
        if (then)
            then();
        if (close)
            s->disconnectFromHost();
    }

public:
    void setStalled(bool on)
    {
        stalled = on;
        if (on)
            return;
        // The whole backlog at once: one write per connection, in order.
        const QList<Held> held = backlog;
        backlog.clear();
        QHash<QTcpSocket *, QByteArray> burst;
        for (const Held &h : held) {
            if (h.socket)
                burst[h.socket.data()] += h.bytes;
        }
        for (auto it = burst.begin(); it != burst.end(); ++it) {
            it.key()->write(it.value());
            it.key()->flush();
        }
        for (const Held &h : held) {
            if (h.then)
                h.then();
            if (h.socket && h.close)
                h.socket->disconnectFromHost();
        }
    }

    int heldCount() const { return backlog.size(); }

private:
    struct Held {
        QPointer<QTcpSocket> socket;
        QByteArray bytes;
        std::function<void()> then;
        bool close;
    };
    bool stalled = false;
    QList<Held> backlog;

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

void LoopbackPeer::stall()
{
    QMetaObject::invokeMethod(
        m_worker, [this] { m_worker->setStalled(true); }, Qt::BlockingQueuedConnection);
}

void LoopbackPeer::release()
{
    QMetaObject::invokeMethod(
        m_worker, [this] { m_worker->setStalled(false); }, Qt::BlockingQueuedConnection);
}

int LoopbackPeer::heldReplies() const
{
    int n = 0;
    QMetaObject::invokeMethod(
        m_worker, [this, &n] { n = m_worker->heldCount(); }, Qt::BlockingQueuedConnection);
    return n;
}

void LoopbackPeer::closeConnections()
{
    QMetaObject::invokeMethod(
        m_worker, [this] { m_worker->closeAll(); }, Qt::BlockingQueuedConnection);
}

#include "LoopbackPeer.moc"
