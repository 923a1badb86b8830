#include "SimChannel.h"

#include "ByteOrder.h"
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
// Paced output is written at most this often; slower paces write one byte a
// tick, faster ones the bytes that fell due since the last tick.
constexpr int PaceTickMs = 1;
constexpr qint64 UsPerMs = 1000;

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

// Whether the n-th tag request (from 1) is picked by "every k-th" or "the k-th".
bool picked(int every, int nth, int n)
{
    return n > 0 && ((every > 0 && n % every == 0) || (nth > 0 && n == nth));
}

} // namespace

SimChannel::SimChannel(TagDatabase &db, FaultControl &faults, ServerShared &shared, bool serial,
                       QObject *parent)
    : QObject(parent), db(db), faults(faults), shared(shared), owner(++shared.owners),
      sessions(&shared.sessionCounter), serial(serial)
{
    quiet.setSingleShot(true);
    quiet.setInterval(SerialQuietMs);
    connect(&quiet, &QTimer::timeout, this, [this] {
        quietPassed = true;
        pump();
    });
    paceTimer.setTimerType(Qt::PreciseTimer);
    connect(&paceTimer, &QTimer::timeout, this, &SimChannel::paceTick);
}

SimChannel::~SimChannel()
{
    dropConnections();
}

// CIP connections live no longer than the transport they were opened on.
void SimChannel::dropConnections()
{
    shared.connections.dropOwner(owner);
    faults.liveConnections = shared.connections.size();
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
    if (shared.muted())
        return;
    quint64 gen = 0;
    const SimFaults f = faults.get(&gen);
    if (gen != generation) {
        generation = gen;
        answered = 0;
        tagCount = 0;
        stallBegun = false;
    }
    if (ignoreRegister(frame, f, gen))
        return;
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
    options.cip = shared.cip;
    options.cip.forcedStatus = f.errorStatus;
    // A controller short of buffers turns away what it cannot hold.
    const bool full = f.maxOutstanding > 0 && held >= f.maxOutstanding;
    if (full)
        options.cip.forcedStatus = cip::ResourceUnavailable;
    options.cip.client.connections = &shared.connections;
    options.cip.client.owner = owner;
    options.cip.client.nowMs = shared.nowMs();
    options.cip.client.connectionTimeoutMs = f.connectionTimeoutMs;
    options.cip.store = &db;
    pending = handleFrame(frame, sessions, db, options);
    faults.tagRequests += pending.effects.tagRequest ? 1 : 0;
    faults.connectedRequests += pending.connected ? 1 : 0;
    faults.forwardOpens += pending.effects.opened ? 1 : 0;
    faults.forwardCloses += pending.effects.closed ? 1 : 0;
    faults.liveConnections = shared.connections.size();
    pendingFaults = f;
    ++answered;
    if (pending.reply.isEmpty()) {
        if (pending.close && !serial)
            close();
        return;
    }
    if (f.garbage)
        pending.reply = garbageOf(pending.reply.size(), &garbageSeed);
    const int nth = pending.effects.tagRequest ? ++tagCount : 0;
    copyPending = picked(f.duplicateEvery, f.duplicateNth, nth) ||
                  (f.duplicateForwardOpen && pending.effects.opened);
    if (f.cutAfter >= 0 && answered == f.cutAfter + 1) {
        cutReply();
        return;
    }
    if (nth > 0 && f.stallAfter >= 0 && !stallBegun && nth > f.stallAfter) {
        stallBegun = true;
        stalling = true;
        ++faults.stalls;
        QTimer::singleShot(qMax(0, f.stallMs), this, &SimChannel::endStall);
    }
    if (stalling) {
        backlog.append({pending, copyPending});
        return;
    }
    if (picked(f.lateEvery, f.lateNth, nth)) {
        sendOutOfOrder(pending, f.lateMs, copyPending, f.duplicateGapMs);
        return;
    }
    // With an outstanding limit each reply is due its delay after its own
    // request, so requests in flight together are answered together (in
    // order); a turned-away one at once. Otherwise, and for paced, split and
    // serial replies, one at a time.
    if (f.delayMs > 0 && f.maxOutstanding > 0 && !serial && f.splitGapMs < 0 &&
        f.byteDelayUs <= 0) {
        if (full) {
            sendFirst();
            return;
        }
        sendLater(pending, f.delayMs);
        return;
    }
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

void SimChannel::sendLater(const FrameResult &result, int delayMs)
{
    ++held;
    const int closeAfter = pendingFaults.closeAfter;
    const bool copy = copyPending;
    const int gap = pendingFaults.duplicateGapMs;
    // Never before the reply to an earlier request.
    const qint64 now = shared.nowMs();
    lastDueMs = qMax(now + delayMs, lastDueMs);
    QTimer::singleShot(static_cast<int>(lastDueMs - now), Qt::PreciseTimer, this,
                       [this, result, closeAfter, copy, gap] {
                           --held;
                           if (closed)
                               return;
                           writeBytes(result.reply);
                           ++faults.served;
                           if (copy)
                               sendCopy(result.reply, gap);
                           if (result.close || (closeAfter >= 0 && answered >= closeAfter))
                               close();
                           if (result.effects.tagRequest)
                               emit tagAnswered();
                           pump();
                       });
}

void SimChannel::sendFirst()
{
    if (closed)
        return;
    const int gap = pendingFaults.splitGapMs;
    if (gap >= 0 && pending.reply.size() > 1) {
        busy = true;
        auto second = [this, gap] {
            QTimer::singleShot(gap, this, [this] {
                sendSecond();
                pump();
            });
        };
        if (transmit(pending.reply.left(pending.reply.size() / 2), second))
            second();
        return;
    }
    if (transmit(pending.reply, [this] {
            finishReply();
            pump();
        }))
        finishReply();
    else
        busy = true;
}

void SimChannel::sendSecond()
{
    if (closed)
        return;
    if (transmit(pending.reply.mid(pending.reply.size() / 2), [this] {
            finishReply();
            pump();
        }))
        finishReply();
}

bool SimChannel::transmit(const QByteArray &bytes, std::function<void()> done)
{
    if (pendingFaults.byteDelayUs <= 0 || bytes.size() <= 1) {
        writeBytes(bytes);
        return true;
    }
    paced = bytes;
    pacedSent = 0;
    paceUs = pendingFaults.byteDelayUs;
    pacedDone = std::move(done);
    paceClock.start();
    paceTimer.start(qMax<qint64>(PaceTickMs, paceUs / UsPerMs));
    paceTick();
    return false;
}

void SimChannel::paceTick()
{
    if (closed || paced.isEmpty()) {
        paceTimer.stop();
        return;
    }
    // Byte i is due i * paceUs after the first.
    const qint64 due = qMin<qint64>(paced.size(), paceClock.nsecsElapsed() / 1000 / paceUs + 1);
    if (due > pacedSent) {
        writeBytes(paced.mid(pacedSent, static_cast<int>(due - pacedSent)));
        pacedSent = static_cast<int>(due);
    }
    if (pacedSent < paced.size())
        return;
    paceTimer.stop();
    paced.clear();
    if (!deferred.isEmpty()) {
        writeBytes(deferred);
        deferred.clear();
    }
    std::function<void()> done;
    done.swap(pacedDone);
    done();
}

void SimChannel::writeWhole(const QByteArray &bytes)
{
    if (paced.isEmpty())
        writeBytes(bytes);
    else
        deferred += bytes;
}

bool SimChannel::ignoreRegister(const QByteArray &frame, const SimFaults &f, quint64 gen)
{
    if (f.ignoreRegister <= 0 || frame.size() < eip::HeaderSize ||
        le::getPadded(frame, eip::OffCommand, 2) != eip::RegisterSession)
        return false;
    if (shared.registerGeneration != gen) {
        shared.registerGeneration = gen;
        shared.registersIgnored = 0;
    }
    if (shared.registersIgnored >= f.ignoreRegister)
        return false;
    ++shared.registersIgnored;
    ++faults.registersIgnored;
    return true;
}

void SimChannel::sendCopy(const QByteArray &reply, int gapMs)
{
    auto copy = [this, reply] {
        if (closed)
            return;
        writeWhole(reply);
        ++faults.duplicates;
    };
    if (gapMs <= 0)
        copy();
    else
        QTimer::singleShot(gapMs, Qt::PreciseTimer, this, copy);
}

// Not held in `held`: the replies after it do not wait for it.
void SimChannel::sendOutOfOrder(const FrameResult &result, int delayMs, bool copy, int gapMs)
{
    QTimer::singleShot(qMax(0, delayMs), Qt::PreciseTimer, this, [this, result, copy, gapMs] {
        if (closed)
            return;
        writeWhole(result.reply);
        ++faults.served;
        ++faults.lateReplies;
        if (copy)
            sendCopy(result.reply, gapMs);
        if (result.effects.tagRequest)
            emit tagAnswered();
        if (result.close && !serial)
            close();
    });
}

void SimChannel::endStall()
{
    stalling = false;
    QByteArray burst;
    const QList<Held> kept = backlog;
    backlog.clear();
    if (closed)
        return;
    bool ending = false;
    for (const Held &h : kept) {
        burst += h.result.reply;
        if (h.copy)
            burst += h.result.reply;
        ending = ending || (h.result.close && !serial);
    }
    // One write: the client finds the whole backlog waiting at once.
    writeWhole(burst);
    for (const Held &h : kept) {
        ++faults.served;
        faults.duplicates += h.copy ? 1 : 0;
        if (h.result.effects.tagRequest)
            emit tagAnswered();
    }
    if (ending)
        close();
    else
        pump();
}

void SimChannel::cutReply()
{
    ++faults.cuts;
    writeWhole(pending.reply.left(pending.reply.size() / 2));
    if (!serial)
        close();
}

void SimChannel::finishReply()
{
    busy = false;
    ++faults.served;
    if (copyPending)
        sendCopy(pending.reply, pendingFaults.duplicateGapMs);
    const int closeAfter = pendingFaults.closeAfter;
    const bool tag = pending.effects.tagRequest;
    if (!serial && (pending.close || (closeAfter >= 0 && answered >= closeAfter)))
        close();
    if (tag)
        emit tagAnswered();
}

void SimChannel::shutDown()
{
    if (serial)
        dropConnections();
    else
        close();
}

void SimChannel::close()
{
    if (closed)
        return;
    closed = true;
    busy = false;
    quiet.stop();
    paceTimer.stop();
    paced.clear();
    pacedDone = nullptr;
    closeTransport();
    dropConnections();
}

} // namespace qsim
