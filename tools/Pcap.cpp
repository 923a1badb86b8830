#include "Pcap.h"

#include "ByteOrder.h"

#include <chrono>

namespace tools
{

namespace
{

// Network headers are big-endian, unlike every EtherNet/IP field.
void be16(QByteArray &out, quint16 v)
{
    out.append(static_cast<char>(v >> 8));
    out.append(static_cast<char>(v & 0xFF));
}

void be32(QByteArray &out, quint32 v)
{
    be16(out, static_cast<quint16>(v >> 16));
    be16(out, static_cast<quint16>(v & 0xFFFF));
}

void setBe16(QByteArray &out, int offset, quint16 v)
{
    out[offset] = static_cast<char>(v >> 8);
    out[offset + 1] = static_cast<char>(v & 0xFF);
}

constexpr quint16 EtherTypeIpv4 = 0x0800;
constexpr quint8 IpProtoTcp = 6;
constexpr quint8 Ttl = 64;
constexpr quint16 DontFragment = 0x4000;
constexpr quint16 Window = 0xFFFF;
constexpr int IpChecksumOffset = 10;
constexpr int TcpChecksumOffset = 16;

// Locally administered MACs that only tell the two ends apart.
QByteArray mac(quint32 ip)
{
    QByteArray m("\x02\x00", 2);
    be32(m, ip);
    return m;
}

} // namespace

namespace pcap
{

QByteArray globalHeader()
{
    QByteArray h;
    le::put32(h, Magic);
    le::put16(h, VersionMajor);
    le::put16(h, VersionMinor);
    le::put32(h, 0); // this zone
    le::put32(h, 0); // sigfigs
    le::put32(h, SnapLen);
    le::put32(h, LinkTypeEthernet);
    return h;
}

quint16 internetChecksum(const QByteArray &data, quint32 initial)
{
    quint64 sum = initial;
    const int n = data.size();
    for (int i = 0; i + 1 < n; i += 2)
        sum += (static_cast<quint8>(data[i]) << 8) | static_cast<quint8>(data[i + 1]);
    if (n % 2)
        sum += static_cast<quint8>(data[n - 1]) << 8;
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<quint16>(~sum & 0xFFFF);
}

QByteArray packet(const Segment &s)
{
    QByteArray tcp;
    be16(tcp, s.srcPort);
    be16(tcp, s.dstPort);
    be32(tcp, s.seq);
    be32(tcp, s.ack);
    tcp.append(static_cast<char>((TcpHeaderSize / 4) << 4));
    tcp.append(static_cast<char>(s.flags));
    be16(tcp, Window);
    be16(tcp, 0); // checksum, below
    be16(tcp, 0); // urgent pointer
    tcp.append(s.payload);

    QByteArray pseudo;
    be32(pseudo, s.srcIp);
    be32(pseudo, s.dstIp);
    be16(pseudo, IpProtoTcp);
    be16(pseudo, static_cast<quint16>(tcp.size()));
    setBe16(tcp, TcpChecksumOffset, internetChecksum(pseudo + tcp));

    QByteArray ip;
    ip.append(static_cast<char>(0x45)); // version 4, 5 words
    ip.append('\0');
    be16(ip, static_cast<quint16>(Ipv4HeaderSize + tcp.size()));
    be16(ip, s.ipId);
    be16(ip, DontFragment);
    ip.append(static_cast<char>(Ttl));
    ip.append(static_cast<char>(IpProtoTcp));
    be16(ip, 0); // checksum, below
    be32(ip, s.srcIp);
    be32(ip, s.dstIp);
    setBe16(ip, IpChecksumOffset, internetChecksum(ip));

    QByteArray eth = mac(s.dstIp) + mac(s.srcIp);
    be16(eth, EtherTypeIpv4);
    return eth + ip + tcp;
}

} // namespace pcap

bool PcapWriter::open(const QString &path, QString *error)
{
    file.setFileName(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    file.write(pcap::globalHeader());
    file.flush();
    return true;
}

void PcapWriter::setEndpoints(quint32 client, quint32 controller)
{
    clientIp = client;
    controllerIp = controller;
}

qint64 PcapWriter::nowUsec()
{
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

void PcapWriter::record(const pcap::Segment &s, qint64 usec)
{
    const QByteArray p = pcap::packet(s);
    QByteArray h;
    le::put32(h, static_cast<quint32>(usec / 1000000));
    le::put32(h, static_cast<quint32>(usec % 1000000));
    le::put32(h, static_cast<quint32>(p.size()));
    le::put32(h, static_cast<quint32>(p.size()));
    file.write(h);
    file.write(p);
}

void PcapWriter::handshake(qint64 usec)
{
    pcap::Segment s;
    s.srcIp = clientIp;
    s.dstIp = controllerIp;
    s.srcPort = pcap::ClientTcpPort;
    s.dstPort = pcap::EnipTcpPort;
    s.seq = clientSeq - 1;
    s.flags = pcap::Syn;
    s.ipId = ipId++;
    record(s, usec);

    pcap::Segment r;
    r.srcIp = controllerIp;
    r.dstIp = clientIp;
    r.srcPort = pcap::EnipTcpPort;
    r.dstPort = pcap::ClientTcpPort;
    r.seq = controllerSeq - 1;
    r.ack = clientSeq;
    r.flags = pcap::Syn | pcap::Ack;
    r.ipId = ipId++;
    record(r, usec);

    s.seq = clientSeq;
    s.ack = controllerSeq;
    s.flags = pcap::Ack;
    s.ipId = ipId++;
    record(s, usec);
}

void PcapWriter::write(bool toController, const QByteArray &frame, qint64 usec)
{
    if (!file.isOpen() || frame.isEmpty())
        return;
    if (!started) {
        handshake(usec);
        started = true;
    }
    quint32 &seq = toController ? clientSeq : controllerSeq;
    const quint32 ack = toController ? controllerSeq : clientSeq;
    for (int at = 0; at < frame.size(); at += pcap::MaxSegment) {
        pcap::Segment s;
        s.srcIp = toController ? clientIp : controllerIp;
        s.dstIp = toController ? controllerIp : clientIp;
        s.srcPort = toController ? pcap::ClientTcpPort : pcap::EnipTcpPort;
        s.dstPort = toController ? pcap::EnipTcpPort : pcap::ClientTcpPort;
        s.seq = seq;
        s.ack = ack;
        s.flags = pcap::Psh | pcap::Ack;
        s.ipId = ipId++;
        s.payload = frame.mid(at, pcap::MaxSegment);
        record(s, usec);
        seq += static_cast<quint32>(s.payload.size());
    }
    ++frames;
    file.flush();
}

void PcapWriter::close()
{
    if (file.isOpen())
        file.close();
}

} // namespace tools
