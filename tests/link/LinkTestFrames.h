#ifndef QV_TEST_LINKTESTFRAMES_H
#define QV_TEST_LINKTESTFRAMES_H

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "MessageCapture.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QThread>

#include <functional>

namespace linktest
{

const QString Local = QStringLiteral("127.0.0.1");

// The link's own log lines among everything captured.
inline QStringList linkLines(const MessageCapture &cap, QtMsgType type)
{
    QStringList out;
    for (const QString &l : cap.lines(type)) {
        if (l.startsWith(QLatin1String("lib[Quorvex]")))
            out << l;
    }
    return out;
}

// An encapsulation frame as a controller would send it.
inline QByteArray frame(quint16 command, const QByteArray &data, quint32 handle = 0,
                        quint32 status = 0, quint8 context0 = 0)
{
    QByteArray f;
    le::put16(f, command);
    le::put16(f, static_cast<quint16>(data.size()));
    le::put32(f, handle);
    le::put32(f, status);
    le::put8(f, context0);
    f.append(eip::ContextSize - 1, '\0');
    le::put32(f, 0);
    return f + data;
}

inline QByteArray registerReply(quint32 handle, quint32 status = 0)
{
    return frame(eip::RegisterSession, QByteArray::fromHex("01000000"), handle, status,
                 eip::RegisterSessionContext);
}

// A SendRRData-shaped request or reply with a recognisable payload.
inline QByteArray rrFrame(const QByteArray &payload)
{
    return frame(eip::SendRRData, payload);
}

// A request as the link's own callers send one: with a sender context of
// its own (from the link's counter), which a peer echoes as a controller
// does.
template <typename Link> QByteArray ask(Link &link, const QByteArray &payload)
{
    QByteArray f = rrFrame(payload);
    link.replies().stamp(f);
    return f;
}

// Waits for a condition without running the event loop, so that bytes
// reaching the socket stay unread by Qt. Bounded.
inline bool waitWithoutEvents(const std::function<bool()> &cond, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!cond()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QThread::msleep(1);
    }
    return true;
}

} // namespace linktest

#endif
