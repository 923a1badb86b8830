#ifndef QUORVEX_TOOLS_PCAP_H
#define QUORVEX_TOOLS_PCAP_H

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>

// A pcap file (LINKTYPE_ETHERNET) of the frames exchanged with the
// controller. The driver's trace shows only the encapsulation frames, so
// each one is wrapped in synthetic Ethernet, IPv4 and TCP headers of one
// TCP connection to port 44818, with a handshake and sequence numbers that
// follow the bytes, so that dissectors reassemble it as EtherNet/IP / CIP.
namespace tools
{

namespace pcap
{
constexpr quint32 Magic = 0xA1B2C3D4; // microsecond timestamps
constexpr quint16 VersionMajor = 2;
constexpr quint16 VersionMinor = 4;
constexpr quint32 SnapLen = 65535;
constexpr quint32 LinkTypeEthernet = 1;
constexpr int GlobalHeaderSize = 24;
constexpr int RecordHeaderSize = 16;
constexpr int EthernetHeaderSize = 14;
constexpr int Ipv4HeaderSize = 20;
constexpr int TcpHeaderSize = 20;
constexpr quint16 EnipTcpPort = 44818;
constexpr quint16 ClientTcpPort = 50000;
// Payload per synthetic segment, as on an Ethernet link.
constexpr int MaxSegment = 1460;

enum TcpFlag : quint8 { Fin = 0x01, Syn = 0x02, Psh = 0x08, Ack = 0x10 };

QByteArray globalHeader();
// Ones' complement checksum of RFC 1071 over `data`, plus `initial`.
quint16 internetChecksum(const QByteArray &data, quint32 initial = 0);

struct Segment {
    quint32 srcIp = 0, dstIp = 0;
    quint16 srcPort = 0, dstPort = 0;
    quint32 seq = 0, ack = 0;
    quint8 flags = 0;
    quint16 ipId = 0;
    QByteArray payload;
};
// Ethernet + IPv4 + TCP + payload, both checksums filled in.
QByteArray packet(const Segment &s);
} // namespace pcap

class PcapWriter
{
public:
    bool open(const QString &path, QString *error);
    // Addresses in host order; the client is the side that sends requests.
    void setEndpoints(quint32 clientIp, quint32 controllerIp);
    void write(bool toController, const QByteArray &frame, qint64 usecSinceEpoch);
    void close();
    int framesWritten() const { return frames; }

    static qint64 nowUsec();

private:
    void record(const pcap::Segment &s, qint64 usec);
    void handshake(qint64 usec);

    QFile file;
    quint32 clientIp = 0x7F000001, controllerIp = 0x7F000001;
    quint32 clientSeq = 1000, controllerSeq = 500000;
    quint16 ipId = 1;
    bool started = false;
    int frames = 0;
};

} // namespace tools

#endif
