#ifndef CMDQUORVEX_H
#define CMDQUORVEX_H

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QVector>
#include <functional>

#include "Identity.h"
#include "LinkOptions.h"
#include "ReadFrames.h"

class QTcpSocket;
class QSerialPort;
class QTimer;

// The controller link: one TCP socket or one serial port, turned into one
// synchronous send-and-wait primitive, plus the EtherNet/IP session and the
// tag read exchange on top of it. Everything runs in the caller's thread.
class CmdQuorvex : public QObject
{
    Q_OBJECT

public:
    CmdQuorvex();
    ~CmdQuorvex() override;

    // ---- transport ----
    int EthConnectDrive(QString host, int port);
    int EthDisConnectDrive();
    int serialConnectDrive(QString portName, int baudRate, int dataBits, int stopBits,
                           QString parity);
    int serialDisConnectDrive();
    int SendData(const QByteArray &request, QByteArray &reply, int timeoutMs);
    int Only_send(const QByteArray &request);
    // For requests kept in flight together: a send that neither waits nor
    // drops what has come for the others, and a wait of at most waitMs for
    // a whole frame answering one of `requests` (its index, -1 none came).
    int sendOwned(const QByteArray &request);
    int receiveOwned(const QVector<QByteArray> &requests, int waitMs, QByteArray &reply);
    // A request given up: its reply, should it still come, is dropped.
    void abandonRequest(const QByteArray &request);
    // The whole wait one reply gets, counted from its send.
    int replyWaitMs(int timeoutMs) const;
    int waitForReady(int ms);
    int Connection_status();
    void mysleep(int ms);
    int deletetcpSocket();
    int deleteSerialPort();
    int DestroyFree();
    void TimerTimeOut();

    // ---- session ----
    int send_reg();
    // Another number with every connect or reopen of a transport (also
    // the reconnect option's): what a caller learned about the controller's
    // tags holds for one generation, since the next may be another
    // controller or another program.
    quint64 connectionGeneration() const { return generation; }

    // ---- options and connected messaging (link/Connected.cpp) ----
    // The options of the last ConnectDrive: route, messaging, reply wait.
    void setOptions(const LinkOptions &o);
    // After a transport connected: opens a class 3 connection when the
    // options ask for one. 0 open, or unconnected as the options allow;
    // -3 the controller refused what the options insist on.
    int openConnection();
    // Forward Close for an open connection; nothing when none is open.
    void closeConnection();
    // How the next request travels: on the open connection, else
    // unconnected along the route.
    tagread::Envelope envelope();
    // The largest Message Router request and reply the messaging carries.
    messaging::MessageLimits messageLimits() const;
    // The route's encoded segments (options.route.bytes()), made again only
    // when the route changed: every unconnected request carries them and
    // every read checks their size.
    const QByteArray &routeBytes() const;

    // ---- tag reads ----
    // maxValueBytes bounds what a read may gather over its fragments;
    // a reply with fewer than minValueBytes value bytes is rejected.
    // replyType, when given, receives the CIP data type code the reply
    // carried (only on success): the caller decodes by what came, not by
    // what it asked for.
    int Read_area(QString area, int count, QByteArray *out, QString tag,
                  int maxValueBytes = DefaultMaxValueBytes, int minValueBytes = 0,
                  quint16 *replyType = nullptr);
    int Message_parsing(QByteArray request, QByteArray *out, int count, QString tag);

    static constexpr int DefaultMaxValueBytes = 16 * 1024 * 1024;

    // ---- tag writes (link/TagWrite.cpp, link/CipExchange.cpp) ----
    // `count` elements of `elementSize` bytes; typeBytes is the CIP data
    // type as the request carries it. Results as Read_area's.
    int Write_area(QString area, QString tag, QByteArray typeBytes, int count, QByteArray data,
                   int elementSize, int maxRequestBytes = 0);
    // The one exchange writes go through: wraps a Message Router request in
    // its envelope, sends it with the trace lines and takes the Message
    // Router reply out. 0 reply taken, -1 rejected, -2 no reply, -3 not
    // connected; every failure is reported here. `frame`, when given,
    // receives the reply as it came, for the caller's own warning lines.
    int exchangeCip(const QByteArray &mrRequest, QByteArray &mrReply, const QString &tag, int count,
                    QByteArray *frame = nullptr, bool mayReopen = true);

    // ---- identity (link/IdentityRead.cpp) ----
    // ListIdentity on the open transport, and the Identity object's Get
    // Attributes All over the exchange tag reads use (route, connection).
    // 0 read, -1 rejected, -2 no reply, -3 not connected; `out` is written
    // only on 0.
    int listIdentity(identity::ListedIdentity *out);
    int readIdentity(identity::DeviceIdentity *out);

    // ---- recovery with the reconnect option (link/Reconnect.cpp) ----
    // Before a read or write: 0 when the transport is up, reopened first if
    // it was lost and the back-off allows an attempt; -3 when it is not.
    int ensureTransport();
    // A read or write whose exchange ended with rc: true when the transport
    // was lost while it waited and is up again, so the request may go once
    // more; rc becomes -3 when it stays down.
    bool reopenedAfterLoss(int &rc);
    // The final result of a read or write: replies, or their absence, tell
    // whether the peer is still there.
    void noteResult(int rc);

