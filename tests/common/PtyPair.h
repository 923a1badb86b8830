#ifndef QV_TEST_PTYPAIR_H
#define QV_TEST_PTYPAIR_H

#include "PeerStep.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

// A pseudo-terminal pair for serial tests: the driver opens slaveName() with
// QSerialPort, the test plays the device on the master side. The slave side
// starts raw, and a slave descriptor is held open for the pair's life so
// the master never sees a hang-up when the port is closed and reopened.
class PtyPair
{
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isOpen() const { return m_master >= 0; }
    QString slaveName() const { return m_slaveName; }
    int masterFd() const { return m_master; }

    bool writeMaster(const QByteArray &bytes);
    // Reads from the master until at least `atLeast` bytes came or the time
    // ran out; returns what came.
    QByteArray readMaster(int atLeast, int timeoutMs);

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slaveName;
};

// Plays a scripted device on the master side of a PtyPair, in its own
// thread. Requests are cut out as whole encapsulation frames; each takes the
// next queued step, else the responder's, else no answer. Close steps act
// like silent ones; a step's delay holds the replies after it, but a copy
// sent after a gap does not. Thread-safe accessors, suitable for QTRY_VERIFY.
class PtyPeer
{
public:
    explicit PtyPeer(PtyPair &pty);
    ~PtyPeer();
    PtyPeer(const PtyPeer &) = delete;
    PtyPeer &operator=(const PtyPeer &) = delete;

    void enqueue(const PeerStep &step);
    void setResponder(PeerResponder responder);
    QList<QByteArray> requests() const;
    int requestCount() const;
    int repliesDone() const;

private:
    struct Shared;
    void loop();
    PtyPair &m_pty;
    std::unique_ptr<Shared> m_shared;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

#endif
