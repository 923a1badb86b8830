#ifndef QUORVEX_REPLYCHANNEL_H
#define QUORVEX_REPLYCHANNEL_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QVector>
#include <QtGlobal>

class Line;

// Requests and their replies: every request sent is entered in one table of
// pending requests under the key its reply echoes, and a whole frame from
// the line goes only to the request it answers. The key is the sender
// context for every encapsulation command that echoes it (each request gets
// a fresh one from a counter that is never reset), and the connection id
// and sequence count for SendUnitData. A frame is never taken because it is
// merely well-formed: a reply to a request given up is dropped however
// late it comes, a frame that answers nothing is dropped, and both are
// counted.
class ReplyChannel
{
public:
    // Requests in flight at once are few (one, or a read's window of parts);
    // the rest of the table remembers requests given up.
    static constexpr int Capacity = 64;
    // A request given up is remembered for this many of its reply waits;
    // after that its reply can no longer be mistaken for another's anyway,
    // since its key is never used again.
    static constexpr int RememberWaits = 4;

    struct Counters {
        quint64 lateDropped = 0;      // replies to requests given up
        quint64 unmatchedDropped = 0; // frames that answered no request (duplicates)
    };

    ReplyChannel(Line &line);

    // Writes a fresh sender context into a request that echoes one (any
    // whole header but SendUnitData's, which is told by its sequence count).
    // The first request of a link gets 1, as a registration always carried.
    void stamp(QByteArray &request);

    // The ids replies on the open connection carry: the target's T->O id,
    // or, from a target that no longer knows the connection, our O->T id.
    // Requests sent as SendUnitData are keyed by them and the sequence count.
    void setConnection(quint32 otConnectionId, quint32 toConnectionId);

    // Sends `request` and waits up to `waitMs`, counted from the send, for
    // the frame that answers it: 0 that frame appended to `reply`; -1 none
    // came (the request is given up), or the transport failed. Bytes of a
    // reply cut short by the deadline are handed over as they are when they
    // are this request's and the transport is still there, so that the
    // caller can say what was wrong with them. `watchLate`: a reply that
    // comes after the request was given up is kept for takeLate().
    int exchange(const QByteArray &request, QByteArray &reply, int waitMs, bool watchLate = false);

    // For requests kept in flight together: sends one without waiting (0
    // sent, -1 not), then waits for replies to any of them. receive() takes
    // at most `waitMs` and gives the index in `requests` of the one whose
    // reply it appended to `reply` (one that came while another exchange
    // waited is handed over first), -1 when none came in time.
    int post(const QByteArray &request, bool watchLate = false);
    int receive(const QVector<QByteArray> &requests, int waitMs, QByteArray &reply);
    // The reply to one request posted, if it has come: what the transport
    // holds is taken first, nothing is waited for. 0 appended to `reply`,
    // -1 not (yet).
    int poll(const QByteArray &request, QByteArray &reply);

    // Takes what has come meanwhile off the line: replies kept for their
    // requests, replies to requests given up counted (and kept when
    // watched), the rest dropped. Nothing is waited for.
    void sweep();

    // A request no longer waited for: its reply is dropped should it come.
    void giveUp(const QByteArray &request);
    // Every request still pending (the link connected anew, or a connection
    // is being reopened).
    void giveUpAll();

    // Replies of watched requests that came after they were given up.
    QVector<QByteArray> takeLate();
    bool hasLate() const { return !late.isEmpty(); }

    Counters counters() const { return count; }
    // Requests waited for or remembered as given up.
    int pending() const;
    // Milliseconds on the channel's clock.
    qint64 nowMs() const { return clock.elapsed(); }

private:
    struct Key {
        bool unit = false;
        quint64 context = 0; // unconnected
        quint32 otId = 0;    // unit data
        quint32 toId = 0;
        quint16 sequence = 0;
    };
    struct Entry {
        enum State : quint8 { Free, Waiting, GivenUp };
        State state = Free;
        bool watched = false;
        Key key;
        quint64 order = 0;     // entered; equal keys are served oldest first
        qint64 forgetAtMs = 0; // given up: forgotten after this
        QByteArray held;       // its reply, come while another exchange waited
    };

    Key keyOf(const QByteArray &request) const;
    bool answers(const Key &k, const QByteArray &buf, int size) const;
    int find(const QByteArray &request) const;
    int enter(const QByteArray &request, bool watchLate);
    void release(int e);
    void abandon(int e);
    int match(int size) const;
    int pump(const int *wanted, int nWanted, QByteArray &reply);
    void deliver(int size, QByteArray &reply);
    bool partialIsFor(int e) const;
    void dropStrayPartial();

    Line &line;
    QByteArray &buffer;
    Entry table[Capacity];
    int used = 0; // entries [0, used) may be in use
    quint64 nextContext = 1;
    quint64 nextOrder = 1;
    quint32 otId = 0;
    quint32 toId = 0;
    // How long a request given up is remembered: RememberWaits of the
    // last exchange's wait.
    qint64 rememberMs = 0;
    Counters count;
    QVector<QByteArray> late;
    QElapsedTimer clock;
};

#endif
