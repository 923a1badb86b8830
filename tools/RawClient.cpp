#include "RawClient.h"

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "EncapFrame.h"
#include "ForwardOpen.h"
#include "Messaging.h"
#include "UnitData.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
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
// SendUnitData: the message follows the connected data item's sequence count.
constexpr int OffConnectedMessage = eip::OffCipMessage + 4 + eip::SequenceCountSize;
constexpr int MaxFragments = 1 << 20;
// A serial already in use (ours, the driver's) is refused: draw again.
constexpr int OpenAttempts = 4;

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

quint32 nonZeroRandom()
{
    quint32 v = 0;
    while (v == 0)
        v = QRandomGenerator::global()->generate();
    return v;
}

QString hexWord(quint32 v)
{
    return QStringLiteral("0x%1").arg(v, 4, 16, QLatin1Char('0'));
}

} // namespace

QByteArray messageRouterRequest(const QByteArray &frame)
{
    switch (le::getPadded(frame, eip::OffCommand, 2)) {
    case eip::SendRRData:
        return frame.mid(eip::OffCipMessage);
    case eip::SendUnitData:
        return frame.mid(OffConnectedMessage);
    default:
        return QByteArray();
    }
}

int fragmentOffsetPosition(const QByteArray &mr)
{
    le::Reader r(mr);
    int embedded = 0;
    const quint8 service = r.u8();
    const quint8 words = r.u8();
    if (!r.ok())
        return -1;
    if (service == cip::UnconnectedSend && words == 2 &&
        le::getPadded(mr, 3, 1) == cip::ConnectionManagerClass)
        embedded = UnconnectedSendHeader;
    le::Reader e(mr, embedded);
    if (e.u8() != cip::ReadTagFragmented)
        return -1;
    const int pathWords = e.u8();
    if (!e.skip(2 * pathWords + 2) || e.remaining() < 4)
        return -1;
    return e.position();
}

RawClient::~RawClient()
{
    if (conn.open)
        closeConnection();
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
    const encap::RegisterReply reply =
        encap::judgeRegisterReply(exchange(encap::registerSessionRequest(), 2000));
    if (!reply.ok) {
        *error = QStringLiteral("raw client: RegisterSession failed");
        return false;
    }
    session = reply.handle;
    return true;
}

bool RawClient::openConnection(const route::Route &route, bool large, QString *error)
{
    connmgr::OpenRequest r;
    r.large = large;
    r.route = route;
    r.connectionSize = large ? connmgr::LargeConnectionSize : connmgr::SmallConnectionSize;
    for (int attempt = 0; attempt < OpenAttempts; ++attempt) {
        r.toConnectionId = nonZeroRandom();
        r.serial = static_cast<quint16>(QRandomGenerator::global()->bounded(1, 0xFFFF));
        const messaging::Unwrapped u = messaging::unwrapUnconnected(
            exchange(messaging::sendRRData(session, connmgr::forwardOpenRequest(r)), 2000));
        if (u.verdict != messaging::Verdict::Ok) {
            *error = QStringLiteral("raw client: no usable reply to the Forward Open");
            return false;
        }
        const connmgr::OpenReply o = connmgr::parseForwardOpenReply(u.mr, large);
        if (o.verdict == messaging::Verdict::Ok) {
            conn.open = true;
            conn.otId = o.otConnectionId;
            conn.toId = o.toConnectionId;
            conn.serial = r.serial;
            conn.sequence = static_cast<quint16>(QRandomGenerator::global()->generate());
            conn.route = route;
            return true;
        }
        const quint16 ext = o.ext.isEmpty() ? 0 : o.ext.first();
        if (o.verdict == messaging::Verdict::Refused && ext == cip::ExtConnectionInUse)
            continue;
        if (o.verdict == messaging::Verdict::Refused && o.acceptedSize > 0 &&
            o.acceptedSize < r.connectionSize) {
            r.connectionSize = o.acceptedSize;
            continue;
        }
        *error = QStringLiteral("raw client: Forward Open refused, status %1 ext %2")
                     .arg(hexWord(o.generalStatus), hexWord(ext));
        return false;
    }
    *error = QStringLiteral("raw client: Forward Open refused %1 times").arg(OpenAttempts);
    return false;
}

bool RawClient::closeConnection()
{
    if (!conn.open)
        return false;
    conn.open = false;
    connmgr::CloseRequest r;
    r.serial = conn.serial;
    r.route = conn.route;
    const messaging::Unwrapped u = messaging::unwrapUnconnected(
        exchange(messaging::sendRRData(session, connmgr::forwardCloseRequest(r)), 2000));
    return u.verdict == messaging::Verdict::Ok &&
           connmgr::parseForwardCloseReply(u.mr).verdict == messaging::Verdict::Ok;
}

QByteArray RawClient::request(const QByteArray &mr, int timeoutMs)
{
    if (!conn.open) {
        const messaging::Unwrapped u =
            messaging::unwrapUnconnected(exchange(messaging::sendRRData(session, mr), timeoutMs));
        return u.verdict == messaging::Verdict::Ok ? u.mr : QByteArray();
    }
    unitdata::Expect expect;
    expect.otConnectionId = conn.otId;
    expect.toConnectionId = conn.toId;
    expect.sequence = ++conn.sequence;
    const unitdata::Unwrapped u = unitdata::unwrap(
        exchange(unitdata::frame(session, conn.otId, expect.sequence, mr), timeoutMs), expect);
    return u.verdict == messaging::Verdict::Ok ? u.mr : QByteArray();
}

QByteArray RawClient::exchange(const QByteArray &frame, int timeoutMs)
{
    if (fd < 0 || !writeAll(fd, frame))
        return QByteArray();
    QElapsedTimer clock;
    clock.start();
    char buf[4096];
    for (;;) {
        const int whole = eip::completeFrameSize(pending);
        if (whole > 0) {
            const QByteArray reply = pending.left(whole);
            pending.remove(0, whole);
            return reply;
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

int RawClient::readAll(const QByteArray &mr, int *frames)
{
    const int offsetAt = fragmentOffsetPosition(mr);
    QByteArray next = mr;
    quint32 offset = 0;
    int total = 0;
    *frames = 0;
    for (int i = 0; i < MaxFragments; ++i) {
        const messaging::MrReply m = messaging::parseMrReply(request(next));
        ++*frames;
        le::Reader r(m.data);
        const quint16 type = r.u16();
        if (type == cip::TypeStructure)
            r.skip(2);
        if (m.verdict != messaging::Verdict::Ok || !r.ok() ||
            (m.generalStatus != cip::Success && m.generalStatus != cip::PartialTransfer))
            return -1;
        const int bytes = r.remaining();
        total += bytes;
        if (m.generalStatus == cip::Success)
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
