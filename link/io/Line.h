#ifndef QUORVEX_LINE_H
#define QUORVEX_LINE_H

#include <QByteArray>
#include <QtGlobal>
#include <functional>

class QIODevice;
class QSerialPort;
class QTcpSocket;
class QTimer;

// The link's fields a line works on. The link owns them: it creates the
// socket, the serial port and the frame timer and connects their signals to
// its slots, which hand the bytes to the line.
struct LineFields {
    QByteArray &recvBuffer; // bytes received and not yet taken as frames
    const QByteArray &sessionHandle;
    QTcpSocket *&tcpSocket;
    QSerialPort *&serialPort;
    QTimer *&frameTimer;
    int &frameGapMs;
};

// Bytes in and out over the socket or the serial port: which of the two
// carries the traffic, the writes, the waits for what comes back and where
// a frame begins in it. It knows nothing of requests and replies: the reply
// channel above it decides which frame is whose.
class Line
{
public:
    enum class Transport { None, Tcp, Serial };

    explicit Line(const LineFields &fields);

    // The transport that connected last carries the traffic; before any
    // connection succeeded, a socket object wins over a serial port.
    Transport active() const { return activeTransport; }
    void setActive(Transport t) { activeTransport = t; }
    bool useSocket() const;
    bool useSerial() const;
    // The serial port when it carries the traffic, else none.
    const QSerialPort *serial() const { return useSerial() ? f.serialPort : nullptr; }

    // 0 when the transport in use is connected (open), -3 otherwise.
    int status() const;
    // Nothing more can come: the socket is not connected, or the serial
    // adapter was unplugged (it stays open with a resource error).
    bool failed() const;

    // Writes a whole frame: 0 handed to the transport, 1 none to use.
    int send(const QByteArray &frame);
    // Blocks up to `ms` for new bytes on the transport in use: 0, or 1 none.
    int waitForReady(int ms);

    // What the transport's signals bring, added to the received bytes.
    void takeSocketBytes();
    void takeSerialBytes(); // the serial line went quiet for a frame gap
    // Bytes the transport holds already, taken in before a request goes out.
    void collect();
    // Everything that has come by now, also what has not been announced
    // yet through the event loop; nothing is waited for.
    void takeReady();
    // Serial bytes still waiting for their quiet gap, taken at the end of
    // a wait: they came all the same.
    void flushSerial();
    // Drops all bytes received (a transport given up or closed).
    void clear();
    // Drops the bytes received so far as junk, as the frame sync does.
    void dropReceived();

    // The bytes received and not yet taken as frames.
    QByteArray &received() { return f.recvBuffer; }

    // Frame sync: drops what cannot begin a frame (the tail of a cut reply,
    // noise) and gives the size of the whole frame at the front, 0 while
    // none is complete.
    int frontFrame();
    // Bytes dropped by the frame sync so far.
    quint64 junkBytes() const { return junk; }

    // One wait for more bytes, at most `leftMs`, `sinceSendMs` after the
    // request went out: a blocking wait during the first-reply wait, short
    // event-loop steps after it (which let the host's events through and
    // the serial gap timer fire).
    void wait(qint64 sinceSendMs, qint64 leftMs);

    // On a serial line a reply on its way may need longer than the wait:
    // the time by which the frame its header announces can be complete,
    // counted like `sinceSendMs`; 0 when nothing is on its way.
    qint64 serialFrameEnd(qint64 sinceSendMs);
    // A new wait begins: nothing of a frame on its way is known yet.
    void newWait() { watch = SerialWatch(); }

    // A stand-in for the transport (fuzz targets): every frame sent is
    // handed to it, and what it returns is all that ever comes back.
    using StandIn = std::function<QByteArray(const QByteArray &frame)>;
    void setStandIn(StandIn f) { standIn = std::move(f); }
    bool hasStandIn() const { return bool(standIn); }

private:
    void drain(QIODevice *device);
    void waitOnSocket(int ms);
    void waitStep(int ms);
    bool serialBytesOnHand() const;

    LineFields f;
    Transport activeTransport = Transport::None;
    StandIn standIn;
    quint64 junk = 0;
    struct SerialWatch {
        qint64 have = 0;  // bytes seen so far
        qint64 endMs = 0; // when the frame they begin can be complete
    } watch;
};

#endif
