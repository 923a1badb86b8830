// Identity replies: a ListIdentity reply frame, or the Identity object's
// Get Attributes All Message Router reply.
//
// Input: mode, then the body. Bit 0 of the mode picks the parser (0
// ListIdentity, 1 the Identity object); 0x40 corrects the frame's length
// and the first item's length, so the fuzzer spends its time behind them.

#include "ByteOrder.h"
#include "EipProtocol.h"
#include "FuzzSupport.h"
#include "Identity.h"

namespace
{

using identity::Verdict;

// The layouts counted here from the published layout rather than taken
// from the parser.
constexpr int OffItemCount = 24;
constexpr int OffItemType = 26;
constexpr int OffItemLength = 28;
constexpr int OffItem = 30;
// Within the item: version, socket address, then the identity fields.
constexpr int ItemFieldsAt = 2 + 16;
// Vendor .. serial number, before the product name's length byte.
constexpr int FixedFieldsSize = 14;
constexpr quint16 Marker = 0xA5A5;

quint32 at(const QByteArray &f, int offset, int width)
{
    return quint32(le::getPadded(f, offset, width));
}

// The identity fields at `o` in `b` are those the parser gave.
void checkFields(const identity::DeviceIdentity &d, const QByteArray &b, int o)
{
    FUZZ_CHECK(d.vendor == at(b, o, 2) && d.deviceType == at(b, o + 2, 2));
    FUZZ_CHECK(d.productCode == at(b, o + 4, 2));
    FUZZ_CHECK(d.revisionMajor == at(b, o + 6, 1) && d.revisionMinor == at(b, o + 7, 1));
    FUZZ_CHECK(d.status == at(b, o + 8, 2) && d.serialNumber == at(b, o + 10, 4));
    const int nameSize = int(at(b, o + FixedFieldsSize, 1));
    FUZZ_CHECK(o + FixedFieldsSize + 1 + nameSize <= b.size());
    FUZZ_CHECK(d.productName == b.mid(o + FixedFieldsSize + 1, nameSize));
}

void checkList(QByteArray f, bool fix)
{
    if (fix && f.size() >= eip::HeaderSize)
        le::set16(f, eip::OffLength, quint16(f.size() - eip::HeaderSize));
    if (fix && f.size() >= OffItem)
        le::set16(f, OffItemLength, quint16(f.size() - OffItem));
    identity::ListedIdentity l;
    l.device.vendor = Marker;
    const Verdict v = identity::parseListIdentity(f, &l);
    FUZZ_CHECK((v == Verdict::Empty) == f.isEmpty());
    FUZZ_CHECK(v != Verdict::Refused);
    if (v != Verdict::Ok) {
        // A rejected reply yields no values.
        FUZZ_CHECK(l.device.vendor == Marker && l.device.productName.isEmpty() && l.state == 0);
        return;
    }
    FUZZ_CHECK(at(f, eip::OffCommand, 2) == eip::ListIdentity && at(f, eip::OffStatus, 4) == 0);
    FUZZ_CHECK(at(f, eip::OffLength, 2) == quint32(f.size() - eip::HeaderSize));
    FUZZ_CHECK(at(f, OffItemCount, 2) >= 1 && at(f, OffItemType, 2) == eip::ItemCipIdentity);
    const int itemEnd = OffItem + int(at(f, OffItemLength, 2));
    FUZZ_CHECK(itemEnd <= f.size());
    const QByteArray item = f.mid(OffItem, itemEnd - OffItem);
    const int nameSize = int(at(item, ItemFieldsAt + FixedFieldsSize, 1));
    // Every field lies within the item, which the state byte ends.
    FUZZ_CHECK(item.size() == ItemFieldsAt + FixedFieldsSize + 1 + nameSize + 1);
    checkFields(l.device, item, ItemFieldsAt);
    FUZZ_CHECK(l.encapVersion == at(item, 0, 2));
    FUZZ_CHECK(l.sinPort == ((at(item, 4, 1) << 8) | at(item, 5, 1)));
    FUZZ_CHECK(l.state == at(item, item.size() - 1, 1));
}

void checkObject(const QByteArray &mr)
{
    identity::DeviceIdentity d;
    d.vendor = Marker;
    const Verdict v = identity::parseIdentityReply(mr, &d);
    FUZZ_CHECK((v == Verdict::Empty) == mr.isEmpty());
    if (v != Verdict::Ok) {
        FUZZ_CHECK(d.vendor == Marker && d.productName.isEmpty() && d.serialNumber == 0);
        if (v == Verdict::Refused)
            FUZZ_CHECK(at(mr, 2, 1) != cip::Success);
        return;
    }
    FUZZ_CHECK(at(mr, 0, 1) == (cip::GetAttributesAll | cip::ReplyBit) && at(mr, 2, 1) == 0);
    checkFields(d, mr, 4 + 2 * int(at(mr, 3, 1)));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static const bool quiet = (fuzz::installQuietHandler(), true);
    (void)quiet;
    fuzz::Input in(data, size);
    const quint8 mode = in.u8();
    const QByteArray body = in.rest();
    if (mode & 1)
        checkObject(body);
    else
        checkList(body, mode & 0x40);
    return 0;
}
