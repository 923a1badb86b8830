#ifndef QUORVEX_SIM_SIMCHANNEL_H
#define QUORVEX_SIM_SIMCHANNEL_H

#include "ConnectionTable.h"
#include "FaultControl.h"
#include "FrameHandler.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>

class QSocketNotifier;
class QTcpSocket;

namespace qsim
{

// What the channels of one server share; they all run in its thread.
struct ServerShared {
    ServerShared() { clock.start(); }
    qint64 nowMs() const { return clock.elapsed(); }
    bool muted() const { return nowMs() < mutedUntilMs; }

    CipOptions cip;             // the controller's setup (routes); faults come per request
    quint32 sessionCounter = 0; // session handles, unique across connections
    ConnectionTable connections;
    quint64 owners = 0; // one per channel, for the connections it opens
    QElapsedTimer clock;
    qint64 mutedUntilMs = -1; // an outage: requests until then are dropped unanswered
    // RegisterSession requests left unanswered under the faults of generation
    // registerGeneration: a booting controller ignores them whatever the client.
    int registersIgnored = 0;
    quint64 registerGeneration = ~quint64(0);
};

// One client of the simulated controller: cuts the incoming bytes into
// frames, answers them one after the other and applies the faults. The
// transport (TCP socket or pseudo-terminal) is a subclass.
class SimChannel : public QObject
{
    Q_OBJECT
public:
    SimChannel(TagDatabase &db, FaultControl &faults, ServerShared &shared, bool serial,
               QObject *parent = nullptr);
    ~SimChannel() override;

    // Ends the connection (a TCP one; a serial line only drops its CIP
    // connections), as a controller that goes down does.
    void shutDown();

signals:
    void finished();    // the transport is closed; the channel may be deleted
    void tagAnswered(); // the reply to a tag request is out

protected:
    // Reads at most `max` bytes that are already there.
    virtual QByteArray readSome(int max) = 0;
    virtual void writeBytes(const QByteArray &bytes) = 0;
    // Bytes handed to writeBytes() that are not yet out.
    virtual qint64 pendingOutput() const = 0;
    virtual void closeTransport() = 0;
    // Whether the channel takes input now; a transport whose readiness is
    // reported again and again stops watching while it does not.
    virtual void wantInput(bool) {}

    // Called by the subclass when bytes arrived or output drained.
    void pump();
    bool isClosed() const { return closed; }

private:
    QByteArray nextFrame();
    void process(const QByteArray &frame);
    void sendFirst();
    // A reply of its own time: requests keep coming meanwhile.
    void sendLater(const FrameResult &result, int delayMs);
    void sendSecond();
    void finishReply();
    // Reply faults that stand outside the one-at-a-time order: a register
    // left unanswered, a copy, a reply overtaken by later ones, a stall that
    // ends in a burst, a reply cut by the close.
    bool ignoreRegister(const QByteArray &frame, const SimFaults &f, quint64 gen);
    void sendCopy(const QByteArray &reply, int gapMs);
    void sendOutOfOrder(const FrameResult &result, int delayMs, bool copy, int gapMs);
    void endStall();
    void cutReply();
    // Writes at once, or right after a paced reply under way, never into it.
    void writeWhole(const QByteArray &bytes);
    void close();
    void dropConnections();
    // Writes `bytes`, paced when byteDelayUs asks for it. True when they are
    // all handed to the transport; otherwise `done` runs after the last one.
    bool transmit(const QByteArray &bytes, std::function<void()> done);
    void paceTick();

    TagDatabase &db;
    FaultControl &faults;
    ServerShared &shared;
    const quint64 owner;
    SessionTable sessions;
    const bool serial;

    QByteArray buffer;
    QTimer quiet; // serial: a pause ends a request
    bool quietPassed = false;

    bool busy = false; // a delayed or split reply is under way
    bool closed = false;
    FrameResult pending;
    SimFaults pendingFaults;
    quint64 generation = ~quint64(0);
    int answered = 0;         // since the channel opened or the faults last changed
    int held = 0;             // replies scheduled by sendLater and not yet out
    qint64 lastDueMs = 0;     // when the last of them is due
    int tagCount = 0;         // tag requests, counted as answered is
    bool copyPending = false; // the reply under way goes twice
    bool stallBegun = false;
    bool stalling = false;
    struct Held {
        FrameResult result;
        bool copy;
    };
    QList<Held> backlog; // replies held by a stall; their copies come in the burst
    QByteArray deferred; // whole replies that wait for a paced one to end
    quint32 garbageSeed = 1;

    // Paced output: bytes are due at fixed intervals from the first one, so
    // a late timer tick catches up and the average rate holds.
    QTimer paceTimer;
    QElapsedTimer paceClock;
    QByteArray paced;
    int pacedSent = 0;
    int paceUs = 0;
    std::function<void()> pacedDone;
};

class TcpChannel : public SimChannel
{
    Q_OBJECT
public:
    TcpChannel(QTcpSocket *socket, TagDatabase &db, FaultControl &faults, ServerShared &shared,
               QObject *parent = nullptr);

protected:
    QByteArray readSome(int max) override;
    void writeBytes(const QByteArray &bytes) override;
    qint64 pendingOutput() const override;
    void closeTransport() override;

private:
    QTcpSocket *socket;
};

// The master side of a pseudo-terminal pair; the slave stays open here too,
// so that clients may open and close it without ending the line.
class PtyChannel : public SimChannel
{
    Q_OBJECT
public:
    PtyChannel(TagDatabase &db, FaultControl &faults, ServerShared &shared,
               QObject *parent = nullptr);
    ~PtyChannel() override;
    bool open(QString *error);
    QString slavePath() const { return path; }

protected:
    QByteArray readSome(int max) override;
    void writeBytes(const QByteArray &bytes) override;
    qint64 pendingOutput() const override { return out.size(); }
    void closeTransport() override;
    void wantInput(bool on) override;

private:
    void flush();

    int master = -1;
    int slave = -1;
    QString path;
    QSocketNotifier *readable = nullptr;
    QSocketNotifier *writable = nullptr;
    QByteArray out;
};

} // namespace qsim

#endif
