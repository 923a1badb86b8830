#ifndef CMDQUORVEX_H
#define CMDQUORVEX_H

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include "CipConnection.h"
#include "Identity.h"
#include "Line.h"
#include "LinkLog.h"
#include "LinkOptions.h"
#include "ReadFrames.h"
#include "ReadState.h"
#include "Recovery.h"
#include "ReplyChannel.h"

class QTcpSocket;
class QSerialPort;
class QTimer;

// The controller link: one TCP socket or one serial port, turned into one
// synchronous send-and-wait primitive, plus the EtherNet/IP session and the
// tag read exchange on top of it. Everything runs in the caller's thread.
//
// The link owns the transport objects and their slots; the rest of its
// state lives in parts, each with one job: the line (bytes, deadlines,
// frame sync), the reply channel (the pending requests and which frame
// answers which), the CIP connection, recovery, and what reads keep.
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
    // Sends `request` and waits for the frame that answers it: the one whose
    // sender context (SendUnitData: connection id and sequence count) it
    // echoes. The wait is counted from the send.
    int SendData(const QByteArray &request, QByteArray &reply, int timeoutMs);
    int Only_send(const QByteArray &request);
    int waitForReady(int ms);
    int Connection_status();
    void mysleep(int ms);
    int deletetcpSocket();
    int deleteSerialPort();
    int DestroyFree();
    void TimerTimeOut();

    // ---- session ----
    int send_reg();

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

    // ---- what the facade and the tools ask beyond that ----
    // The options of the last ConnectDrive: route, messaging, reply wait.
    void setOptions(const LinkOptions &o);
    // `count` elements of `elementSize` bytes; typeBytes is the CIP data
    // type as the request carries it. Results as Read_area's.
    int Write_area(QString area, QString tag, QByteArray typeBytes, int count, QByteArray data,
                   int elementSize, int maxRequestBytes = 0);
    // The one exchange writes go through: wraps a Message Router request in
    // its envelope, sends it with the trace lines and takes the Message
    // Router reply out. 0 reply taken, -1 rejected, -2 no reply, -3 not
    // connected; every failure is reported here. `frame`, when given,
    // receives the reply as it came, for the caller's own warning lines.
    // A request the controller answered with "connection not found" is sent
    // once more on a connection opened anew, unless `mayReopen` is false.
    int exchangeCip(const QByteArray &mrRequest, QByteArray &mrReply, const QString &tag, int count,
                    QByteArray *frame = nullptr, bool mayReopen = true);
    // ListIdentity on the open transport, and the Identity object's Get
    // Attributes All over the exchange tag reads use (route, connection).
    // 0 read, -1 rejected, -2 no reply, -3 not connected; `out` is written
    // only on 0.
    int listIdentity(identity::ListedIdentity *out);
    int readIdentity(identity::DeviceIdentity *out);
    // Forward Close for an open connection; nothing when none is open.
    void closeConnection();
    // Around a request the facade builds itself (as Read_area and
    // Write_area do around theirs), with the reconnect option: before it, 0
    // when the transport is up, -3 while it is being reopened (a loss found
    // here starts the reopen, which goes on beside the calls; nothing here
    // waits for it); after it, its result, by which a peer that stopped
    // answering is given up.
    int ensureTransport();
    void noteResult(int rc);
    // Another number with every connect or reopen of a transport (also
    // the reconnect option's): what a caller learned about the controller's
    // tags holds for one generation, since the next may be another
    // controller or another program.
    quint64 connectionGeneration() const { return generation; }

    // How the link's log lines name the controller (or the serial line), for
    // the lines its callers write in the same form.
    const linklog::Where &logPlace() const { return where; }

    // The parts, for what tests and diagnostics look at.
    Line &line() { return linePart; }
    ReplyChannel &replies() { return channel; }
    CipConnection &cipConnection() { return connection; }

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

private slots:
    void Ethconnected();
    void Ethdisconnected();
    void EthreadyRead();
    void serialreadyRead();

private:
    // How a request travels: on the open connection, else unconnected
    // along the route (link/CipExchange.cpp).
    tagread::Envelope envelope();
    messaging::MessageLimits messageLimits();
    // The whole wait one reply gets, counted from its send.
    int replyWaitMs(int timeoutMs) const;

    // A request's outcome as the retry below needs it.
    struct Attempt {
        int rc = 0;
        bool connectionGone = false; // the controller no longer knows the connection
    };
    // The one way a request is sent once more: when the controller dropped
    // the CIP connection under it (opened anew first).
    template <typename Run> Attempt onceMore(Run run);

    // Transport (link/CmdQuorvex.cpp).
    void startSocket();
    int connectTcp(int waitMs);
    void socketConnected();
    bool openSerial(const QString &portName, int baudRate, int dataBits, int stopBits,
                    const QString &parity);
    bool transportUp() const;
    QString transportError() const;
    // The session registration's reply judged; its handle kept (link/Session.cpp).
    int acceptRegistration(const QByteArray &reply);
    // Recovery with the reconnect option (link/Reopen.cpp): the steps of
    // an attempt, none of which waits.
    Recovery::Outcome reopenStep(Recovery::Phase phase, bool first, bool expired);
    Recovery::Outcome startConnect();
    Recovery::Outcome connectProgress();
    Recovery::Outcome postRegistration();
    Recovery::Outcome takeRegistration(bool expired);
    Recovery::Outcome opening(CipConnection::Opening o);
    void dropReopen();
    void dropTransport();
    void lostWhileWaiting(int &rc);
    void setKeepAlive();

    LinkOptions options;
    quint64 generation = 0;
    // Why the last connect failed, as recovery tells it.
    QString connectFailure;
    // The registration a reopen waits for.
    QByteArray registration;
    Line linePart{
        LineFields{recvBuffer, sessionHandle, tcpSocket, serialPort, frameTimer, frameGapMs}};
    linklog::Where where{hostAddress, tcpPort, traceEnabled, linePart};
    ReplyChannel channel{linePart};
    CipConnection connection{channel, where, sessionHandle, options};
    Recovery recovery{where,
                      [this](Recovery::Phase phase, bool first, bool expired) {
                          return reopenStep(phase, first, expired);
                      },
                      [this] { dropReopen(); }};
    ReadState reads;
};

template <typename Run> CmdQuorvex::Attempt CmdQuorvex::onceMore(Run run)
{
    Attempt a = run();
    if (a.connectionGone && connection.isOpen() && connection.reopen() == 0)
        return run();
    return a;
}

#endif
