#include "Recovery.h"

Recovery::Recovery(const linklog::Where &w) : where(w) {}

void Recovery::begin(bool on)
{
    reconnect = on;
    stopped = false;
    isDown = false;
    silentReads = 0;
    stepMs = FirstStepMs;
    nextAttemptMs = 0;
    downSinceMs = 0;
    attempts = 0;
}

void Recovery::aim(const SerialPort &port)
{
    target = Target::Serial;
    serial = port;
}

QString Recovery::whereText() const
{
    if (target == Target::Serial)
        return serial.name;
    return linklog::at("%1:%2", where);
}

void Recovery::lost(const QString &reason, qint64 nowMs, int firstAttemptInMs)
{
    isDown = true;
    downSinceMs = nowMs;
    attempts = 0;
    silentReads = 0;
    stepMs = FirstStepMs;
    nextAttemptMs = nowMs + firstAttemptInMs;
    linklog::warn(QStringLiteral("lib[Quorvex]连接中断 %1 reason = %2").arg(whereText(), reason));
}

bool Recovery::attemptDue(qint64 nowMs)
{
    if (nowMs < nextAttemptMs)
        return false;
    ++attempts;
    return true;
}

void Recovery::reopened(qint64 nowMs)
{
    linklog::warn(
        QStringLiteral("lib[Quorvex]重新连接成功 %1 down = %2 ms attempts = %3")
            .arg(whereText(), QString::number(nowMs - downSinceMs), QString::number(attempts)));
    isDown = false;
    silentReads = 0;
    stepMs = FirstStepMs;
}

void Recovery::attemptFailed(const QString &reason, qint64 nowMs)
{
    linklog::warn(
        QStringLiteral("lib[Quorvex]重新连接失败 %1 attempt = %2 retry in %3 ms reason = %4")
            .arg(whereText(), QString::number(attempts), QString::number(stepMs), reason));
    nextAttemptMs = nowMs + stepMs;
    stepMs = qMin(stepMs * 2, int(LastStepMs));
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
