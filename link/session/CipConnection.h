#ifndef QUORVEX_CIPCONNECTION_H
#define QUORVEX_CIPCONNECTION_H

#include <QByteArray>
#include <QtGlobal>

#include "LinkLog.h"
#include "LinkOptions.h"
#include "Messaging.h"
#include "UnitData.h"

class ReplyChannel;

// The class 3 connection connected messaging travels on: opened with a
// (Large) Forward Open as the connected= option asks, closed with a Forward
// Close, and the SendUnitData frames of the requests on it with their
// sequence counts. It alone decides whether a request may go: a refusal the
// options cannot do without is remembered until the transport is opened
// anew, so that reads fail at once instead of asking again each time.
class CipConnection
{
public:
    CipConnection(ReplyChannel &channel, const linklog::Where &where, const QByteArray &session,
                  const LinkOptions &options);

    // The transport was connected or reopened: refusals are forgotten.
    void newTransport();

    // Opens the connection the options ask for: 0 open, or unconnected as
    // `off` and `auto` allow; -1 the reply was not understood; -2 no reply;
    // -3 refused (logged once, and remembered in `large` and `small`).
    int open();
    // Before a request: 0 it may go, over the connection or unconnected as
    // the options allow (a connection the controller dropped is opened
    // first); otherwise open()'s result, at once while a refusal is
    // remembered.
    int ensure();
    // The controller no longer knows the connection: forgotten and opened
    // once more, with one Forward Open.
    int reopen();
    // Forward Close for an open connection; nothing when none is open.
    void close();
    // The transport went: the connection with it, and nothing is said.
    void forget();
    // Forward Close for the connections that Forward Opens given up opened
    // all the same (their late replies came meanwhile).
    void closeLateOpens();

    bool isOpen() const { return state.open; }
    int size() const { return state.size; }
    quint32 otConnectionId() const { return state.otId; }
    quint32 toConnectionId() const { return state.toId; }

    // The SendUnitData frame of a request on the connection, with the next
    // sequence count. The count goes on from one connection to the next,
    // as sender contexts do: a late reply on a connection dropped cannot
    // answer a request on the next, even from a target that gives both the
    // same id.
    QByteArray frame(const QByteArray &mrRequest);
    // What the reply to the request with sequence count `sequence` carries.
    unitdata::Expect expect(quint16 sequence) const;
    quint16 sequence() const { return lastSequence; }

    // The largest Message Router request and reply the messaging in use
    // carries, unconnected along a route of `routeBytes` bytes otherwise.
    messaging::MessageLimits limits(int routeBytes) const;

private:
    enum class Outcome { Open, Refused, NoReply, Garbled };
    Outcome tryForwardOpen(bool large);
    int exchange(const QByteArray &frame, QByteArray &reply, bool watchLate);
    void sendClose(quint16 serial);

    struct State {
        bool open = false;
        quint32 otId = 0; // carried by our requests
        quint32 toId = 0; // carried by the controller's replies
        quint16 serial = 0;
        int size = 0; // bytes the connection carries each way
    };

    ReplyChannel &channel;
    linklog::Where where;
    const QByteArray &session;
    const LinkOptions &options;
    State state;
    // In `auto` a kind refused is not asked again until the transport is
    // opened anew; in `large` and `small` the one kind asked for.
    bool largeRefused = false;
    bool smallRefused = false;
    bool refused = false;
    quint16 nextSerial = 0;
    quint16 lastSequence = 0; // of the last request sent
};

#endif
