#ifndef QUORVEX_SIM_CONNECTIONTABLE_H
#define QUORVEX_SIM_CONNECTIONTABLE_H

#include <QVector>
#include <QtGlobal>

// The simulated controller's open CIP connections (class 3, opened by Forward
// Open). Time is passed in, so that the table can be tested without waiting.
namespace qsim
{

struct Connection {
    quint32 otId = 0; // chosen here; the originator's requests carry it
    quint32 toId = 0; // chosen by the originator; our replies carry it
    quint16 serial = 0;
    quint16 vendor = 0;
    quint32 originatorSerial = 0;
    int toSize = 0;       // T->O connection size in bytes
    qint64 timeoutMs = 0; // idle this long and the connection is gone
    qint64 lastMs = 0;    // last traffic
    quint64 owner = 0;    // the client (TCP connection or serial line) that opened it

    bool sameTriad(const Connection &o) const
    {
        return serial == o.serial && vendor == o.vendor && originatorSerial == o.originatorSerial;
    }
};

class ConnectionTable
{
public:
    static constexpr int MaxConnections = 32;

    // Drops the connections idle for longer than their time-out, or than
    // `overrideMs` when that is > 0. Returns how many went.
    int expire(qint64 nowMs, qint64 overrideMs = -1);
    bool full() const { return live.size() >= MaxConnections; }
    bool hasTriad(const Connection &c) const;
    // Stores `c` under a fresh O->T id (non-zero, never used before by this
    // table) and returns that id.
    quint32 add(Connection c);
    // The live connection with this O->T id opened by `owner`, or null.
    Connection *find(quint32 otId, quint64 owner);
    // Closes the connection of `owner` with the triad of `c`; false when none.
    bool close(const Connection &c, quint64 owner);
    // Drops every connection of `owner`; returns how many.
    int dropOwner(quint64 owner);
    int size() const { return live.size(); }

private:
    quint32 counter = 0;
    QVector<Connection> live;
};

} // namespace qsim

#endif
