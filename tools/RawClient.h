#ifndef QUORVEX_TOOLS_RAWCLIENT_H
#define QUORVEX_TOOLS_RAWCLIENT_H

#include <QByteArray>
#include <QString>

// The least a client can do to read a tag: a blocking socket, its own
// RegisterSession, one write per request and a read until the whole
// encapsulation frame is back. The benchmark's yardstick for the driver.
namespace tools
{

class RawClient
{
public:
    RawClient() = default;
    ~RawClient();
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    // Connects and registers a session; false with *error set.
    bool open(const QString &address, quint16 port, QString *error);
    // Writes `request` (its session field replaced by ours) and returns the
    // whole reply frame; empty on failure or after timeoutMs.
    QByteArray exchange(QByteArray request, int timeoutMs = 2000);
    // A whole tag read: `request` as the driver sends it first, followed by
    // Read Tag Fragmented requests at growing offsets while the controller
    // answers 0x06. Returns the number of value bytes, -1 on failure; the
    // number of exchanges in *frames.
    int readAll(const QByteArray &request, int *frames);

private:
    int fd = -1;
    QByteArray session;
    QByteArray pending;
};

// Where in a read request the 32-bit byte offset of Read Tag Fragmented
// lies (bare or inside an Unconnected Send); -1 when it is no such request.
int fragmentOffsetPosition(const QByteArray &request);

} // namespace tools

#endif
