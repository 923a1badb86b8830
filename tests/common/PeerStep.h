#ifndef QV_TEST_PEERSTEP_H
#define QV_TEST_PEERSTEP_H

#include <QByteArray>
#include <functional>

// What a scripted test peer does with one request it has received. Requests
// are cut out of the byte stream as whole encapsulation frames (24-byte
// header plus its length field).
struct PeerStep {
    enum Kind { Reply, Silent, Close };

    Kind kind = Reply;
    QByteArray bytes;       // the reply
    int delayMs = 0;        // before the first byte is written (or the close)
    int splitAt = -1;       // > 0: write bytes[0, splitAt), pause, write the rest
    int splitGapMs = 0;     // the pause between the two parts
    bool duplicate = false; // send the reply twice: the copy in the same write
                            // as the reply's last part, or duplicateGapMs after it
    int duplicateGapMs = 0;
    int cutAt = -1;          // > 0: write bytes[0, cutAt), then close the connection (a pty:
                             // the rest never comes)
    bool garble = false;     // invert every byte from offset 4 on (command and
                             // length stay, so the frame still looks whole)
    int byteGapUs = 0;       // serial: > 0 writes one byte at a time, this far
                             // apart (a line at its baud rate)
    bool echoContext = true; // the reply carries the request's sender context,
                             // as a controller's does

    static PeerStep reply(const QByteArray &b, int delayMs = 0);
    static PeerStep split(const QByteArray &b, int at, int gapMs, int delayMs = 0);
    static PeerStep duplicated(const QByteArray &b, int delayMs = 0, int gapMs = 0);
    // The connection lost in the middle of a reply.
    static PeerStep cut(const QByteArray &b, int at, int delayMs = 0);
    static PeerStep garbled(const QByteArray &b, int delayMs = 0);
    static PeerStep paced(const QByteArray &b, int byteGapUs, int delayMs = 0);
    static PeerStep silent();
    // TCP: close the connection (after delayMs); on a pty the same as silent.
    static PeerStep close(int delayMs = 0);

    // The reply to `request` as it goes on the wire: its sender context
    // echoed (unless told not to), then garbled if asked.
    QByteArray wireBytes(const QByteArray &request = QByteArray()) const;
    // A frame (or the first of several) with the context of `request`.
    static QByteArray echoed(const QByteArray &frame, const QByteArray &request);
};

// Asked, in the peer's own thread, for requests that find the script queue
// empty. Without one such requests get no answer.
using PeerResponder = std::function<PeerStep(const QByteArray &request)>;

// Length of the first whole encapsulation frame in `buf`, 0 while incomplete.
int peerFrameSize(const QByteArray &buf);

#endif
