#ifndef QV_TEST_LOOPBACKPEER_H
#define QV_TEST_LOOPBACKPEER_H

#include "PeerStep.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QThread>
#include <QtGlobal>

class LoopbackPeerWorker;
struct LoopbackPeerShared;

// A scriptable controller stand-in: a QTcpServer on 127.0.0.1, port chosen by
// the system, running in its own thread so that it answers while the test
// thread sits in the driver's blocking waits.
//
// Every request (one whole encapsulation frame, from any connection) takes
// the next step of the script queue; with the queue empty the responder is
// asked, and without one the request stays unanswered. Each step runs on its
// own timer, so a reply delayed longer than the next one's is overtaken by
// it: a late reply out of order. All accessors are
// thread-safe and may be polled with QTRY_VERIFY; the signals are emitted
// from the peer's thread (queued to receivers in the test thread).
class LoopbackPeer : public QObject
{
    Q_OBJECT

public:
    LoopbackPeer();
    ~LoopbackPeer() override;

    bool isListening() const { return m_port != 0; }
    quint16 port() const { return m_port; }

    void enqueue(const PeerStep &step);
    void setResponder(PeerResponder responder);

    QList<QByteArray> requests() const; // in arrival order
    int requestCount() const;
    int repliesDone() const;     // reply steps whose last byte has been written
    int connectionCount() const; // connections accepted so far
    int openConnections() const;

    // Writes bytes at once to every open connection, outside the script;
    // returns once they are written (not counted in repliesDone()).
    void sendNow(const QByteArray &bytes);
    // Closes every open connection from the peer's side.
    void closeConnections();
    // A controller that stalls: requests are still taken, but replies (and
    // copies, and the closes of cut replies) whose time comes are held;
    // release() writes all of them at once, one write per connection, in
    // order, and answers as usual from then on.
    void stall();
    void release();
    int heldReplies() const;

signals:
    void requestReceived(int index);
    void replyDone(int index);
    void connectionClosed();

private:
    QThread m_thread;
    LoopbackPeerWorker *m_worker = nullptr;
    LoopbackPeerShared *m_shared = nullptr;
    quint16 m_port = 0;
};

#endif
