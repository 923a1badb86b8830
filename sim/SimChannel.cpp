#include "SimChannel.h"

#include "EipProtocol.h"

namespace qsim
{

namespace
{

// Output the simulator lets pile up before it stops taking requests from a
// client that does not read its replies.
constexpr qint64 MaxPendingOutput = 64 * 1024;
// A pause this long on a serial line ends a request.
constexpr int SerialQuietMs = 5;

QByteArray garbageOf(int size, quint32 *seed)
{
    QByteArray g(size, '\0');
    for (int i = 0; i < size; ++i) {
        *seed = *seed * 1103515245u + 12345u;
        g[i] = static_cast<char>(*seed >> 16);
    }
    // Never the Read Tag reply service where a client looks for it.
    if (size > eip::OffCipMessage &&
        static_cast<quint8>(g.at(eip::OffCipMessage)) == (cip::ReadTag | cip::ReplyBit))
        g[eip::OffCipMessage] = 0x33;
    return g;
}

} // namespace

SimChannel::SimChannel(TagDatabase &db, FaultControl &faults, quint32 *sessionCounter, bool serial,
                       QObject *parent)
    : QObject(parent), db(db), faults(faults), sessions(sessionCounter), serial(serial)
{
    quiet.setSingleShot(true);
    quiet.setInterval(SerialQuietMs);
    connect(&quiet, &QTimer::timeout, this, [this] {
        quietPassed = true;
        pump();
    });
}

QByteArray SimChannel::nextFrame()
{
    const int whole = eip::completeFrameSize(buffer);
    if (whole > 0) {
        const QByteArray frame = buffer.left(whole);
        buffer.remove(0, whole);
        return frame;
    }
    // On a serial line a pause also ends a request, whole or not.
    if (serial && quietPassed && !buffer.isEmpty()) {
        QByteArray frame;
        frame.swap(buffer);
        return frame;
    }
    return QByteArray();
}

void SimChannel::pump()
{
    while (!busy && !closed && pendingOutput() < MaxPendingOutput) {
        const QByteArray fresh = readSome(eip::MaxFrameSize - buffer.size());
        if (!fresh.isEmpty()) {
            buffer += fresh;
            quietPassed = false;
            if (serial)
                quiet.start();
        }
        const QByteArray frame = nextFrame();
        if (frame.isEmpty())
            break;
        process(frame);
    }
    if (buffer.isEmpty())
        quietPassed = false;
    wantInput(!busy && !closed && pendingOutput() < MaxPendingOutput);
}

void SimChannel::process(const QByteArray &frame)
{
    quint64 gen = 0;
    const SimFaults f = faults.get(&gen);
    if (gen != generation) {
        generation = gen;
        answered = 0;
    }
    // A serial line cannot be closed from this side: it falls silent instead.
    if (f.closeAfter >= 0 && answered >= f.closeAfter && !serial) {
        close();
        return;
    }
    if ((f.silentAfter >= 0 && answered >= f.silentAfter) ||
        (f.closeAfter >= 0 && answered >= f.closeAfter))
        return;

    FrameOptions options;
    options.requireSession = !serial;
    options.rejectRegister = f.rejectRegister;
    options.cip.forcedStatus = f.errorStatus;
    options.cip.store = &db;
    pending = handleFrame(frame, sessions, db, options);
    pendingFaults = f;
    ++answered;
    if (pending.reply.isEmpty()) {
        if (pending.close && !serial)
            close();
        return;
    }
    if (f.garbage)
        pending.reply = garbageOf(pending.reply.size(), &garbageSeed);
    if (f.delayMs > 0) {
        busy = true;
        QTimer::singleShot(f.delayMs, this, [this] {
            sendFirst();
            if (!busy)
                pump();
        });
        return;
    }
    sendFirst();
}

void SimChannel::sendFirst()
{
    if (closed)
        return;
    const int gap = pendingFaults.splitGapMs;
    if (gap >= 0 && pending.reply.size() > 1) {
        busy = true;
        writeBytes(pending.reply.left(pending.reply.size() / 2));
        QTimer::singleShot(gap, this, [this] {
            sendSecond();
            pump();
        });
        return;
    }
    writeBytes(pending.reply);
    finishReply();
}

void SimChannel::sendSecond()
{
    if (closed)
        return;
    writeBytes(pending.reply.mid(pending.reply.size() / 2));
    finishReply();
}

void SimChannel::finishReply()
{
    busy = false;
    ++faults.served;
    const int closeAfter = pendingFaults.closeAfter;
    if (!serial && (pending.close || (closeAfter >= 0 && answered >= closeAfter)))
        close();
}

void SimChannel::close()
{
    if (closed)
        return;
    closed = true;
    busy = false;
    quiet.stop();
    closeTransport();
}

} // namespace qsim
