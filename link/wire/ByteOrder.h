#ifndef QUORVEX_BYTEORDER_H
#define QUORVEX_BYTEORDER_H

#include <QByteArray>
#include <QtEndian>
#include <QtGlobal>
#include <cstring>

// Every protocol field and every controller value is little-endian. These are
// the only places that assemble or split multi-byte fields.
namespace le
{

inline void put8(QByteArray &out, quint8 v)
{
    out.append(static_cast<char>(v));
}

inline void put16(QByteArray &out, quint16 v)
{
    const char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
    out.append(b, 2);
}

inline void put32(QByteArray &out, quint32 v)
{
    put16(out, static_cast<quint16>(v & 0xFFFF));
    put16(out, static_cast<quint16>(v >> 16));
}

inline void put64(QByteArray &out, quint64 v)
{
    put32(out, static_cast<quint32>(v & 0xFFFFFFFFu));
    put32(out, static_cast<quint32>(v >> 32));
}

// Big-endian, for the socket address of an identity item only.
inline void putBig16(QByteArray &out, quint16 v)
{
    const char b[2] = {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)};
    out.append(b, 2);
}

inline void putBig32(QByteArray &out, quint32 v)
{
    putBig16(out, static_cast<quint16>(v >> 16));
    putBig16(out, static_cast<quint16>(v & 0xFFFF));
}

// Overwrites an already present 16-bit field (lengths known only at the end).
inline void set16(QByteArray &out, int offset, quint16 v)
{
    out[offset] = static_cast<char>(v & 0xFF);
    out[offset + 1] = static_cast<char>(v >> 8);
}

// Little-endian value of `width` bytes at `offset`; bytes past the end of
// `in` count as zero, so a short input can never be read out of bounds.
inline quint64 getPadded(const QByteArray &in, qsizetype offset, int width)
{
    quint64 v = 0;
    for (int i = 0; i < width; ++i) {
        const qsizetype at = offset + i;
        if (at >= 0 && at < in.size())
            v |= static_cast<quint64>(static_cast<quint8>(in.at(at))) << (8 * i);
    }
    return v;
}

// The little-endian value of the sizeof(U) bytes at `p`, which the caller
// has checked are there: for arrays of values, where a check per byte costs
// more than the rest of their decoding.
template <typename U> inline U getUnchecked(const char *p)
{
    U v;
    std::memcpy(&v, p, sizeof v);
    return qFromLittleEndian(v);
}

// Big-endian value of `width` bytes at `offset`, padded like getPadded:
// only a socket address inside an identity item is sent this way.
inline quint64 getBigPadded(const QByteArray &in, qsizetype offset, int width)
{
    quint64 v = 0;
    for (int i = 0; i < width; ++i) {
        const qsizetype at = offset + i;
        const quint64 b = at >= 0 && at < in.size() ? static_cast<quint8>(in.at(at)) : quint64(0);
        v = (v << 8) | b;
    }
    return v;
}

// Sequential writer into a fixed buffer the caller provides, for frames
// built once per request: one append of the whole block costs less than one
// per field. A write past the end is not done and clears `ok()`.
class Writer
{
public:
    Writer(char *buffer, int capacity) : begin(buffer), at(buffer), end(buffer + capacity) {}

    bool ok() const { return good; }
    int size() const { return static_cast<int>(at - begin); }

    void put8(quint8 v)
    {
        if (at == end) {
            good = false;
            return;
        }
        *at++ = static_cast<char>(v);
    }
    void put16(quint16 v)
    {
        put8(static_cast<quint8>(v & 0xFF));
        put8(static_cast<quint8>(v >> 8));
    }
    void put32(quint32 v)
    {
        put16(static_cast<quint16>(v & 0xFFFF));
        put16(static_cast<quint16>(v >> 16));
    }
    void putBytes(const char *bytes, int n)
    {
        if (n < 0 || n > end - at) {
            good = false;
            return;
        }
        std::memcpy(at, bytes, static_cast<size_t>(n));
        at += n;
    }
    void putZeros(int n)
    {
        for (int i = 0; i < n; ++i)
            put8(0);
    }

private:
    char *begin;
    char *at;
    char *end;
    bool good = true;
};

// Sequential reader: every read checks the remaining length first; once a
// read fails, `ok()` stays false and further reads return zero.
class Reader
{
public:
    explicit Reader(const QByteArray &data, int start = 0) : d(data), pos(start)
    {
        if (start < 0 || start > d.size())
            good = false;
    }

    bool ok() const { return good; }
    int position() const { return pos; }
    int remaining() const { return good ? d.size() - pos : 0; }

    bool skip(int n)
    {
        if (!need(n))
            return false;
        pos += n;
        return true;
    }
    quint8 u8() { return static_cast<quint8>(take(1)); }
    quint16 u16() { return static_cast<quint16>(take(2)); }
    quint32 u32() { return static_cast<quint32>(take(4)); }
    quint64 u64() { return take(8); }
    quint16 be16() { return static_cast<quint16>(takeBig(2)); }
    quint32 be32() { return static_cast<quint32>(takeBig(4)); }
    QByteArray bytes(int n)
    {
        if (!need(n))
            return QByteArray();
        QByteArray r = d.mid(pos, n);
        pos += n;
        return r;
    }

private:
    bool need(int n)
    {
        if (!good || n < 0 || n > d.size() - pos) {
            good = false;
            return false;
        }
        return true;
    }
    // The bounds are checked once for the whole field, not per byte.
    quint64 take(int width)
    {
        if (!need(width))
            return 0;
        const auto *p = reinterpret_cast<const uchar *>(d.constData()) + pos;
        quint64 v = 0;
        for (int i = 0; i < width; ++i)
            v |= static_cast<quint64>(p[i]) << (8 * i);
        pos += width;
        return v;
    }

    quint64 takeBig(int width)
    {
        if (!need(width))
            return 0;
        const quint64 v = getBigPadded(d, pos, width);
        pos += width;
        return v;
    }

    const QByteArray &d;
    int pos;
    bool good = true;
};

} // namespace le

#endif
