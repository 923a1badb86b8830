#include "FragmentWindow.h"

#include "EipProtocol.h"

#include <QMap>

#include <algorithm>

namespace fragwindow
{

using tagread::Failure;
using tagread::ReadOutcome;
using tagread::ReadReply;
using tagread::Verdict;

int elementSize(quint16 dataType)
{
    switch (dataType) {
    case cip::TypeBool:
    case cip::TypeSint:
    case cip::TypeUsint:
        return 1;
    case cip::TypeInt:
    case cip::TypeUint:
        return 2;
    case cip::TypeDint:
    case cip::TypeUdint:
    case cip::TypeReal:
    case cip::TypeDword:
        return 4;
    case cip::TypeLint:
    case cip::TypeUlint:
    case cip::TypeLreal:
        return 8;
    default:
        return 0;
    }
}

namespace
{

struct InFlight {
    quint32 offset = 0;
    QByteArray request;
    qint64 deadlineMs = 0;
    bool retry = false;
    bool early = false; // sent with the first part, at the learned part size
};

// The largest element of a type whose parts can be asked by offset: no
// windowed value is longer than this many bytes per element.
constexpr qint64 LargestElement = 8;

// What is known of the value so far: parts by offset, and the final part's
// end once the controller said the data is complete.
class Assembly
{
public:
    void add(quint32 offset, const QByteArray &value) { parts.insert(offset, value); }

    // The end of the bytes held without a gap from `from`, counting what
    // the requests in flight are expected to bring.
    quint32 reach(quint32 from, const QVector<InFlight> &flying, int partBytes) const
    {
        quint32 x = from;
        for (bool moved = true; moved;) {
            moved = false;
            for (auto it = parts.cbegin(); it != parts.cend(); ++it)
                moved |= extend(x, it.key(), it.key() + quint32(it.value().size()));
            for (const InFlight &f : flying)
                moved |= extend(x, f.offset, f.offset + quint32(partBytes));
        }
        return x;
    }

    // The bytes [0, end), when they are all there.
    bool take(quint32 end, QByteArray *value) const
    {
        QByteArray v;
        v.reserve(int(end));
        while (quint32(v.size()) < end) {
            const quint32 x = quint32(v.size());
            bool found = false;
            for (auto it = parts.cbegin(); it != parts.cend() && !found; ++it) {
                const quint32 partEnd = it.key() + quint32(it.value().size());
                if (it.key() <= x && x < partEnd) {
                    v.append(it.value().mid(int(x - it.key()), int(qMin(partEnd, end) - x)));
                    found = true;
                }
            }
            if (!found)
                return false;
        }
        *value = v;
        return true;
    }

    bool finalSeen = false;
    quint32 finalEnd = 0;

private:
    static bool extend(quint32 &x, quint32 start, quint32 end)
    {
        if (start <= x && x < end) {
            x = end;
            return true;
        }
        return false;
    }

