#ifndef QUORVEX_EIPPROTOCOL_H
#define QUORVEX_EIPPROTOCOL_H

#include <QByteArray>
#include <QtGlobal>

#include "ByteOrder.h"

// EtherNet/IP encapsulation and CIP constants, named once for the driver,
// the simulator, the tools and the tests.
namespace eip
{

enum Command : quint16 {
    ListServices = 0x0004,
    ListIdentity = 0x0063,
    ListInterfaces = 0x0064,
    RegisterSession = 0x0065,
    UnRegisterSession = 0x0066,
    SendRRData = 0x006F,
    SendUnitData = 0x0070
};

enum Status : quint32 {
    StatusSuccess = 0x0000,
    StatusInvalidCommand = 0x0001,
    StatusInsufficientMemory = 0x0002,
    StatusPoorlyFormed = 0x0003,
    StatusInvalidSession = 0x0064,
    StatusInvalidLength = 0x0065,
    StatusUnsupportedProtocol = 0x0069
};

enum ItemType : quint16 {
    ItemNullAddress = 0x0000,
    ItemCipIdentity = 0x000C,
    ItemConnectedAddress = 0x00A1,
    ItemConnectedData = 0x00B1,
    ItemUnconnectedData = 0x00B2
};

constexpr int HeaderSize = 24;
constexpr int OffCommand = 0;
constexpr int OffLength = 2;
constexpr int OffSession = 4;
constexpr int OffStatus = 8;
constexpr int OffContext = 12;
constexpr int OffOptions = 20;
// SendRRData: interface handle, time-out, item count, two item headers.
constexpr int OffCipMessage = 40;
// SendUnitData: the connected address item carries a connection id, the
// connected data item a sequence count before the message.
constexpr int ConnectionIdSize = 4;
constexpr int SequenceCountSize = 2;
// Where a SendUnitData frame carries them: after the header, the interface
// handle, time-out, item count and the address item's type and length; the
// sequence count after the data item's type and length.
constexpr int OffConnectionId = 36;
constexpr int OffSequence = 44;
constexpr quint16 ProtocolVersion = 1;
constexpr int ContextSize = 8;
constexpr int SessionHandleSize = 4;
// RegisterSession carries the protocol version and option flags after the
// header; its sender context starts with this byte, the rest zero.
constexpr int RegisterSessionDataSize = 4;
// The connected address item holds the 32-bit connection id.
constexpr int ConnectedAddressSize = 4;
constexpr int RegisterSessionFrameSize = HeaderSize + RegisterSessionDataSize;
constexpr quint8 RegisterSessionContext = 0x01;
// A ListIdentity identity item: the socket address is 16 bytes (family,
// port, address, eight zeros), big-endian as on the wire of a socket.
constexpr int SocketAddressSize = 16;
constexpr int SocketAddressPadding = 8;
// The length field is 16 bits wide: no frame can be longer than this.
constexpr int MaxFrameSize = HeaderSize + 0xFFFF;

// The Common Packet Format of SendRRData / SendUnitData: the time-out field
// and the two items (address, data) every request carries.
constexpr quint16 CpfTimeout = 10;
constexpr quint16 CpfItemCount = 2;
// An unconnected message carries at most this many bytes of CIP message.
constexpr int MaxUnconnectedMessage = 504;
// Unconnected Send and Forward Open: tick of 2^10 ms, 240 ticks.
constexpr quint8 PriorityTick = 0x0A;
constexpr quint8 TimeoutTicks = 0xF0;

// Size of the first whole encapsulation frame at the start of `buf`, or 0
// while the header or the data it announces has not fully arrived.
inline int completeFrameSize(const QByteArray &buf)
{
    if (buf.size() < HeaderSize)
        return 0;
    const int total = HeaderSize + static_cast<int>(le::getPadded(buf, OffLength, 2));
    return buf.size() >= total ? total : 0;
}

} // namespace eip

