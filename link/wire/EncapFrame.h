#ifndef QUORVEX_ENCAPFRAME_H
#define QUORVEX_ENCAPFRAME_H

#include <QByteArray>
#include <QtGlobal>

namespace le
{
class Writer;
}

// Session-level encapsulation frames: built and judged over plain byte
// arrays, so they can be checked without a socket.
namespace encap
{

// The 28-byte RegisterSession request (session 0, context 01 00.., version 1).
QByteArray registerSessionRequest();

struct RegisterReply {
    bool ok = false;     // a RegisterSession reply, status 0, carrying a handle
    quint16 command = 0; // as far as the reply holds them (missing bytes read 0)
    quint32 status = 0;
    QByteArray handle; // the four handle bytes, only when ok
};

// A registration counts only when the reply is a RegisterSession reply of at
// least 28 bytes with encapsulation status 0 and at least 4 data bytes.
RegisterReply judgeRegisterReply(const QByteArray &reply);

// The four session bytes a request carries: the stored handle, or zeros
// while fewer than four bytes are stored.
QByteArray sessionBytes(const QByteArray &stored);

// The eight sender-context bytes of a frame (zeros where the frame is short).
QByteArray senderContext(const QByteArray &frame);

// Writes a context unique to `serial` (never all zeros, never the
// registration's) into a frame of at least a header's length.
void stampContext(QByteArray &frame, quint64 serial);

// The 24-byte header of a request frame: command, length, the session
// (all zeros until a registration was answered), status 0, a zero context
// and options.
void putHeader(le::Writer &w, quint16 command, quint16 length, const QByteArray &session);

} // namespace encap

#endif
