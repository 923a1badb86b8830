#ifndef QUORVEX_TOOLS_RAWCLIENT_H
#define QUORVEX_TOOLS_RAWCLIENT_H

// The link's route (the simulator has a header of the same name).
#include "LinkOptions.h"

#include <QByteArray>
#include <QString>

// The least a client can do to read a tag: a blocking socket, its own
// RegisterSession, optionally its own class 3 connection, one write per
// request and a read until the whole encapsulation frame is back. The
// benchmark's yardstick for the driver. Frames are built and judged by the
// link's pure functions, so the yardstick sends what the driver sends.
namespace tools
{

class RawClient
{
public:
    RawClient() = default;
    ~RawClient(); // closes an open connection, then the socket
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    // Connects and registers a session; false with *error set.
    bool open(const QString &address, quint16 port, QString *error);
    // Opens a connection of its own (a serial number and T->O id apart from
    // any other originator's) along `route`; from then on every request goes
    // as SendUnitData on it. False with *error set.
    bool openConnection(const route::Route &route, bool large, QString *error);
    // Forward Close; true when the target confirmed it. Requests go
    // unconnected again either way.
    bool closeConnection();
    bool isConnected() const { return conn.open; }

    // One Message Router request in SendRRData, or on the open connection;
    // the Message Router reply, empty on failure or after timeoutMs.
    QByteArray request(const QByteArray &mr, int timeoutMs = 2000);
    // A whole tag read: `mr` as the driver sends it first, followed by Read
    // Tag Fragmented requests at growing offsets while the controller
    // answers 0x06. Returns the number of value bytes, -1 on failure; the
    // number of exchanges in *frames.
    int readAll(const QByteArray &mr, int *frames);

private:
    QByteArray exchange(const QByteArray &frame, int timeoutMs);

    struct Connection {
        bool open = false;
        quint32 otId = 0;
        quint32 toId = 0;
        quint16 serial = 0;
        quint16 sequence = 0;
        route::Route route;
    };

    int fd = -1;
    QByteArray session;
    QByteArray pending;
    Connection conn;
};

// The Message Router request a SendRRData or SendUnitData request frame
// carries; empty for any other frame.
QByteArray messageRouterRequest(const QByteArray &frame);

// Where in a Message Router read request the 32-bit byte offset of Read Tag
// Fragmented lies (bare or inside an Unconnected Send); -1 when it is no
// such request.
int fragmentOffsetPosition(const QByteArray &mr);

} // namespace tools

#endif
