#include "CableProxy.h"

#include <QByteArray>
#include <QList>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

constexpr int Backlog = 64;
constexpr int ChunkBytes = 64 * 1024;
constexpr int LoopSliceMs = 20;
// A probe that does not connect within this long met a full queue.
constexpr int ProbeWaitMs = 200;
// Connections of its own the relay makes at most to fill the queue.
constexpr int MaxFillers = 8;
constexpr int CommandWaitMs = 10000;
// Bounds the relay's own connect to the target, which on the loopback is
// answered at once unless the target's queue is full.
constexpr int ConnectBoundS = 2;

sockaddr_in loopback(quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

quint16 localPort(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

quint16 peerPort(int fd)
{
    sockaddr_in a{};
    socklen_t len = sizeof a;
    if (::getpeername(fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
        return 0;
    return ntohs(a.sin_port);
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// Writes what the socket takes now; the rest stays in `pending`.
bool flushTo(int fd, QByteArray &pending)
{
    while (!pending.isEmpty()) {
        const ssize_t n = ::send(fd, pending.constData(), size_t(pending.size()), MSG_NOSIGNAL);
        if (n > 0) {
            pending.remove(0, int(n));
            continue;
        }
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR);
    }
    return true;
}

// Reads what is there into `into`; false at the end of the stream or an error.
bool drain(int fd, QByteArray &into)
{
    char buf[ChunkBytes];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n > 0) {
            into.append(buf, int(n));
            if (into.size() >= ChunkBytes)
                return true;
            continue;
        }
        if (n == 0)
            return false;
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
}

} // namespace

struct CableProxy::State {
    struct Pair {
        int client = -1;
        int up = -1;
        QByteArray toUp, toClient;
    };
    enum class Command { None, Pull, Plug, Stop };

    quint16 target = 0;
    int listener = -1;
    int wake[2] = {-1, -1};
    quint16 port = 0;
    std::vector<Pair> pairs;
    std::vector<int> fillers; // our own connections that fill the accept queue
    bool pulledNow = false;   // the loop's own view

    std::mutex mutex;
    std::condition_variable done;
    Command command = Command::None;
    bool result = false;
    std::atomic<bool> pulled{false};
    std::atomic<int> accepted{0};
    std::atomic<int> open{0};
    std::thread thread;

    bool run(Command c)
    {
        std::unique_lock<std::mutex> lock(mutex);
        command = c;
        const char byte = 1;
        if (::write(wake[1], &byte, 1) < 0)
            return false;
        done.wait_for(lock, std::chrono::milliseconds(CommandWaitMs),
                      [this] { return command == Command::None; });
        return command == Command::None && result;
    }

    void loop();
    void acceptAll();
    void adopt(int client);
    bool fillQueue();
    void unfill();
    void closePair(Pair &p);
};

void CableProxy::State::adopt(int client)
{
    for (int f : fillers) {
        if (peerPort(client) == localPort(f)) {
            ::close(client); // our own filler's other end
            return;
        }
    }
    Pair p;
    p.client = client;
    p.up = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const timeval bound{ConnectBoundS, 0};
    ::setsockopt(p.up, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    const sockaddr_in to = loopback(target);
    // On the loopback a connect is answered at once, accepted or refused.
    if (p.up < 0 || ::connect(p.up, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
        closePair(p);
        return;
    }
    ::fcntl(p.up, F_SETFL, ::fcntl(p.up, F_GETFL) | O_NONBLOCK);
    ::fcntl(p.client, F_SETFL, ::fcntl(p.client, F_GETFL) | O_NONBLOCK);
    pairs.push_back(p);
    ++accepted;
    ++open;
}

void CableProxy::State::acceptAll()
{
    for (;;) {
        const int c = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0)
            return;
        adopt(c);
    }
}

void CableProxy::State::closePair(Pair &p)
{
    closeFd(p.client);
    closeFd(p.up);
}

bool CableProxy::State::fillQueue()
{
    ::listen(listener, 0);
    for (int i = 0; i < MaxFillers; ++i) {
        int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        const sockaddr_in to = loopback(port);
        if (probe < 0)
            return false;
        const int rc = ::connect(probe, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        if (rc != 0 && errno != EINPROGRESS) {
            ::close(probe);
            return false;
        }
        pollfd p{probe, POLLOUT, 0};
        int error = 0;
        socklen_t len = sizeof error;
        const bool connected =
            rc == 0 || (::poll(&p, 1, ProbeWaitMs) > 0 &&
                        ::getsockopt(probe, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0);
        if (!connected) {
            ::close(probe); // unanswered: the queue is full, and this attempt ends
            return true;
        }
        fillers.push_back(probe);
    }
    return false;
}

void CableProxy::State::unfill()
{
    acceptAll(); // the fillers' other ends, and attempts that got in before the pull
    for (int &f : fillers)
        closeFd(f);
    fillers.clear();
    ::listen(listener, Backlog);
}

void CableProxy::State::loop()
{
    for (;;) {
        Command c = Command::None;
        {
            std::lock_guard<std::mutex> lock(mutex);
            c = command;
        }
        if (c != Command::None) {
            bool ok = true;
            if (c == Command::Pull && !pulledNow) {
                pulledNow = true;
                ok = fillQueue();
            } else if (c == Command::Plug && pulledNow) {
                pulledNow = false;
                unfill();
            }
            pulled = pulledNow;
            std::lock_guard<std::mutex> lock(mutex);
            result = ok;
            command = Command::None;
            done.notify_all();
            if (c == Command::Stop)
                return;
        }

        std::vector<pollfd> fds{{wake[0], POLLIN, 0}};
        if (!pulledNow) {
            fds.push_back({listener, POLLIN, 0});
            for (const Pair &p : pairs) {
                fds.push_back({p.client, short(POLLIN | (p.toClient.isEmpty() ? 0 : POLLOUT)), 0});
                fds.push_back({p.up, short(POLLIN | (p.toUp.isEmpty() ? 0 : POLLOUT)), 0});
            }
        }
        if (::poll(fds.data(), nfds_t(fds.size()), LoopSliceMs) < 0 && errno != EINTR)
            return;
        if (fds[0].revents & POLLIN) {
            char buf[16];
            while (::read(wake[0], buf, sizeof buf) > 0) {
            }
        }
        if (pulledNow)
            continue;
        for (size_t i = 0; i < pairs.size(); ++i) { // as they were polled: accepted after
            Pair &p = pairs[i];
            const short fromClient = fds[2 + 2 * i].revents;
            const short fromUp = fds[3 + 2 * i].revents;
            bool alive = true;
            if (fromClient & (POLLIN | POLLHUP | POLLERR))
                alive = drain(p.client, p.toUp) && alive;
            if (fromUp & (POLLIN | POLLHUP | POLLERR))
                alive = drain(p.up, p.toClient) && alive;
            // What one end sent before it went still reaches the other.
            alive = flushTo(p.up, p.toUp) && alive;
            alive = flushTo(p.client, p.toClient) && alive;
            if (!alive) {
                closePair(p);
                --open;
            }
        }
        pairs.erase(
            std::remove_if(pairs.begin(), pairs.end(), [](const Pair &p) { return p.client < 0; }),
            pairs.end());
        if (fds[1].revents & POLLIN)
            acceptAll();
    }
}

CableProxy::CableProxy(quint16 targetPort) : d(new State)
{
    d->target = targetPort;
    if (::pipe2(d->wake, O_NONBLOCK | O_CLOEXEC) != 0)
        return;
    d->listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const sockaddr_in at = loopback(0);
    if (d->listener < 0 ||
        ::bind(d->listener, reinterpret_cast<const sockaddr *>(&at), sizeof at) ||
        ::listen(d->listener, Backlog) != 0) {
        closeFd(d->listener);
        return;
    }
    d->port = localPort(d->listener);
    d->thread = std::thread([s = d.get()] { s->loop(); });
}

CableProxy::~CableProxy()
{
    if (d->thread.joinable()) {
        d->run(State::Command::Stop);
        d->thread.join();
    }
    for (State::Pair &p : d->pairs)
        d->closePair(p);
    for (int &f : d->fillers)
        closeFd(f);
    closeFd(d->listener);
    closeFd(d->wake[0]);
    closeFd(d->wake[1]);
}

bool CableProxy::isListening() const
{
    return d->port != 0 && d->thread.joinable();
}

quint16 CableProxy::port() const
{
    return d->port;
}

QString CableProxy::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(d->port);
}

bool CableProxy::pull()
{
    return d->run(State::Command::Pull);
}

void CableProxy::plugIn()
{
    d->run(State::Command::Plug);
}

bool CableProxy::isPulled() const
{
    return d->pulled;
}

int CableProxy::connectionsAccepted() const
{
    return d->accepted;
}

int CableProxy::openConnections() const
{
    return d->open;
}
