#ifndef QUORVEX_SIM_SIMCHANNEL_H
#define QUORVEX_SIM_SIMCHANNEL_H

#include "FaultControl.h"
#include "FrameHandler.h"

#include <QObject>
#include <QTimer>

class QSocketNotifier;
class QTcpSocket;

namespace qsim
{

// One client of the simulated controller: cuts the incoming bytes into
// frames, answers them one after the other and applies the faults. The
// transport (TCP socket or pseudo-terminal) is a subclass.
class SimChannel : public QObject
{
    Q_OBJECT
public:
    SimChannel(TagDatabase &db, FaultControl &faults, quint32 *sessionCounter, bool serial,
               QObject *parent = nullptr);

signals:
    void finished(); // the transport is closed; the channel may be deleted

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
    void sendSecond();
    void finishReply();
    void close();

    TagDatabase &db;
    FaultControl &faults;
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
    int answered = 0; // since the channel opened or the faults last changed
    quint32 garbageSeed = 1;
};

class TcpChannel : public SimChannel
{
    Q_OBJECT
public:
    TcpChannel(QTcpSocket *socket, TagDatabase &db, FaultControl &faults, quint32 *sessionCounter,
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
    PtyChannel(TagDatabase &db, FaultControl &faults, quint32 *sessionCounter,
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
