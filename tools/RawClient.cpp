#include "RawClient.h"

#include "ByteOrder.h"
#include "EipProtocol.h"

#include <QElapsedTimer>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tools
{

namespace
{

// Unconnected Send: service, path size, 20 06 24 01, priority, ticks, size.
constexpr int UnconnectedSendHeader = 10;
constexpr int MaxFragments = 1 << 20;

bool writeAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t n = ::send(fd, p, static_cast<size_t>(left), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

} // namespace

int fragmentOffsetPosition(const QByteArray &request)
{
    le::Reader r(request, eip::OffCipMessage);
    int embedded = eip::OffCipMessage;
    const quint8 service = r.u8();
    const quint8 words = r.u8();
    if (!r.ok())
        return -1;
    if (service == cip::UnconnectedSend && words == 2 &&
        le::getPadded(request, eip::OffCipMessage + 3, 1) == cip::ConnectionManagerClass)
        embedded = eip::OffCipMessage + UnconnectedSendHeader;
    le::Reader e(request, embedded);
    if (e.u8() != cip::ReadTagFragmented)
        return -1;
    const int pathWords = e.u8();
    if (!e.skip(2 * pathWords + 2) || e.remaining() < 4)
        return -1;
    return e.position();
}

RawClient::~RawClient()
{
    if (fd >= 0)
        ::close(fd);
}

bool RawClient::open(const QString &address, quint16 port, QString *error)
{
    sockaddr_in to = {};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.toLatin1().constData(), &to.sin_addr) != 1) {
        *error = QStringLiteral("%1 is not an IPv4 address").arg(address);
        return false;
    }
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to) != 0) {
        *error =
            QStringLiteral("raw client: connect: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    QByteArray reg;
    le::put16(reg, eip::RegisterSession);
    le::put16(reg, eip::RegisterSessionDataSize);
    le::put32(reg, 0);
    le::put32(reg, eip::StatusSuccess);
    reg.append(QByteArray(eip::ContextSize, '\0'));
    le::put32(reg, 0);
    le::put16(reg, eip::ProtocolVersion);
    le::put16(reg, 0);
    session = QByteArray(eip::SessionHandleSize, '\0');
    const QByteArray reply = exchange(reg);
    if (reply.size() < eip::HeaderSize ||
        le::getPadded(reply, eip::OffStatus, 4) != eip::StatusSuccess) {
        *error = QStringLiteral("raw client: RegisterSession failed");
        return false;
    }
    session = reply.mid(eip::OffSession, eip::SessionHandleSize);
    return true;
}

QByteArray RawClient::exchange(QByteArray request, int timeoutMs)
{
    if (fd < 0 || request.size() < eip::HeaderSize)
        return QByteArray();
    if (le::getPadded(request, eip::OffCommand, 2) != eip::RegisterSession)
        request.replace(eip::OffSession, eip::SessionHandleSize, session);
    if (!writeAll(fd, request))
        return QByteArray();
    QElapsedTimer clock;
    clock.start();
    char buf[4096];
    for (;;) {
        const int whole = eip::completeFrameSize(pending);
        if (whole > 0) {
            const QByteArray frame = pending.left(whole);
            pending.remove(0, whole);
            return frame;
        }
        const qint64 left = timeoutMs - clock.elapsed();
        pollfd p = {fd, POLLIN, 0};
        if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) <= 0)
            return QByteArray();
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return QByteArray();
        pending.append(buf, static_cast<int>(n));
    }
}

int RawClient::readAll(const QByteArray &request, int *frames)
{
    const int offsetAt = fragmentOffsetPosition(request);
    QByteArray next = request;
    quint32 offset = 0;
    int total = 0;
    *frames = 0;
    for (int i = 0; i < MaxFragments; ++i) {
        const QByteArray reply = exchange(next);
        ++*frames;
        le::Reader r(reply, eip::OffCipMessage);
        r.skip(2); // reply service, reserved
        const quint8 status = r.u8();
        const int extWords = r.u8();
        r.skip(2 * extWords);
        const quint16 type = r.u16();
        if (type == cip::TypeStructure)
            r.skip(2);
        if (!r.ok() || (status != cip::Success && status != cip::PartialTransfer))
            return -1;
        const int bytes = r.remaining();
        total += bytes;
        if (status == cip::Success)
            return total;
        if (offsetAt < 0 || bytes == 0)
            return -1;
        offset += static_cast<quint32>(bytes);
        QByteArray field;
        le::put32(field, offset);
        next.replace(offsetAt, 4, field);
    }
    return -1;
}

} // namespace tools
