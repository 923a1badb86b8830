#ifndef QUORVEX_FRAGMENTWINDOW_H
#define QUORVEX_FRAGMENTWINDOW_H

#include <QByteArray>
#include <QVector>
#include <QtGlobal>
#include <functional>

#include "ReadFrames.h"

// A fragmented read with several part requests outstanding at once: once
// the first part tells how many bytes a part carries, the offsets of the
// others follow from the element count and type, and the parts are put
// together by offset in whatever order their replies come.
namespace fragwindow
{

// Bytes of one element of an elementary type; 0 for types whose size the
// code does not tell (structures, strings), which are read one part after
// the other.
int elementSize(quint16 dataType);

// The transport as a window needs it.
struct WindowIo {
    // 0 when the request went out; nothing is waited for. The transport
    // may mark the request as its own: `request` is then what went out.
    std::function<int(QByteArray &request)> send;
    // Waits at most waitMs for a whole frame answering one of `requests`:
    // its index (the frame appended to reply), -1 when the wait ran out.
    std::function<int(const QVector<QByteArray> &requests, int waitMs, QByteArray &reply)> receive;
    // A request given up whose reply may still come: it must be dropped.
    std::function<void(const QByteArray &request)> abandon;
    // Milliseconds on one clock, and the wait one part gets from its send.
    std::function<qint64()> nowMs;
    int partWaitMs = 550;
};

struct WindowState {
    int window = 1;      // the option's N
    bool shrunk = false; // set once the controller could not keep up
    // Value bytes of a first part that did not hold the whole value, as the
    // last windowed read on the connection was given; 0 not known yet.
    int learnedPartBytes = 0;
};

// readTag's contract (same frames for the first part, the same bytes in
// `out`), with up to state.window later parts in flight. A part that fails
// or does not come is asked again once, alone; general status 0x02 or a
// part that timed out leaves state.shrunk set, and a shrunk window is 1.
// With learnedPartBytes known, the parts at its multiples (below the
// largest value the read may have) go out just before the first part, so
// that the first wave costs no round trip of its own. They are judged
// after the first part's reply; one that fails or lies past the end is
// dropped and its bytes are asked for as any gap is.
tagread::ReadOutcome readTag(const tagread::Envelope &envelope, const QByteArray &pathBytes,
                             quint16 count, int maxValueBytes, const tagread::Exchange &exchange,
                             const WindowIo &io, WindowState &state, QByteArray *out,
                             int minValueBytes = 0);

} // namespace fragwindow

#endif
