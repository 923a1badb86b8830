#include "SerialTiming.h"

namespace serialtiming
{

namespace
{
constexpr int SlowestBaud = 1200;
constexpr int StartHalfBits = 2;
constexpr int ParityHalfBits = 2;
} // namespace

int halfBitsPerChar(int dataBits, bool parity, int stopHalfBits)
{
    return StartHalfBits + 2 * dataBits + (parity ? ParityHalfBits : 0) + stopHalfBits;
}

qint64 wireTimeUs(qint64 bytes, int baud, int halfBitsPerChar)
{
    const qint64 rate = baud > 0 ? baud : SlowestBaud;
    // Rounded up: a wait that ends a microsecond early cuts the frame.
    return (bytes * halfBitsPerChar * 1000000 + 2 * rate - 1) / (2 * rate);
}

} // namespace serialtiming
