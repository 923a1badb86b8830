#ifndef QUORVEX_FRAMESYNC_H
#define QUORVEX_FRAMESYNC_H

#include <QByteArray>
#include <QtGlobal>

// Finding where a reply frame starts in received bytes. The tail of a reply
// that was cut off (or owed to an earlier request) can arrive while the next
// request waits; taken as a frame start it would misframe every later read.
namespace framesync
{

// A frame starts with a known encapsulation command, a data length no
// larger than any reply this link takes, and the session handle in use or
// zero (a registration reply carries the handle it grants, any value).
constexpr int MaxReplyDataLength = 0x2000;

// Whether the bytes of `buf` from `at` on, as far as they go, can be the
// start of such a frame.
bool plausibleStart(const QByteArray &buf, int at, const QByteArray &session4);

// How many bytes at the start of `buf` cannot belong to a frame: up to the
// first point where a plausible frame starts, or all of them.
int junkPrefix(const QByteArray &buf, const QByteArray &session4);

} // namespace framesync

#endif
