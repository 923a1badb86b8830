#ifndef QV_TEST_PTYPAIR_H
#define QV_TEST_PTYPAIR_H

#include "PeerStep.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>

#include <atomic>
#include <memory>
#include <thread>

// A pseudo-terminal pair for serial tests: the driver opens slaveName() with
// QSerialPort, the test plays the device on the master side. The slave side
// starts raw, and a slave descriptor is held open for the pair's life so
// the master never sees a hang-up when the port is closed and reopened.
//
// A USB adapter that is pulled out and plugged back: with a `linkPath`, a
// symbolic link there names the slave, as the one device name the port goes
// by; unplug() closes both ends (a port open on the slave sees the line hang
// up) and removes the link, plugIn() opens a new pair under the same link.
// The reads and writes of the master are safe against both from any thread.
class PtyPair
{
public:
    explicit PtyPair(const QString &linkPath = QString());
    ~PtyPair();
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    bool isOpen() const;
    // The link when there is one, else the slave's own name.
    QString slaveName() const;

    void unplug();
    bool plugIn();

    bool writeMaster(const QByteArray &bytes);
    // Reads from the master until at least `atLeast` bytes came or the time
    // ran out; returns what came (nothing while unplugged).
    QByteArray readMaster(int atLeast, int timeoutMs);

private:
    bool openPair();
    void closePair();

    mutable QMutex m_mutex; // guards the descriptors and the name
    int m_master = -1;
    int m_slave = -1;
    QString m_slaveName;
    const QString m_linkPath;
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
