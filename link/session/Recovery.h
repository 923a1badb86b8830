#ifndef QUORVEX_RECOVERY_H
#define QUORVEX_RECOVERY_H

#include <QElapsedTimer>
#include <QString>
#include <QTimer>
#include <QtGlobal>

#include <functional>

#include "LinkLog.h"

// The reconnect option: a lost transport is reopened beside the host's
// calls, never inside them. An HMI polls many controllers from one thread,
// and a call that waited for a reopen would freeze all of them; so an
// attempt goes step by step (transport, session, connection), each step
// started without waiting and taken up again whenever the driver runs: at
// every host call, and from the thread's event loop through the socket's
// signals and this part's timer. Meanwhile requests fail at once. Attempts
// are spaced by a short back-off, a peer that stopped answering is given
// up, and every change of state is logged once.
//
// It decides, times and logs; the link performs the steps (it owns the
// socket, the port and the requests) and says how each went.
class Recovery
{
public:
    enum class Target { None, Tcp, Serial };
    struct SerialPort {
        QString name, parity;
        int baud = 0, dataBits = 0, stopBits = 0;
    };

    // The steps of an attempt, in their order; a serial line has no session.
    enum class Phase { Transport, Session, Connection };
    enum class Progress {
        Waiting, // nothing new yet: the same deadline holds
        Sent,    // a request (or the connect) went out: a deadline of its own
        Done,    // on to the next step
        Failed   // the attempt is over
    };
    struct Outcome {
        Progress progress = Progress::Waiting;
        QString reason; // why it failed, as the lines tell it
    };
    // One step as the link performs it, without waiting: `first` when the
    // phase begins, `expired` when its deadline has passed (the step then
    // ends one way or the other).
    using Step = std::function<Outcome(Phase phase, bool first, bool expired)>;
    // Lets go of what an attempt opened or left pending: the transport, the
    // requests in flight; nothing is said to the peer.
    using Drop = std::function<void()>;

    // A connect gets at least this long, a reply's wait if that is longer:
    // a controller that is back answers in far less, and a pulled cable
    // leaves every attempt unanswered, so this spaces the attempts that
    // find it back.
    static constexpr int ConnectWaitMs = 1000;
    // The back-off between the starts of attempts: 100 ms, doubled after
    // each failure up to 1 s. Attempts cost the host nothing, and a
    // controller that is back is used again within about a second.
    static constexpr int FirstStepMs = 100;
    static constexpr int LastStepMs = 1000;
    static constexpr int SilentReadsToGiveUp = 2;
    // Failed attempts told one by one; after them a summary now and then.
    static constexpr int ToldAttempts = 3;
    static constexpr int SummaryEveryMs = 30000;

    Recovery(const linklog::Where &where, Step step, Drop drop);
    Recovery(const Recovery &) = delete;
    Recovery &operator=(const Recovery &) = delete;

    // A new ConnectDrive: the option as given, no outage, attempts allowed;
    // an attempt in progress is dropped. `replyWaitMs`: what a reply of a
    // reopen is given.
    void begin(bool reconnect, int replyWaitMs);
    // An explicit disconnect or release: an attempt in progress is dropped
    // at once and nothing is attempted until the next begin().
    void stop();
    // Attempts are made: the option is on and no disconnect was asked for.
    bool active() const { return reconnect && !stopped; }

    // What the last ConnectDrive opened, and so what an attempt reopens.
    void aim(Target t) { target = t; }
    void aim(const SerialPort &port);
    Target aimedAt() const { return target; }
    const SerialPort &serialPort() const { return serial; }

    // The transport was found lost (`reason`, as the system tells it): the
    // outage is logged once and the first attempt is due after
    // `firstAttemptInMs`. Nothing is started here: the caller may be in the
    // middle of a request.
    void lost(const QString &reason, int firstAttemptInMs = 0);
    // Lost and not reopened yet: requests fail at once.
    bool down() const { return isDown; }
    // An attempt is under way (its steps wait for the socket's signals).
    bool attempting() const { return inAttempt; }

    // Carries the reopen on as far as it goes without waiting: starts an
    // attempt that is due, takes each step up, fails one whose deadline
    // passed, and sets the timer for what is due next. A call made from
    // inside one of its own steps (a signal the step raised) only asks for
    // one more round.
    void advance();

    // A read or write ended with `rc`, the transport being `up` after it:
    // true when the peer has now been silent too often and is to be given
    // up (the link drops the transport, then notes lost() with
    // silenceReason() and FirstStepMs).
    bool silentTooLong(int rc, bool up);
    static QString silenceReason();

    // The controller as the lines name it.
    QString whereText() const;

    // Milliseconds on the part's clock; for tests, a clock of their own.
    qint64 nowMs() const { return clockMs ? clockMs() : clock.elapsed(); }
    void setClock(std::function<qint64()> c) { clockMs = std::move(c); }

private:
    void cancel();
    void startAttempt(qint64 now);
    // One step taken up; false when the attempt waits for something.
    bool step(qint64 now, bool first);
    void attemptFailed(const QString &reason, qint64 now);
    void reopened(qint64 now);
    void arm(qint64 now);
    int phaseWaitMs() const;

    linklog::Where where;
    Step perform;
    Drop release;
    QTimer timer;
    QElapsedTimer clock;
    std::function<qint64()> clockMs;

    bool reconnect = false;
    bool stopped = false; // an explicit disconnect
    bool isDown = false;  // lost and not reopened yet
    Target target = Target::None;
    SerialPort serial;
    int silentReads = 0;
    int replyWaitMs = 0;

    // The back-off and what is told of it.
    int stepMs = FirstStepMs; // between this attempt's start and the next
    qint64 nextAttemptMs = 0;
    qint64 downSinceMs = 0;
    qint64 nextSummaryMs = 0;
    int attempts = 0;

    // The attempt under way.
    bool inAttempt = false;
    Phase phase = Phase::Transport;
    qint64 attemptStartMs = 0;
    qint64 deadlineMs = 0;
    QString lastReason;

    // advance() is running; a call from inside it asks for another round.
    bool running = false;
    bool again = false;
};

#endif
