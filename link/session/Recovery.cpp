#include "Recovery.h"

Recovery::Recovery(const linklog::Where &w, Step step, Drop drop)
    : where(w), perform(std::move(step)), release(std::move(drop))
{
    timer.setSingleShot(true);
    // The timer dies with this part, so it never fires into a link that is gone.
    QObject::connect(&timer, &QTimer::timeout, [this] { advance(); });
    clock.start();
}

void Recovery::begin(bool on, int waitMs)
{
    cancel();
    reconnect = on;
    stopped = false;
    isDown = false;
    silentReads = 0;
    replyWaitMs = waitMs;
    stepMs = FirstStepMs;
    nextAttemptMs = 0;
    downSinceMs = 0;
    attempts = 0;
}

void Recovery::stop()
{
    stopped = true;
    cancel();
}

void Recovery::cancel()
{
    if (inAttempt)
        release();
    inAttempt = false;
    timer.stop();
}

void Recovery::aim(const SerialPort &port)
{
    target = Target::Serial;
    serial = port;
}

QString Recovery::whereText() const
{
    return linklog::at("%1:%2", where);
}

void Recovery::lost(const QString &reason, int firstAttemptInMs)
{
    if (isDown || !active())
        return;
    const qint64 now = nowMs();
    isDown = true;
    downSinceMs = now;
    nextSummaryMs = now + SummaryEveryMs;
    attempts = 0;
    silentReads = 0;
    stepMs = FirstStepMs;
    nextAttemptMs = now + firstAttemptInMs;
    inAttempt = false;
    lastReason = reason;
    linklog::warn(QStringLiteral("lib[Quorvex]连接中断 %1 reason = %2").arg(whereText(), reason));
    arm(now);
}

void Recovery::advance()
{
    if (running) {
        again = true;
        return;
    }
    running = true;
    do {
        again = false;
        while (active() && isDown) {
            const qint64 now = nowMs();
            const bool first = !inAttempt;
            if (first) {
                if (now < nextAttemptMs)
                    break;
                startAttempt(now);
            }
            if (!step(now, first))
                break;
        }
    } while (again && active() && isDown);
    running = false;
    arm(nowMs());
}

void Recovery::startAttempt(qint64 now)
{
    ++attempts;
    inAttempt = true;
    phase = Phase::Transport;
    attemptStartMs = now;
}

int Recovery::phaseWaitMs() const
{
    return phase == Phase::Transport ? qMax(int(ConnectWaitMs), replyWaitMs) : replyWaitMs;
}

bool Recovery::step(qint64 now, bool first)
{
    if (!inAttempt)
        return true;
    const bool expired = !first && now >= deadlineMs;
    const Outcome o = perform(phase, first, expired);
    switch (o.progress) {
    case Progress::Sent:
        deadlineMs = now + phaseWaitMs();
        return false;
    case Progress::Waiting:
        if (!expired) {
            if (first)
                deadlineMs = now + phaseWaitMs();
            return false;
        }
        // A step may not outlive its deadline, whatever it says.
        attemptFailed(o.reason.isEmpty() ? QStringLiteral("no answer in %1 ms").arg(phaseWaitMs())
                                         : o.reason,
                      now);
        return true;
    case Progress::Done:
        if (phase == Phase::Connection) {
            reopened(now);
            return true;
        }
        phase = phase == Phase::Transport ? Phase::Session : Phase::Connection;
        return step(now, true);
    case Progress::Failed:
        attemptFailed(o.reason, now);
        return true;
    }
    return false;
}

void Recovery::attemptFailed(const QString &reason, qint64 now)
{
    release();
    inAttempt = false;
    lastReason = reason;
    // Counted from the start of the attempt: one that ran into its deadline
    // is followed at once by the next.
    nextAttemptMs = qMax(now, attemptStartMs + stepMs);
    if (attempts <= ToldAttempts) {
        linklog::warn(
            QStringLiteral("lib[Quorvex]重新连接失败 %1 attempt = %2 retry in %3 ms reason = %4")
                .arg(whereText(), QString::number(attempts), QString::number(nextAttemptMs - now),
                     reason));
    } else if (now >= nextSummaryMs) {
        linklog::warn(
            QStringLiteral("lib[Quorvex]仍在重新连接 %1 down = %2 ms attempts = %3 reason = %4")
                .arg(whereText(), QString::number(now - downSinceMs), QString::number(attempts),
                     reason));
        while (nextSummaryMs <= now)
            nextSummaryMs += SummaryEveryMs;
    }
    stepMs = qMin(stepMs * 2, int(LastStepMs));
}

void Recovery::reopened(qint64 now)
{
    linklog::warn(
        QStringLiteral("lib[Quorvex]重新连接成功 %1 down = %2 ms attempts = %3")
            .arg(whereText(), QString::number(now - downSinceMs), QString::number(attempts)));
    isDown = false;
    inAttempt = false;
    silentReads = 0;
    stepMs = FirstStepMs;
}

void Recovery::arm(qint64 now)
{
    if (!active() || !isDown) {
        timer.stop();
        return;
    }
    const qint64 due = inAttempt ? deadlineMs : nextAttemptMs;
    timer.start(static_cast<int>(qBound<qint64>(0, due - now, LastStepMs + SummaryEveryMs)));
}

// Any reply, even an error, shows the peer is there; only silence counts.
bool Recovery::silentTooLong(int rc, bool up)
{
    if (!active())
        return false;
    if (rc != -2) {
        if (rc != -3)
            silentReads = 0;
        return false;
    }
    return up && ++silentReads >= SilentReadsToGiveUp;
}

QString Recovery::silenceReason()
{
    return QStringLiteral("no reply to %1 requests in a row").arg(SilentReadsToGiveUp);
}
