#include "ReplyChannel.h"

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "EncapFrame.h"
#include "Line.h"
#include "UnitData.h"
#include "Waits.h"

#include <QVarLengthArray>

namespace
{

// Asked several times of every request and reply.
quint16 commandOf(const QByteArray &frame)
{
    if (frame.size() >= eip::OffCommand + 2)
        return le::getUnchecked<quint16>(frame.constData() + eip::OffCommand);
    return static_cast<quint16>(le::getPadded(frame, eip::OffCommand, 2));
}

// Bytes a unit data frame needs to carry its connection id and sequence.
constexpr int UnitKeyBytes = eip::OffSequence + eip::SequenceCountSize;

} // namespace

ReplyChannel::ReplyChannel(Line &l)
    : line(l), buffer(l.received()),
      rememberMs(qint64(RememberWaits) * (waits::FirstReplyWaitMs + waits::ReplyWaitMs))
{
    clock.start();
}

void ReplyChannel::stamp(QByteArray &request)
{
    if (request.size() < eip::HeaderSize || commandOf(request) == eip::SendUnitData)
        return;
    encap::setContext(request, nextContext++);
}

void ReplyChannel::setConnection(quint32 otConnectionId, quint32 toConnectionId)
{
    otId = otConnectionId;
    toId = toConnectionId;
}

ReplyChannel::Key ReplyChannel::keyOf(const QByteArray &request) const
{
    Key k;
    if (commandOf(request) == eip::SendUnitData) {
        const unitdata::Address a = unitdata::addressOf(request);
        k.unit = true;
        k.otId = a.connectionId;
        // Replies come on the open connection's T->O id; a request on
        // another id than that connection's can only be answered by a "not
        // found" on its own id.
        k.toId = a.connectionId == otId ? toId : a.connectionId;
        k.sequence = a.sequence;
    } else {
        k.context = encap::contextOf(request);
    }
    return k;
}

// Whether the whole frame of `size` bytes at the front of `buf` answers the
// request keyed `k`. A target that no longer knows the connection answers on
// our own id; that answer, too, counts only with the request's sequence.
bool ReplyChannel::answers(const Key &k, const QByteArray &buf, int size) const
{
    const bool unit = commandOf(buf) == eip::SendUnitData;
    if (unit != k.unit)
        return false;
    if (!unit)
        return size >= eip::HeaderSize && encap::contextOf(buf) == k.context;
    if (size < UnitKeyBytes)
        return false;
    const unitdata::Address a = unitdata::addressOf(buf);
    return a.ok && a.sequence == k.sequence &&
           (a.connectionId == k.toId || a.connectionId == k.otId);
}

int ReplyChannel::find(const QByteArray &request) const
{
    const Key k = keyOf(request);
    int best = -1;
    for (int e = 0; e < used; ++e) {
        const Entry &x = table[e];
        if (x.state != Entry::Waiting || x.key.unit != k.unit)
            continue;
        const bool same = k.unit ? x.key.otId == k.otId && x.key.sequence == k.sequence
                                 : x.key.context == k.context;
        if (same && (best < 0 || x.order < table[best].order))
            best = e;
    }
    return best;
}

int ReplyChannel::enter(const QByteArray &request, bool watchLate)
{
    const qint64 now = nowMs();
    int slot = -1;
    int oldestGivenUp = -1;
    for (int e = 0; e < used; ++e) {
        Entry &x = table[e];
        if (x.state == Entry::GivenUp && x.forgetAtMs <= now)
            release(e);
        if (x.state == Entry::Free) {
            if (slot < 0)
                slot = e;
        } else if (x.state == Entry::GivenUp &&
                   (oldestGivenUp < 0 || x.forgetAtMs < table[oldestGivenUp].forgetAtMs)) {
            oldestGivenUp = e;
        }
    }
    if (slot < 0 && used < Capacity)
        slot = used++;
    if (slot < 0 && oldestGivenUp >= 0) {
        release(oldestGivenUp);
        slot = oldestGivenUp;
    }
    if (slot < 0)
        return -1;
    // Releasing forgotten entries may have shrunk the part in use below it.
    used = qMax(used, slot + 1);
    Entry &x = table[slot];
    x.state = Entry::Waiting;
    x.watched = watchLate;
    x.key = keyOf(request);
    x.order = nextOrder++;
    x.forgetAtMs = 0;
    return slot;
}

