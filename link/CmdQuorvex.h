#ifndef CMDQUORVEX_H
#define CMDQUORVEX_H

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include "CipEnvelope.h"

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
    int SendData(QByteArray request, QByteArray &reply, int timeoutMs);
    int Only_send(QByteArray request);
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
    // maxValueBytes bounds what a read may gather over all its fragments.
    int Read_area(QString area, int count, QByteArray *out, QString tag,
                  int maxValueBytes = DefaultMaxValueBytes);
    int Message_parsing(QByteArray request, QByteArray *out, int count, QString tag);

    static constexpr int DefaultMaxValueBytes = 16 * 1024 * 1024;

    // ---- tag writes (link/TagWrite.cpp, link/CipExchange.cpp) ----
    // `count` elements of `elementSize` bytes; typeBytes is the CIP data
    // type as the request carries it. Results as Read_area's.
    int Write_area(QString area, QString tag, QByteArray typeBytes, int count, QByteArray data,
                   int elementSize, int maxRequestBytes = cipenvelope::MaxUnconnectedRequest);
    // The one exchange writes go through: wraps a Message Router request in
    // its envelope, sends it with the trace lines and takes the Message
    // Router reply out. 0 reply taken, -1 rejected, -2 no reply, -3 not
    // connected; every failure is reported here. `frame`, when given,
    // receives the reply as it came, for the caller's own warning lines.
    int exchangeCip(const QByteArray &mrRequest, QByteArray &mrReply, const QString &tag, int count,
                    QByteArray *frame = nullptr);

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
    quint64 contextSerial = 0;
    static constexpr int MaxLateContexts = 16;

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
    void oweReply(bool sent, const QByteArray &context);
};

#endif
