#ifndef QUORVEX_WRITEFRAMES_H
#define QUORVEX_WRITEFRAMES_H

#include <QByteArray>
#include <QVector>
#include <QtGlobal>
#include <functional>

#include "Messaging.h"

// Tag write requests and replies at the Message Router level, as plain
// functions over byte arrays: whatever envelope carries them (today the
// Unconnected Send of the reads) is added and removed elsewhere.
namespace tagwrite
{

// Write Tag: service, path size in words, path, data type (u16, or 0x02A0
// and the structure handle), element count, the data.
QByteArray writeTagRequest(const QByteArray &pathBytes, const QByteArray &typeBytes, quint16 count,
                           const QByteArray &data);

// Write Tag Fragmented: as Write Tag, with the byte offset of this part
// between the count (of the whole write) and the part's data.
QByteArray writeFragmentRequest(const QByteArray &pathBytes, const QByteArray &typeBytes,
                                quint16 count, quint32 offset, const QByteArray &part);

// Read-Modify-Write: service 0x4E, path size, path, the masks' size, the
// OR mask, the AND mask (both of that size, the integer's). The controller
// sets the bits set in `orMask` and clears those clear in `andMask`.
QByteArray readModifyWriteRequest(const QByteArray &pathBytes, const QByteArray &orMask,
                                  const QByteArray &andMask);

// The low `width` bytes of `bits`, little-endian: a mask of an integer of
// that width.
QByteArray mask(quint64 bits, int width);

// Bytes of a request before its data.
int requestOverhead(int pathSize, int typeSize, bool fragmented);

struct Fragment {
    quint32 offset = 0;
    int size = 0;
};

// The parts of `dataSize` bytes whose fragmented requests each fit
// `maxRequestBytes`. A part holds whole elements whenever one fits, so that
// no element is ever half written by a part that succeeded. Empty when not
// even one byte of data fits beside the request's own fields.
QVector<Fragment> splitData(int dataSize, int elementSize, int pathSize, int typeSize,
                            int maxRequestBytes);

// Ok: general status 0; Empty; Length: shorter than its header or the
// additional status it announces; Service; Refused: the controller refused
// the write (or the route to it).
using Verdict = messaging::Verdict;

struct WriteReply {
    Verdict verdict = Verdict::Empty;
    quint8 service = 0;
    quint8 generalStatus = 0;
    QVector<quint16> extStatus;
};

// Judges a Message Router reply to a request of `requestService`.
WriteReply judgeWriteReply(const QByteArray &mrReply, quint8 requestService);

// One Message Router exchange: 0 when a reply came (appended to mrReply),
// otherwise the link's failure (-1 envelope rejected, -2 no reply, -3 not
// connected), which the exchange has already reported.
using Exchange = std::function<int(const QByteArray &mrRequest, QByteArray &mrReply)>;

enum class Failure {
    None,
    Link,       // the exchange failed; `linkRc` tells how
    Refused,    // the reply failed judgeWriteReply; see `judged`
    Incomplete, // a later part failed after earlier parts were written
    TooLarge    // the request path leaves no room for data
};

struct WriteOutcome {
    int rc = 0; // 0 written, -1 refused or incomplete, -2 no reply, -3 not connected
    Failure failure = Failure::None;
    int linkRc = 0;     // the last exchange's result
    WriteReply judged;  // the last reply judged
    QByteArray reply;   // the last reply as received
    qint64 written = 0; // data bytes the controller confirmed
    int parts = 0;      // requests sent
};

// The type to write an integer as when the controller refused its own
// code as a type mismatch: the bit string of the same width (DWORD for
// DINT and UDINT, ...). Empty for a type that has none.
QByteArray bitStringRetryType(const QByteArray &typeBytes);

// Writes `data` (`count` elements of `elementSize` bytes) at `pathBytes`:
// one Write Tag when it fits `maxRequestBytes`, else Write Tag Fragmented
// in parts, stopping at the first part that is not confirmed. An integer
// write refused as a type mismatch before any part was stored is sent once
// more as the bit string of its width.
WriteOutcome writeTag(const QByteArray &pathBytes, const QByteArray &typeBytes, quint16 count,
                      const QByteArray &data, int elementSize, int maxRequestBytes,
                      const Exchange &exchange);

} // namespace tagwrite

#endif