    QMap<quint32, QByteArray> parts;
};

ReadOutcome fail(ReadOutcome o, int rc, Failure failure)
{
    o.rc = rc;
    o.failure = failure;
    return o;
}

} // namespace

ReadOutcome readTag(const tagread::Envelope &envelope, const QByteArray &pathBytes, quint16 count,
                    int maxValueBytes, const tagread::Exchange &exchange, const WindowIo &io,
                    WindowState &state, QByteArray *out, int minValueBytes)
{
    if (count < 2 || state.window <= 1 || state.shrunk)
        return tagread::readTag(envelope, pathBytes, count, maxValueBytes, exchange, out,
                                minValueBytes);
    const auto unwrap = [&](const QByteArray &request, const QByteArray &frame) {
        return envelope.unwrapFor ? envelope.unwrapFor(request, frame) : envelope.unwrap(frame);
    };

    QVector<InFlight> flying;
    const auto abandonAll = [&] {
        for (const InFlight &f : flying)
            io.abandon(f.request);
        flying.clear();
    };
    // The parts the last read's part size puts within the largest value
    // this read can have go out first: their replies wait until the first
    // part's reply has told the type and the size.
    const qint64 bound = qMin<qint64>(maxValueBytes, LargestElement * count);
    for (int k = 1; k < state.window && state.learnedPartBytes > 0; ++k) {
        const qint64 offset = qint64(k) * state.learnedPartBytes;
        if (offset >= bound)
            break;
        InFlight f;
        f.offset = quint32(offset);
        f.early = true;
        f.request = envelope.wrap(tagread::readRequest(pathBytes, count, true, f.offset));
        f.deadlineMs = io.nowMs() + io.partWaitMs;
        if (io.send(f.request) != 0)
            break; // nothing went out: the first part finds out why
        flying.append(f);
    }

    // The first part as a read one at a time asks it.
    ReadOutcome o;
    const QByteArray first = envelope.wrap(tagread::readRequest(pathBytes, count, true, o.offset));
    const int rc = exchange(first, o.reply);
    ++o.parts;
    o.judged = tagread::judgeUnwrapped(unwrap(first, o.reply), cip::ReadTagFragmented);
    const auto failFirst = [&](int code, Failure failure) {
        abandonAll();
        return fail(o, code, failure);
    };
    if (o.reply.isEmpty())
        return failFirst(-2, Failure::NoReply);
    if (rc != 0)
        o.judged.verdict = Verdict::Length;
    if (o.judged.verdict != Verdict::Ok && o.judged.verdict != Verdict::Partial)
        return failFirst(-1, Failure::Rejected);
    const quint16 type = o.judged.dataType;
    const bool hasHandle = o.judged.hasHandle;
    const quint16 handle = o.judged.handle;
    const int partBytes = o.judged.value.size();
    Assembly assembly;
    assembly.add(0, o.judged.value);
    if (o.judged.verdict == Verdict::Ok) {
        assembly.finalSeen = true;
        assembly.finalEnd = quint32(partBytes);
    } else if (partBytes == 0) {
        return failFirst(-1, Failure::EmptyPart);
    } else {
        state.learnedPartBytes = partBytes;
    }
    // Where the size is not known, or more than the caller takes, the parts
    // go one at a time and the last reply tells the end.
    const qint64 known = qint64(elementSize(type)) * count;
    const bool windowed = known > partBytes && known <= maxValueBytes;
    const quint32 total = windowed ? quint32(known) : 0;
    // Early parts count once the value is known to need them; those past
    // its end, or of a read that goes one part at a time, are given up.
    for (int i = flying.size() - 1; i >= 0 && !assembly.finalSeen; --i) {
        if (windowed && flying.at(i).offset < total) {
            ++o.parts;
            continue;
        }
        io.abandon(flying.at(i).request);
        flying.removeAt(i);
    }

    QVector<quint32> retries;    // offsets to ask again, alone
    QVector<quint32> triedTwice; // offsets asked again once already
    const auto sendPart = [&](quint32 offset, bool retry) {
        InFlight f;
        f.offset = offset;
        f.retry = retry;
        f.request = envelope.wrap(tagread::readRequest(pathBytes, count, true, offset));
        o.offset = offset;
        ++o.parts;
        f.deadlineMs = io.nowMs() + io.partWaitMs;
        if (io.send(f.request) != 0)
            f.deadlineMs = io.nowMs(); // nothing went out: times out at once
        flying.append(f);
    };
    // A part that failed: asked again once, alone, or the read fails.
    const auto partFailed = [&](const InFlight &f) {
        if (assembly.finalSeen && f.offset >= assembly.finalEnd)
            return true; // beyond the end: its answer does not matter
        if (f.early)
            return true; // a guess: what it should have brought is a gap
        if (f.retry)
            return false;
        retries.append(f.offset);
        return true;
    };

    // Every part is asked at most twice: the loop ends.
    for (;;) {
        const quint32 have = assembly.reach(0, {}, partBytes);
        if (assembly.finalSeen && have >= assembly.finalEnd) {
            QByteArray value;
            if (!assembly.take(assembly.finalEnd, &value))
                return fail(o, -1, Failure::EmptyPart);
            abandonAll();
            if (o.parts > 1 && value.size() > maxValueBytes)
                return fail(o, -1, Failure::TooLarge);
            if (value.size() < minValueBytes)
                return fail(o, -1, Failure::TooShort);
            if (hasHandle)
                le::put16(*out, handle);
            out->append(value);
            return o;
        }
        if (!windowed && have > quint32(maxValueBytes)) {
            abandonAll();
            return fail(o, -1, Failure::TooLarge);
        }
        const int window = state.shrunk ? 1 : state.window;
        const bool retryFlying =
            std::any_of(flying.cbegin(), flying.cend(), [](const InFlight &f) { return f.retry; });
        if (!retries.isEmpty()) {
            if (flying.isEmpty()) {
                triedTwice.append(retries.first());
                sendPart(retries.takeFirst(), true);
            }
        } else if (!retryFlying) {
            while (flying.size() < (windowed ? window : 1)) {
                const quint32 next = assembly.reach(0, flying, partBytes);
                const bool wanted = windowed ? next < total || (next == total && flying.isEmpty())
                                             : flying.isEmpty();
                if (!wanted || triedTwice.contains(next))
                    break;
                sendPart(next, false);
            }
        }
        if (flying.isEmpty())
            return fail(o, -1, Failure::EmptyPart); // nothing left to ask, yet incomplete

        int soonest = 0;
        for (int i = 1; i < flying.size(); ++i) {
            if (flying.at(i).deadlineMs < flying.at(soonest).deadlineMs)
                soonest = i;
        }
        QVector<QByteArray> requests;
        for (const InFlight &f : flying)
            requests.append(f.request);
        QByteArray reply;
        const int waitMs = int(qMax<qint64>(0, flying.at(soonest).deadlineMs - io.nowMs()));
        const int which = io.receive(requests, waitMs, reply);
        if (which < 0 || which >= flying.size()) {
            // The soonest deadline passed: fallen behind, or the part was lost.
            const InFlight late = flying.takeAt(soonest);
            io.abandon(late.request);
            state.shrunk = true;
            o.reply.clear();
            o.offset = late.offset;
            o.judged = ReadReply();
            if (!partFailed(late)) {
                abandonAll();
                return fail(o, -2, Failure::NoReply);
            }
            continue;
        }
        const InFlight part = flying.takeAt(which);
        o.reply = reply;
        o.offset = part.offset;
        o.judged = tagread::judgeUnwrapped(unwrap(part.request, reply), cip::ReadTagFragmented);
        const ReadReply &j = o.judged;
        const bool good = j.verdict == Verdict::Ok || j.verdict == Verdict::Partial;
        if (j.verdict == Verdict::Refused && j.generalStatus == cip::ResourceUnavailable)
            state.shrunk = true;
        if (good && (j.dataType != type || j.handle != handle)) {
            abandonAll();
            return fail(o, -1, Failure::PartChanged);
        }
        if (good && (j.verdict == Verdict::Ok || !j.value.isEmpty())) {
            assembly.add(part.offset, j.value);
            if (j.verdict == Verdict::Ok && !assembly.finalSeen) {
                assembly.finalSeen = true;
                assembly.finalEnd = part.offset + quint32(j.value.size());
            }
            continue;
        }
        if (!partFailed(part)) {
            abandonAll();
            return fail(o, -1, good ? Failure::EmptyPart : Failure::Rejected);
        }
    }
}

} // namespace fragwindow
