// Connection strings: parsed only, never connected (a fuzzed string could
// name any device or address). The form follows the separators, and what
// the parse reports usable is complete for its form.

#include "ConnectionString.h"
#include "FuzzSupport.h"
#include "LibQuorvex.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::installQuietHandler();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::Input in(data, size);
    const bool wide = in.u8() & 1;
    const QByteArray raw = in.rest();
    const QString text =
        wide ? QString(reinterpret_cast<const QChar *>(raw.constData()), raw.size() / 2)
             : QString::fromUtf8(raw);

    const ConnectionString c = parseConnectionString(text);
    // Options may hold any separator: the text before the first ";" decides.
    const QString head = text.left(text.indexOf(QLatin1Char(';')));
    const bool semicolon = text.contains(QLatin1Char(';'));
    const bool comma = head.contains(QLatin1Char(','));
    const bool network = head.contains(QLatin1Char(':')) || semicolon;
    if (semicolon && !comma && !head.contains(QLatin1Char(':')))
        FUZZ_CHECK(!c.usable());
    if (comma) {
        FUZZ_CHECK(c.form == ConnectionString::Form::Serial);
        FUZZ_CHECK(head.startsWith(c.portName + QLatin1Char(',')));
        FUZZ_CHECK(c.parity.size() <= text.size());
    } else if (network) {
        FUZZ_CHECK(c.form == ConnectionString::Form::Network);
        FUZZ_CHECK(text.startsWith(c.ipAddress));
    } else {
        FUZZ_CHECK(c.form == ConnectionString::Form::None);
        FUZZ_CHECK(!c.usable());
    }
    if (c.usable() && c.form == ConnectionString::Form::Network)
        FUZZ_CHECK(c.ipPort > 0 && c.ipPort <= 65535 && !c.ipAddress.isEmpty());
    if (c.usable() && c.form == ConnectionString::Form::Serial)
        FUZZ_CHECK(!c.portName.isEmpty() && c.baudRate && c.dataBits && c.stopBits);

    // The number text of SetConnectPar takes the same kind of input.
    static LibQuorvex *f = new LibQuorvex;
    f->SetConnectPar(text);
    return 0;
}
