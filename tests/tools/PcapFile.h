#ifndef QUORVEX_TESTS_PCAPFILE_H
#define QUORVEX_TESTS_PCAPFILE_H

#include <QByteArray>
#include <QList>
#include <QString>
#include <QtGlobal>

// A pcap reader written from the file format alone, so that the tests judge
// the writer by a second opinion. Network fields are big-endian.
namespace pcaptest
{

inline quint32 le32(const QByteArray &b, int at)
{
    quint32 v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<quint8>(b.at(at + i));
    return v;
}
inline quint32 be(const QByteArray &b, int at, int width)
{
    quint32 v = 0;
    for (int i = 0; i < width; ++i)
        v = (v << 8) | static_cast<quint8>(b.at(at + i));
    return v;
}

struct Record {
    quint32 sec = 0, usec = 0;
    QByteArray data;
    // Decoded Ethernet / IPv4 / TCP fields.
    quint32 srcIp = 0, dstIp = 0, seq = 0, ack = 0;
    quint16 srcPort = 0, dstPort = 0, ipTotal = 0;
    quint8 flags = 0;
    QByteArray payload;
};

struct File {
    bool ok = false;
    QString error;
    quint32 magic = 0, snaplen = 0, linktype = 0;
    quint16 major = 0, minor = 0;
    QList<Record> records;
};

inline File parse(const QByteArray &bytes)
{
    File f;
    if (bytes.size() < 24) {
        f.error = "no global header";
        return f;
    }
    f.magic = le32(bytes, 0);
    f.major = static_cast<quint16>(le32(bytes, 4) & 0xFFFF);
    f.minor = static_cast<quint16>(le32(bytes, 4) >> 16);
    f.snaplen = le32(bytes, 16);
    f.linktype = le32(bytes, 20);
    int at = 24;
    while (at < bytes.size()) {
        if (bytes.size() - at < 16) {
            f.error = QString("truncated record header at %1").arg(at);
            return f;
        }
        Record r;
        r.sec = le32(bytes, at);
        r.usec = le32(bytes, at + 4);
        const quint32 incl = le32(bytes, at + 8), orig = le32(bytes, at + 12);
        if (incl != orig || incl > f.snaplen || bytes.size() - at - 16 < int(incl) ||
            r.usec >= 1000000) {
            f.error = QString("bad record header at %1").arg(at);
            return f;
        }
        r.data = bytes.mid(at + 16, int(incl));
        at += 16 + int(incl);
        const QByteArray &d = r.data;
        if (d.size() < 54 || be(d, 12, 2) != 0x0800 || static_cast<quint8>(d[14]) != 0x45 ||
            static_cast<quint8>(d[23]) != 6) {
            f.error = "not Ethernet / IPv4 / TCP";
            return f;
        }
        r.ipTotal = static_cast<quint16>(be(d, 16, 2));
        r.srcIp = be(d, 26, 4);
        r.dstIp = be(d, 30, 4);
        r.srcPort = static_cast<quint16>(be(d, 34, 2));
        r.dstPort = static_cast<quint16>(be(d, 36, 2));
        r.seq = be(d, 38, 4);
        r.ack = be(d, 42, 4);
        r.flags = static_cast<quint8>(d[47]);
        const int tcpHeader = (static_cast<quint8>(d[46]) >> 4) * 4;
        r.payload = d.mid(34 + tcpHeader);
        f.records.append(r);
    }
    f.ok = true;
    return f;
}

} // namespace pcaptest

#endif
