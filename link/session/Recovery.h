#ifndef QUORVEX_RECOVERY_H
#define QUORVEX_RECOVERY_H

#include <QString>
#include <QtGlobal>

#include "LinkLog.h"

// The reconnect option: when a lost transport may be opened again, and what
// it was. A lost transport is reopened by the next request that needs it,
// attempts are spaced by a doubling back-off, and a peer that stopped
// answering is given up so that requests fail at once instead of each
// waiting for its whole time-out. It decides and logs; the link performs
// the steps of an attempt (transport, session, connection) and reports how
// it went, so that an attempt can later go step by step without blocking.
class Recovery
{
public:
    enum class Target { None, Tcp, Serial };
    struct SerialPort {
        QString name, parity;
        int baud = 0, dataBits = 0, stopBits = 0;
    };

    // A reopened socket gets this long to connect: a controller that is
    // back answers in far less, and the host's read waits meanwhile.
    static constexpr int ConnectWaitMs = 2000;
    static constexpr int FirstStepMs = 100;
    static constexpr int LastStepMs = 10000;
    static constexpr int SilentReadsToGiveUp = 2;

    explicit Recovery(const linklog::Where &where);

    // A new ConnectDrive: the option as given, no outage, attempts allowed.
    void begin(bool reconnect);
    // An explicit disconnect or release: no attempts until the next begin().
    void stop() { stopped = true; }
    // Attempts are made: the option is on and no disconnect was asked for.
    bool active() const { return reconnect && !stopped; }

    // What the last ConnectDrive opened, and so what an attempt reopens.
    void aim(Target t) { target = t; }
    void aim(const SerialPort &port);
    Target aimedAt() const { return target; }
    const SerialPort &serialPort() const { return serial; }

    // The transport was found lost (`reason`, as the system tells it). The
    // first notice of an outage is logged; the first attempt is due after
    // `firstAttemptInMs`.
    void lost(const QString &reason, qint64 nowMs, int firstAttemptInMs = 0);
    bool down() const { return isDown; }
    // Whether the back-off lets an attempt be made now; counts it.
    bool attemptDue(qint64 nowMs);
    void reopened(qint64 nowMs);
    void attemptFailed(const QString &reason, qint64 nowMs);

    // A read or write ended with `rc`, the transport being `up` after it:
    // true when the peer has now been silent too often and is to be given
    // up (the link drops the transport, then notes lost() with
    // silenceReason() and FirstStepMs).
    bool silentTooLong(int rc, bool up);
    static QString silenceReason();

    // The controller as the lines name it.
    QString whereText() const;

private:
    linklog::Where where;
    bool reconnect = false;
    bool stopped = false; // an explicit disconnect
    bool isDown = false;  // lost and not reopened yet
    Target target = Target::None;
    SerialPort serial;
    int silentReads = 0;
    int stepMs = FirstStepMs; // the back-off after the next failed attempt
    qint64 nextAttemptMs = 0;
    qint64 downSinceMs = 0;
    int attempts = 0;
};

#endif
