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

// The sender context of a frame as one little-endian number (bytes past the
// end of a short frame count as zero): a target echoes it in its reply.
quint64 contextOf(const QByteArray &frame);

// Writes `context` into the header of a frame of at least a header's
// length, in place.
void setContext(QByteArray &frame, quint64 context);

// The 24-byte header of a request frame: command, length, the session
// (all zeros until a registration was answered), status 0, a zero context
// and options.
void putHeader(le::Writer &w, quint16 command, quint16 length, const QByteArray &session);

} // namespace encap

#endif