namespace cip
{

enum Service : quint8 {
    ReadTag = 0x4C,
    ReadTagFragmented = 0x52,
    UnconnectedSend = 0x52,
    ForwardOpen = 0x54,
    LargeForwardOpen = 0x5B,
    ForwardClose = 0x4E,
    ReplyBit = 0x80
};

enum GeneralStatus : quint8 {
    Success = 0x00,
    ConnectionFailure = 0x01,
    ResourceUnavailable = 0x02,
    PathSegmentError = 0x04,
    PathDestinationUnknown = 0x05,
    PartialTransfer = 0x06,
    ServiceNotSupported = 0x08,
    AttributeNotSupported = 0x14,
    ReplyDataTooLarge = 0x11,
    NotEnoughData = 0x13,
    EmbeddedServiceError = 0x1E,
    PathSizeMismatch = 0x26,
    GeneralError = 0xFF
};

enum ExtendedStatus : quint16 {
    // Connection Manager, with general status 0x01
    ExtConnectionInUse = 0x0100,
    ExtTransportNotSupported = 0x0103,
    ExtConnectionNotFound = 0x0107,
    ExtInvalidConnectionSize = 0x0109, // a second word: the largest size accepted
    ExtRpiNotSupported = 0x0111,
    ExtOutOfConnections = 0x0113,
    ExtConnectionTimedOut = 0x0203,
    ExtUnconnectedTimedOut = 0x0204,
    ExtPortNotAvailable = 0x0311,
    ExtLinkAddressInvalid = 0x0312,
    ExtInvalidSegment = 0x0315,
    // with general status 0xFF
    ExtBeyondEnd = 0x2105,
    ExtTypeMismatch = 0x2107
};

enum Segment : quint8 {
    SegPort1 = 0x01,
    // Port segment: the port in the low bits (this value: a 16-bit port
    // follows), and a flag for a link address longer than one byte.
    SegPortWide = 0x0F,
    SegTypeMask = 0xE0, // segment type in bits 5-7 (0: port)
    SegPortMask = 0x0F,
    SegPortLongLink = 0x10,
    SegClass8 = 0x20,
    SegInstance8 = 0x24,
    SegElement8 = 0x28,
    SegElement16 = 0x29,
    SegElement32 = 0x2A,
    SegSymbolic = 0x91
};

enum TypeCode : quint16 {
    TypeBool = 0x00C1,
    TypeSint = 0x00C2,
    TypeInt = 0x00C3,
    TypeDint = 0x00C4,
    TypeLint = 0x00C5,
    TypeUsint = 0x00C6,
    TypeUint = 0x00C7,
    TypeUdint = 0x00C8,
    TypeUlint = 0x00C9,
    TypeReal = 0x00CA,
    TypeLreal = 0x00CB,
    // Bit strings: the same bits as the unsigned integers of their width.
    TypeByte = 0x00D1,
    TypeWord = 0x00D2,
    TypeDword = 0x00D3,
    TypeLword = 0x00D4,
    // A text of up to 255 bytes after a one-byte length.
    TypeShortString = 0x00DA,
    TypeStructure = 0x02A0
};

// Bytes of one element of an integer, bit string or BOOL; 0 for others.
constexpr int integerWidth(quint16 type)
{
    switch (type) {
    case TypeBool:
    case TypeSint:
    case TypeUsint:
    case TypeByte:
        return 1;
    case TypeInt:
    case TypeUint:
    case TypeWord:
        return 2;
    case TypeDint:
    case TypeUdint:
    case TypeDword:
        return 4;
    case TypeLint:
    case TypeUlint:
    case TypeLword:
        return 8;
    default:
        return 0;
    }
}

// An integer or bit string (BOOL is neither).
constexpr bool isInteger(quint16 type)
{
    return type != TypeBool && integerWidth(type) > 0;
}

// The name a controller's software gives an elementary type; nullptr for
// codes that are none (a structure handle, an unknown code).
constexpr const char *elementaryTypeName(quint16 type)
{
    switch (type) {
    case TypeBool:
        return "BOOL";
    case TypeSint:
        return "SINT";
    case TypeInt:
        return "INT";
    case TypeDint:
        return "DINT";
    case TypeLint:
        return "LINT";
    case TypeUsint:
        return "USINT";
    case TypeUint:
        return "UINT";
    case TypeUdint:
        return "UDINT";
    case TypeUlint:
        return "ULINT";
    case TypeReal:
        return "REAL";
    case TypeLreal:
        return "LREAL";
    case TypeByte:
        return "BYTE";
    case TypeWord:
        return "WORD";
    case TypeDword:
        return "DWORD";
    case TypeLword:
        return "LWORD";
    case TypeShortString:
        return "SHORT_STRING";
    default:
        return nullptr;
    }
}

// The bit string of `width` bytes; 0 for widths that have none.
constexpr quint16 bitStringOfWidth(int width)
{
    return width == 1   ? TypeByte
           : width == 2 ? TypeWord
           : width == 4 ? TypeDword
           : width == 8 ? TypeLword
                        : 0;
}

// Tag writes: Write Tag carries the data type, the element count and the
// data; Write Tag Fragmented also a byte offset. Their replies carry no data.
enum WriteService : quint8 { WriteTag = 0x4D, WriteTagFragmented = 0x53 };
// Read-Modify-Write on an integer: mask size u16, then the OR mask and the
// AND mask, each of the integer's size; the controller sets the bits of the
// one and keeps only those of the other, in one step. Reply 0xCE, no data.
// (The same code is Forward Close on the Connection Manager.)
enum TagBitService : quint8 { ReadModifyWrite = 0x4E };

// The Identity object: Get Attributes All, or Get Attribute Single of
// attributes 1 (vendor) .. 7 (product name).
enum IdentityService : quint8 { GetAttributesAll = 0x01, GetAttributeSingle = 0x0E };
enum IdentityAttribute : quint8 {
    AttrVendor = 1,
    AttrDeviceType = 2,
    AttrProductCode = 3,
    AttrRevision = 4,
    AttrStatus = 5,
    AttrSerialNumber = 6,
    AttrProductName = 7
};
constexpr quint8 IdentityClass = 0x01;
constexpr quint8 IdentityInstance = 0x01;
constexpr quint8 SegAttribute8 = 0x30;
constexpr quint8 ConnectionManagerClass = 0x06;
constexpr quint8 ConnectionManagerInstance = 0x01;
constexpr quint8 MessageRouterClass = 0x02;
constexpr quint8 MessageRouterInstance = 0x01;
// Forward Open: class 3, server, application triggered.
constexpr quint8 TransportClass3Server = 0xA3;
// Connection network parameters, 16-bit (Forward Open) and 32-bit (Large).
constexpr quint16 NetPointToPoint16 = 0x4000;
constexpr quint16 NetVariableSize16 = 0x0200;
constexpr quint16 NetSizeMask16 = 0x01FF;
constexpr quint32 NetPointToPoint32 = 0x40000000;
constexpr quint32 NetVariableSize32 = 0x02000000;
constexpr quint32 NetSizeMask32 = 0x0000FFFF;
// Time-out multiplier code k: the target waits RPI x (4 << k).
constexpr int TimeoutMultiplierBase = 4;
constexpr quint16 BackplanePort = 1;
constexpr quint16 EthernetPort = 2;
constexpr int MaxForwardOpenSize = 511;
constexpr int MaxLargeConnectionSize = 4002;
// The time-out multiplier k stands for x (4 << k); values above 7 are reserved.
constexpr int MaxTimeoutMultiplier = 7;
constexpr quint16 StringHandle = 0x0FCE;
constexpr int StringSize = 88;
constexpr int StringDataSize = 82;
// Reply header from the reply service to the additional status size.
constexpr int ReplyHeaderSize = 4;

// Browsing the controller's tags (Symbol class) and structure layouts
// (Template class).
enum BrowseService : quint8 {
    GetAttributeList = 0x03,
    GetInstanceAttributeList = 0x55,
    ReadTemplate = 0x4C
};
constexpr quint8 SymbolClass = 0x6B;
constexpr quint8 TemplateClass = 0x6C;
// Logical instance segment with a 16-bit id, after a pad byte.
constexpr quint8 SegInstance16 = 0x25;
enum SymbolAttribute : quint16 { SymbolName = 1, SymbolType = 2, SymbolDims = 8 };
enum TemplateAttribute : quint16 {
    TemplateHandle = 1,
    TemplateMemberCount = 2,
    TemplateDefinitionWords = 4,
    TemplateStructureSize = 5
};
// Symbol type word: a structure (its template instance in the low 12 bits)
// or an atomic code in the low byte; the dimension count; a system tag.
constexpr quint16 SymbolStructBit = 0x8000;
constexpr quint16 SymbolDimsMask = 0x6000;
constexpr int SymbolDimsShift = 13;
constexpr quint16 SymbolSystemBit = 0x1000;
// With the atomic code 0xD3: the words hold a BOOL array, and the
// dimensions count bits, not words.
constexpr quint16 SymbolBitArray = 0x0100;
constexpr quint16 SymbolTemplateMask = 0x0FFF;
constexpr quint16 SymbolAtomicMask = 0x00FF;
constexpr int SymbolDimCount = 3;
// A template definition is read as its size in words x 4 less this many
// bytes, the controller's own figure.
constexpr int TemplateReadShortfall = 23;
// Per member of a template definition: info u16, type u16, offset u32.
constexpr int TemplateMemberSize = 8;
constexpr char TemplateNameEnd = ';';
// The scope prefix of a program's tags, and of its entry in the tag list.
constexpr char ProgramPrefix[] = "Program:";

} // namespace cip

#endif
