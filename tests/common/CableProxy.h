#ifndef QV_TEST_CABLEPROXY_H
#define QV_TEST_CABLEPROXY_H

#include <QString>
#include <QtGlobal>

#include <memory>

// A pulled network cable between the driver and a controller: a TCP relay
// on 127.0.0.1 (port chosen by the system) to a target port there, in its
// own thread, so that it relays while the test thread sits in the driver's
// blocking waits.
//
// Pulled, nothing passes either way: bytes wait in the kernel's buffers, as
// TCP keeps retransmitting them, and arrive once it is plugged in again
// (unless an end gave up the connection meanwhile). Connection attempts go
// unanswered: the listening socket's accept queue is kept full (backlog 0,
// filled by a connection of the relay's own), so the kernel drops their SYNs
// and the client keeps retransmitting, as towards a host that is gone. A
// connection the target refuses is closed at once.
class CableProxy
{
public:
    explicit CableProxy(quint16 targetPort);
    ~CableProxy();
    CableProxy(const CableProxy &) = delete;
    CableProxy &operator=(const CableProxy &) = delete;

    bool isListening() const;
    quint16 port() const;
    QString address() const; // "127.0.0.1:PORT"

    // False when connection attempts could still be answered (a probe of
    // its own got through): then the pull would not be one.
    bool pull();
    void plugIn();
    bool isPulled() const;

    // Thread-safe; clients relayed, the relay's own probes not counted.
    int connectionsAccepted() const;
    int openConnections() const;

    struct State;

private:
    std::unique_ptr<State> d;
};

#endif
