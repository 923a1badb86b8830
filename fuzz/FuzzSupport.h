#ifndef QUORVEX_FUZZSUPPORT_H
#define QUORVEX_FUZZSUPPORT_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Shared by the fuzz targets: a reader that takes the input apart (running
// out of bytes gives zeros, never an error), a check that turns a broken
// invariant into a crash libFuzzer reports, and a quiet message handler (the
// driver warns on every rejected reply; printing them would dominate the run).
namespace fuzz
{

class Input
{
public:
    Input(const uint8_t *data, size_t size) : d(data), n(size) {}

    size_t remaining() const { return n - pos; }
    bool empty() const { return pos >= n; }

    quint8 u8() { return pos < n ? d[pos++] : 0; }
    quint16 u16()
    {
        const quint16 lo = u8();
        return quint16(lo | (quint16(u8()) << 8));
    }
    qint32 i32()
    {
        quint32 v = u16();
        v |= quint32(u16()) << 16;
        return static_cast<qint32>(v);
    }
    QByteArray bytes(size_t count)
    {
        if (count > remaining())
            count = remaining();
        QByteArray b(reinterpret_cast<const char *>(d + pos), int(count));
        pos += count;
        return b;
    }
    QByteArray rest() { return bytes(remaining()); }

private:
    const uint8_t *d;
    size_t n;
    size_t pos = 0;
};

[[noreturn]] inline void fail(const char *what, const char *file, int line)
{
    std::fprintf(stderr, "fuzz invariant broken: %s (%s:%d)\n", what, file, line);
    std::abort();
}

inline void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "%s\n", qPrintable(msg));
        std::abort();
    }
}

inline void installQuietHandler()
{
    qInstallMessageHandler(quietHandler);
}

} // namespace fuzz

#define FUZZ_CHECK(cond)                                                                           \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::fuzz::fail(#cond, __FILE__, __LINE__);                                               \
    } while (0)

#endif
