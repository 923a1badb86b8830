#ifndef QUORVEX_SIM_FRAMEHANDLER_H
#define QUORVEX_SIM_FRAMEHANDLER_H

#include "CipService.h"
#include "TagDatabase.h"

#include <QByteArray>
#include <QSet>

// The encapsulation layer of the simulated controller, as plain functions
// over byte arrays so that it can be tested and fuzzed without a socket.
namespace qsim
{

// The sessions registered on one connection. Handles come from a counter
// shared by all connections of a server, so that no two are alike.
class SessionTable
{
public:
    // A connection does not need more; a client that keeps registering gets
    // "insufficient memory" instead of growing the table.
    static constexpr int MaxSessions = 64;

    explicit SessionTable(quint32 *sharedCounter = nullptr);
    quint32 open(); // 0 when the table is full
    bool contains(quint32 handle) const { return live.contains(handle); }
    void close(quint32 handle) { live.remove(handle); }
    int size() const { return live.size(); }

private:
    quint32 ownCounter = 0;
    quint32 *counter;
    QSet<quint32> live;
};

struct FrameOptions {
    bool requireSession = true; // false on a serial line, which has no sessions
    bool rejectRegister = false;
    CipOptions cip;
};

struct FrameResult {
    QByteArray reply;       // empty: nothing to send
    bool close = false;     // the connection should end (after the reply)
    bool tagRead = false;   // a SendRRData was answered
    bool connected = false; // a SendUnitData on a live connection was answered
    CipEffects effects;
};

// Answers one whole frame: a header whose length field matches the frame's
// size, or anything else (short, long, nonsense), which gets an error reply
// or, when not even a header is there, none. SendUnitData is answered on the
// connections in `options.cip.client.connections`.
FrameResult handleFrame(const QByteArray &frame, SessionTable &sessions, const TagDatabase &db,
                        const FrameOptions &options = FrameOptions());

} // namespace qsim

#endif