void ReplyChannel::release(int e)
{
    Entry &x = table[e];
    x.state = Entry::Free;
    x.watched = false;
    if (!x.held.isEmpty())
        x.held.clear();
    while (used > 0 && table[used - 1].state == Entry::Free)
        --used;
}

void ReplyChannel::abandon(int e)
{
    Entry &x = table[e];
    if (!x.held.isEmpty()) {
        // Its reply had come already; nobody takes it now.
        ++count.lateDropped;
        if (x.watched)
            late.append(x.held);
        release(e);
        return;
    }
    x.state = Entry::GivenUp;
    x.forgetAtMs = nowMs() + rememberMs;
}

int ReplyChannel::match(int size) const
{
    int best = -1;
    for (int e = 0; e < used; ++e) {
        const Entry &x = table[e];
        if (x.state != Entry::Free && answers(x.key, buffer, size) &&
            (best < 0 || x.order < table[best].order))
            best = e;
    }
    return best;
}

// Usually the buffer holds just this frame: handed over as it is.
void ReplyChannel::deliver(int size, QByteArray &reply)
{
    if (reply.isEmpty() && size == buffer.size()) {
        reply.swap(buffer);
        buffer.clear();
        return;
    }
    reply.append(buffer.constData(), size);
    buffer.remove(0, size);
}

// Takes the whole frames at the front of the buffer: the reply to one of
// `wanted` (entries) is appended to `reply` and its index in `wanted`
// returned; replies to requests another exchange waits for are kept for
// it; everything else is dropped. -1 when no wanted reply is there.
int ReplyChannel::pump(const int *wanted, int nWanted, QByteArray &reply)
{
    for (int size = line.frontFrame(); size > 0; size = line.frontFrame()) {
        const int e = match(size);
        if (e < 0) {
            ++count.unmatchedDropped;
            buffer.remove(0, size);
            continue;
        }
        Entry &x = table[e];
        if (x.state == Entry::GivenUp) {
            ++count.lateDropped;
            if (x.watched)
                late.append(buffer.left(size));
            release(e);
            buffer.remove(0, size);
            continue;
        }
        for (int i = 0; i < nWanted; ++i) {
            if (wanted[i] == e) {
                deliver(size, reply);
                release(e);
                return i;
            }
        }
        if (x.held.isEmpty())
            x.held = buffer.left(size);
        else
            ++count.unmatchedDropped; // a second copy
        buffer.remove(0, size);
    }
    return -1;
}

// The front of the buffer, a frame not yet whole, is shown by its header to
// be the reply to entry `e`.
bool ReplyChannel::partialIsFor(int e) const
{
    if (buffer.isEmpty())
        return false;
    const Key &k = table[e].key;
    const bool unit = commandOf(buffer) == eip::SendUnitData;
    if (unit != k.unit)
        return false;
    if (!unit)
        return buffer.size() >= eip::OffContext + eip::ContextSize &&
               encap::contextOf(buffer) == k.context;
    if (buffer.size() < UnitKeyBytes)
        return false;
    const unitdata::Address a = unitdata::addressOf(buffer);
    return a.sequence == k.sequence && (a.connectionId == k.toId || a.connectionId == k.otId);
}

// Left at the front after the whole frames are taken: the start of a frame
// whose rest has not come. When no request waiting for its reply can own it
// (a reply cut off, bytes that merely look like a frame start), the bytes
// of the next replies would only complete it: it would swallow them.
void ReplyChannel::dropStrayPartial()
{
    if (buffer.isEmpty())
        return;
    for (int e = 0; e < used; ++e) {
        if (table[e].state == Entry::Waiting && partialIsFor(e))
            return;
    }
    line.dropReceived();
}

