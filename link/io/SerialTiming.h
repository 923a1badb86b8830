#ifndef QUORVEX_SERIALTIMING_H
#define QUORVEX_SERIALTIMING_H

#include <QtGlobal>

// How long bytes take on a serial line: one start bit, the data bits, the
// parity bit if any and the stop bits for every character.
namespace serialtiming
{

// Bits one character occupies on the line, in half bits (1.5 stop bits).
int halfBitsPerChar(int dataBits, bool parity, int stopHalfBits);

// Microseconds that `bytes` characters take at `baud`; a rate that is not
// known (0 or below) is taken as the slowest the link sets, 1200 baud.
qint64 wireTimeUs(qint64 bytes, int baud, int halfBitsPerChar);

} // namespace serialtiming

#endif