    // ---- fields (declaration order is the documented one) ----
    QByteArray recvBuffer;
    QByteArray sessionHandle;
    QHostAddress hostAddress;
    QTcpSocket *tcpSocket = nullptr;
    QTimer *frameTimer = nullptr;
    QSerialPort *serialPort = nullptr;
    int frameGapMs = 2;
    int tcpPort = 0;
    bool traceEnabled = false;

    // The transport that most recently connected successfully carries the
    // traffic; None falls back to "socket if any, else serial port".
    enum class Transport { None, Tcp, Serial };
    Transport activeTransport = Transport::None;

    // Sender contexts of requests that timed out and whose replies may still
    // arrive. While any is owed, read requests carry a fresh context and a
    // reply echoing an owed one is dropped, never handed to the wrong read.
    QList<QByteArray> lateContexts;
    // Whether the system is asked, before the next request, for bytes that
    // nobody asked for: while a reply is owed; once after a new connection,
    // a time-out or a dropped late reply (strayCheckDue); and before every
    // request once this peer has sent bytes no owed reply explains: junk
    // before a reply, bytes behind it, bytes found by such a look
    // (straysSeen, until the next connection). A link in step skips the
    // question, a system call per request.
    bool strayCheckDue = true;
    bool straysSeen = false;
    // > 0: the whole wait for one reply, counted from the send; otherwise
    // the first-reply wait plus the caller's time-out.
    int replyTimeoutMs = 0;

    // A stand-in for the transport (fuzz targets): every request is handed to
    // it and what it returns is all that comes back. Unset in the driver.
    std::function<QByteArray(const QByteArray &request)> testLine;

    LinkOptions options;
    struct CipConnection {
        bool open = false;
        quint32 otId = 0; // carried by our requests
        quint32 toId = 0; // carried by the controller's replies
        quint16 serial = 0;
        quint16 sequence = 0; // of the last request sent
        int size = 0;         // bytes the connection carries each way
    };
    CipConnection cipConnection;
    // In auto mode a refused kind of Forward Open is not asked again until
    // the next connect, so each refusal is met (and logged) once.
    bool largeRefused = false;
    bool smallRefused = false;
    quint16 nextConnectionSerial = 0;
    quint64 contextSerial = 0;
    static constexpr int MaxLateContexts = 16;
    // The controller could not keep up with a window of part requests: one
    // at a time for the rest of the connection.
    bool windowShrunk = false;
    // Value bytes of the first part of the last windowed read that came in
    // parts: where a later read's parts begin. 0 until one did.
    int windowPartBytes = 0;
    // Requests sent with sendOwned and not yet answered or given up, and
    // the replies to them that came while another exchange waited: those
    // are neither dropped nor taken for that exchange's reply.
    QVector<QByteArray> ownedRequests;
    QList<QByteArray> heldReplies;

    // The reconnect option's state: what to reopen, the back-off, and the
    // replies missed in a row.
    struct Recovery {
        bool stopped = false; // an explicit disconnect: no attempts until ConnectDrive
        bool down = false;    // lost and not reopened yet
        bool reopening = false;
        Transport target = Transport::None; // what the last ConnectDrive opened
        struct {
            QString name, parity;
            int baud = 0, dataBits = 0, stopBits = 0;
        } serial;
        int silentReads = 0;
        int stepMs = 0; // the back-off after the next failed attempt
        qint64 nextAttemptMs = 0;
        qint64 downSinceMs = 0;
        int attempts = 0;
        static constexpr int ConnectWaitMs = 2000;
        static constexpr int FirstStepMs = 100;
        static constexpr int LastStepMs = 10000;
        static constexpr int SilentReadsToGiveUp = 2;
    };
    Recovery recovery;

private slots:
    void Ethconnected();
    void Ethdisconnected();
    void EthreadyRead();
    void serialreadyRead();

private:
    // Transport helpers (link/CmdQuorvex.cpp).
    bool useSocket() const;
    bool useSerial() const;
    void discardPending();
    void waitStep(int ms);
    void waitOnSocket(int ms);
    void oweReply(bool sent, const QByteArray &context);
    bool serialBytesOnHand() const;
    bool takeOwnFrame(const QByteArray &request, QByteArray &reply);
    bool holdOwned(const QByteArray &frame);
    int takeHeld(const QVector<QByteArray> &requests, QByteArray &reply);
    void releaseOwned(const QByteArray &request);
    bool tryForwardOpen(bool large);
    // The request path of a read of `area` named `tag`, kept from the read
    // before when both are the same: a host polls the same tags again and
    // again.
    const QByteArray &readPath(const QString &area, const QString &tag);
    int connectionExchange(const QByteArray &frame, QByteArray &reply);
    int testLineExchange(const QByteArray &request, QByteArray &reply);
    struct SerialWatch {
        qint64 have = 0;  // bytes seen so far
        qint64 endMs = 0; // when the frame they begin can be complete
    };
    qint64 serialFrameEnd(SerialWatch &watch, qint64 nowMs);
    // Recovery helpers (link/Reconnect.cpp).
    bool recovering() const;
    bool transportUp() const;
    void markLost(const QString &reason, qint64 nowMs, int waitMs);
    int attemptReopen();
    QString whereText() const;
    QString transportError() const;
    void dropTransport();
    void setKeepAlive();

    quint64 generation = 0;
    mutable route::Route encodedRoute;
    mutable QByteArray encodedRouteBytes;
    mutable bool routeEncoded = false;
    struct {
        QString area, tag;
        int firstName = -1;
        QByteArray bytes;
    } lastPath;
};

#endif
