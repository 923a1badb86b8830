#include "PtyPair.h"

#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QQueue>

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

PtyPair::PtyPair(const QString &linkPath) : m_linkPath(linkPath)
{
    openPair();
}

PtyPair::~PtyPair()
{
    closePair();
}

bool PtyPair::openPair()
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return false;
    }
    m_slaveName = QString::fromLocal8Bit(name);
    termios t{};
    if (::tcgetattr(m_slave, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(m_slave, TCSANOW, &t);
    }
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
    ::fcntl(m_slave, F_SETFD, FD_CLOEXEC);
    if (!m_linkPath.isEmpty()) {
        QFile::remove(m_linkPath);
        return QFile::link(m_slaveName, m_linkPath);
    }
    return true;
}

void PtyPair::closePair()
{
    if (!m_linkPath.isEmpty())
        QFile::remove(m_linkPath);
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
}

bool PtyPair::isOpen() const
{
    QMutexLocker lock(&m_mutex);
    return m_master >= 0;
}

QString PtyPair::slaveName() const
{
    QMutexLocker lock(&m_mutex);
    return m_linkPath.isEmpty() ? m_slaveName : m_linkPath;
}

void PtyPair::unplug()
{
    QMutexLocker lock(&m_mutex);
    closePair();
}

bool PtyPair::plugIn()
{
    QMutexLocker lock(&m_mutex);
    closePair();
    return openPair();
}

bool PtyPair::writeMaster(const QByteArray &bytes)
{
    int done = 0;
    for (int tries = 0; done < bytes.size() && tries < 100; ++tries) {
        QMutexLocker lock(&m_mutex);
        if (m_master < 0)
            return false;
        const ssize_t n = ::write(m_master, bytes.constData() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<int>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 10);
        }
    }
    return done == bytes.size();
}

// Each look holds the lock for one short slice, so that an unplug from
// another thread waits no longer than that.
QByteArray PtyPair::readMaster(int atLeast, int timeoutMs)
{
    constexpr int SliceMs = 10;
    QByteArray out;
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (out.size() < atLeast) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0)
            break;
        const int slice = static_cast<int>(qMin<qint64>(left, SliceMs));
        QMutexLocker lock(&m_mutex);
        if (m_master < 0) {
            lock.unlock();
            std::this_thread::sleep_for(std::chrono::milliseconds(slice));
            continue;
        }
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, slice) <= 0)
            continue;
        char buf[4096];
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0)
            out.append(buf, static_cast<int>(n));
    }
    return out;
}

struct PtyPeer::Shared {
    mutable QMutex mutex;
    QQueue<PeerStep> script;
    PeerResponder responder;
    QList<QByteArray> requests;
    int repliesDone = 0;
};

PtyPeer::PtyPeer(PtyPair &pty) : m_pty(pty), m_shared(new Shared)
{
    m_thread = std::thread([this] { loop(); });
}

PtyPeer::~PtyPeer()
{
    m_stop = true;
    m_thread.join();
}

void PtyPeer::enqueue(const PeerStep &step)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->script.enqueue(step);
}

void PtyPeer::setResponder(PeerResponder responder)
{
    QMutexLocker lock(&m_shared->mutex);
    m_shared->responder = std::move(responder);
}

QList<QByteArray> PtyPeer::requests() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->requests;
}

int PtyPeer::requestCount() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->requests.size();
}

int PtyPeer::repliesDone() const
{
    QMutexLocker lock(&m_shared->mutex);
    return m_shared->repliesDone;
}

void PtyPeer::loop()
{
    // Pauses are sliced so that a stop request is seen within 10 ms.
    auto pause = [this](int ms) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        while (!m_stop && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    // Copies sent after a gap, due at their time while requests go on.
    struct Due {
        std::chrono::steady_clock::time_point at;
        QByteArray bytes;
    };
    std::vector<Due> due;
    QByteArray buf;
    while (!m_stop) {
        const auto now = std::chrono::steady_clock::now();
        for (auto it = due.begin(); it != due.end();) {
            if (it->at > now) {
                ++it;
                continue;
            }
            m_pty.writeMaster(it->bytes);
            it = due.erase(it);
        }
        buf.append(m_pty.readMaster(1, 10));
        for (int n = peerFrameSize(buf); n > 0 && !m_stop; n = peerFrameSize(buf)) {
            const QByteArray request = buf.left(n);
            buf.remove(0, n);
            PeerStep step = PeerStep::silent();
            PeerResponder responder;
            bool scripted = false;
            {
                QMutexLocker lock(&m_shared->mutex);
                m_shared->requests.append(request);
                if (!m_shared->script.isEmpty()) {
                    step = m_shared->script.dequeue();
                    scripted = true;
                } else {
                    responder = m_shared->responder;
                }
            }
            if (!scripted && responder)
                step = responder(request);
            if (step.kind != PeerStep::Reply)
                continue;
            const QByteArray wire = step.wireBytes(request);
            pause(step.delayMs);
            const bool laterCopy = step.duplicate && step.duplicateGapMs > 0;
            const QByteArray copy = step.duplicate && !laterCopy ? wire : QByteArray();
            if (laterCopy)
                due.push_back({std::chrono::steady_clock::now() +
                                   std::chrono::milliseconds(step.duplicateGapMs),
                               wire});
            if (step.cutAt > 0 && step.cutAt < wire.size()) {
                m_pty.writeMaster(wire.left(step.cutAt));
            } else if (step.byteGapUs > 0) {
                // Each byte at its own time on one schedule, so that sleeping
                // a little long never slows the line down as a whole.
                const auto start = std::chrono::steady_clock::now();
                for (int i = 0; i < wire.size() && !m_stop; ++i) {
                    std::this_thread::sleep_until(start +
                                                  std::chrono::microseconds(i * step.byteGapUs));
                    m_pty.writeMaster(wire.mid(i, 1));
                }
            } else if (step.splitAt > 0 && step.splitAt < wire.size()) {
                m_pty.writeMaster(wire.left(step.splitAt));
                pause(step.splitGapMs);
                m_pty.writeMaster(wire.mid(step.splitAt) + copy);
            } else {
                m_pty.writeMaster(wire + copy);
            }
            QMutexLocker lock(&m_shared->mutex);
            ++m_shared->repliesDone;
        }
    }
}
