#include "SimChannel.h"

#include <QSocketNotifier>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace qsim
{

PtyChannel::PtyChannel(TagDatabase &db, FaultControl &faults, ServerShared &shared, QObject *parent)
    : SimChannel(db, faults, shared, true, parent)
{
}

PtyChannel::~PtyChannel()
{
    closeTransport();
}

bool PtyChannel::open(QString *error)
{
    char name[256] = {};
    struct termios raw;
    std::memset(&raw, 0, sizeof raw);
    cfmakeraw(&raw);
    if (::openpty(&master, &slave, name, &raw, nullptr) != 0) {
        *error = QStringLiteral("openpty: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    path = QString::fromLocal8Bit(name);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    readable = new QSocketNotifier(master, QSocketNotifier::Read, this);
    connect(readable, &QSocketNotifier::activated, this, &PtyChannel::pump);
    writable = new QSocketNotifier(master, QSocketNotifier::Write, this);
    writable->setEnabled(false);
    connect(writable, &QSocketNotifier::activated, this, [this] {
        flush();
        pump();
    });
    return true;
}

QByteArray PtyChannel::readSome(int max)
{
    if (master < 0 || max <= 0)
        return QByteArray();
    QByteArray buf(qMin(max, 4096), '\0');
    const ssize_t n = ::read(master, buf.data(), static_cast<size_t>(buf.size()));
    if (n <= 0)
        return QByteArray();
    buf.truncate(static_cast<int>(n));
    return buf;
}

void PtyChannel::writeBytes(const QByteArray &bytes)
{
    out += bytes;
    flush();
}

void PtyChannel::flush()
{
    while (master >= 0 && !out.isEmpty()) {
        const ssize_t n = ::write(master, out.constData(), static_cast<size_t>(out.size()));
        if (n <= 0)
            break;
        out.remove(0, static_cast<int>(n));
    }
    if (writable)
        writable->setEnabled(master >= 0 && !out.isEmpty());
}

void PtyChannel::wantInput(bool on)
{
    if (readable)
        readable->setEnabled(on);
}

void PtyChannel::closeTransport()
{
    delete readable;
    readable = nullptr;
    delete writable;
    writable = nullptr;
    if (master >= 0)
        ::close(master);
    if (slave >= 0)
        ::close(slave);
    master = slave = -1;
}

} // namespace qsim