int ReplyChannel::exchange(const QByteArray &request, QByteArray &reply, int waitMs, bool watchLate)
{
    // Frames already here came before this request: they cannot be its reply.
    sweep();
    dropStrayPartial();
    const int e = enter(request, watchLate);
    if (e < 0)
        return -1;
    const bool sent = line.send(request) == 0;
    // Every wait below runs to one deadline counted from here, whatever
    // arrives and is dropped in between.
    QElapsedTimer since;
    since.start();
    if (waitMs > 0)
        rememberMs = qint64(RememberWaits) * waitMs;
    if (waitMs <= 0) {
        if (sent && !line.hasStandIn())
            line.waitForReady(waits::FirstReplyWaitMs);
        abandon(e);
        return -1;
    }
    line.newWait();
    for (;;) {
        if (pump(&e, 1, reply) == 0)
            return 0;
        // A transport that closed meanwhile brings nothing more; its waits
        // would return at once, again and again, until the deadline.
        if (!sent || line.hasStandIn() || line.failed())
            break;
        const qint64 now = since.elapsed();
        const qint64 left = qMax<qint64>(waitMs, line.serialFrameEnd(now)) - now;
        if (left <= 0)
            break;
        line.wait(now, left);
    }
    line.flushSerial();
    line.collect();
    if (pump(&e, 1, reply) == 0)
        return 0;
    // A reply the transport cut off in the middle is no reply: the transport
    // is lost, and the request was answered no more than one never sent.
    const bool cut = !line.failed() && partialIsFor(e);
    abandon(e);
    if (!cut)
        return -1;
    reply.append(buffer);
    buffer.clear();
    return 0;
}

int ReplyChannel::post(const QByteArray &request, bool watchLate)
{
    sweep();
    dropStrayPartial();
    const int e = enter(request, watchLate);
    if (e < 0)
        return -1;
    if (line.send(request) != 0) {
        release(e);
        return -1;
    }
    return 0;
}

int ReplyChannel::receive(const QVector<QByteArray> &requests, int waitMs, QByteArray &reply)
{
    QVarLengthArray<int, 16> wanted;
    for (const QByteArray &r : requests)
        wanted.append(find(r));
    for (int i = 0; i < wanted.size(); ++i) {
        const int e = wanted.at(i);
        if (e >= 0 && !table[e].held.isEmpty()) {
            if (reply.isEmpty())
                reply.swap(table[e].held);
            else
                reply.append(table[e].held);
            release(e);
            return i;
        }
    }
    QElapsedTimer since;
    since.start();
    for (;;) {
        const int which = pump(wanted.constData(), wanted.size(), reply);
        if (which >= 0)
            return which;
        if (line.hasStandIn() || line.failed())
            return -1;
        const qint64 now = since.elapsed();
        const qint64 left = waitMs - now;
        if (left <= 0)
            return -1;
        line.wait(now, left);
    }
}

int ReplyChannel::poll(const QByteArray &request, QByteArray &reply)
{
    line.takeReady();
    return receive(QVector<QByteArray>{request}, 0, reply) == 0 ? 0 : -1;
}

void ReplyChannel::sweep()
{
    QByteArray none;
    line.collect();
    pump(nullptr, 0, none);
}

void ReplyChannel::giveUp(const QByteArray &request)
{
    const int e = find(request);
    if (e >= 0)
        abandon(e);
}

void ReplyChannel::giveUpAll()
{
    for (int e = 0; e < used; ++e) {
        if (table[e].state == Entry::Waiting)
            abandon(e);
    }
}

QVector<QByteArray> ReplyChannel::takeLate()
{
    QVector<QByteArray> out;
    out.swap(late);
    return out;
}

int ReplyChannel::pending() const
{
    int n = 0;
    for (int e = 0; e < used; ++e)
        n += table[e].state != Entry::Free;
    return n;
}
