#ifndef QUORVEX_SIM_SIMRUNNER_H
#define QUORVEX_SIM_SIMRUNNER_H

#include "EipProtocol.h"

#include <QString>
#include <QtGlobal>

#include <memory>

// A simulated controller for end-to-end tests and for `quorvex sim`: an
// EtherNet/IP + CIP server (TCP, or a pseudo-terminal with --serial) that
// answers RegisterSession, UnRegisterSession and SendRRData carrying Read Tag
// (0x4C) and Read Tag Fragmented (0x52), bare or inside an Unconnected Send
// (0x52 to class 6 instance 1; the routes taken follow `slot`, `bridge` and
// `direct`), Forward Open / Large Forward Open / Forward Close, and
// SendUnitData on the connections opened (docs/simulator.md, "What the simulator answers").
//
// The runner owns its own thread: the driver blocks the calling thread while
// it waits for a reply, so the simulator must never share that thread.
//
// Write Tag (0x4D), Write Tag Fragmented (0x53) and Read-Modify-Write (0x4E)
// store into the tag set, so that later reads return what was written. The tag set lives in the
// runner's thread and only that thread serves requests, so writes need no
// lock; the counters and faults are what other threads share.
//
// Default tag set (used when `tagFile` is empty; names are matched without
// regard to case, as a controller does):
//
//   BoolTag    BOOL   1 (one byte)          SintTag   SINT  -5
//   IntTag     INT    -1234                 DintTag   DINT  42
//   LintTag    LINT   1234567890123         UsintTag  USINT 200
//   UintTag    UINT   60000                 UdintTag  UDINT 4000000000
//   UlintTag   ULINT  18000000000000000000  RealTag   REAL  1.5
//   LrealTag   LREAL  2.25
//   ByteTag    BYTE   0xA5                  WordTag   WORD  0xBEEF
//   DwordTag   DWORD  0xDEADBEEF            LwordTag  LWORD 0x0123456789ABCDEF
//   DintArray  DINT[10]      element i = i*10
//   BigArray   DINT[20000]   element i = i
//   IntArray   INT[300]      element i = i-150
//   RealArray  REAL[1000]    element i = i*0.5
//   Grid       DINT[4,5]     element [r,c] = 10*r+c        (row-major)
//   Cube       INT[2,3,4]    element [a,b,c] = 100*a+10*b+c (row-major)
//   BoolArray  BOOL[64], held as two 32-bit words (type 0xD3 DWORD); an index
//              counts words, the tag list shows 64 bits. Bit k is set when
//              k % 3 == 0: word 0 = 0x49249249, word 1 = 0x92492492
//   StringTag  STRING        "Hello, PLC"
//   Text20     STRING20      "Twenty at the most"
//   Text8      STRING_8      "Eight!"
//   Texts20    STRING20[3]   "one", "two", "three"
//   ShortText  SHORT_STRING  "Short" (type 0xDA: a length byte, then 255 at most)
//   Names      STRING[5]     "Alpha", "Bravo", "Charlie", "Delta", "Echo"
//   Motor      MotorType     {Rpm 1500, Temp 36.5, Name "Pump-1", Limits 10,20,30,40}
//   Motors     MotorType[3]  Rpm 1000, 1100, 1200; Temp 20.5, 21.5, 22.5;
//                            Name "Pump-A", "Pump-B", "Pump-C";
//                            Motors[m].Limits[k] = 10*m + k + 1
//   Cfg        CfgType       {Limits DINT[8] = 100+i, Gain 0.75,
//                             Inner {Level 7, Deep {Code 99}}}
//
// Structures (member offsets in bytes; each reply of a whole structure is
// type 0x02A0, the handle, then these bytes):
//   STRING     handle 0x0FCE, 88 bytes: LEN DINT @0, DATA SINT[82] @4, 2 pad
//   STRING20   handle 0x3F10, 24 bytes: LEN DINT @0, DATA SINT[20] @4
//   STRING_8   handle 0x3F11, 12 bytes: LEN DINT @0, DATA SINT[8] @4
//   MotorType  handle 0x8A01, 112 bytes: Rpm DINT @0, Temp REAL @4,
//              Name STRING @8, Limits DINT[4] @96
//   CfgType    handle 0x8A02, 44 bytes: Limits DINT[8] @0, Gain REAL @32, Inner @36
//   InnerType  handle 0x8A03, 8 bytes: Level INT @0, (2 pad), Deep @4
//   DeepType   handle 0x8A04, 4 bytes: Code DINT @0
//
// Replies carry at most 480 value bytes (whole elements when one fits); larger
// data comes in parts with general status 0x06 (see docs/simulator.md, "Tag files").
namespace qsim
{

// Faults; all of them can be changed while the simulator runs.
struct SimFaults {
    int delayMs = 0; // hold every reply this long, from its request's arrival
    // > 0 (TCP): each reply is due delayMs after its own request, at most this
    // many held at once; beyond them tag requests answer 0x02 at once
    int maxOutstanding = 0;
    int byteDelayUs = 0;  // > 0: write reply bytes this far apart (9600 baud 8N1: 1042)
    int splitGapMs = -1;  // >= 0: write every reply in two halves, this far apart
    int closeAfter = -1;  // >= 0: a connection answers this many requests, then closes
    int silentAfter = -1; // >= 0: a connection answers this many requests, then ignores the rest
    bool garbage = false; // replies are nonsense bytes of the right length
    int errorStatus = -1; // >= 0: every tag read answers with this CIP general status, no data
    bool rejectRegister = false; // RegisterSession answers status 0x69 and handle 0
    // > 0: a CIP connection idle this long is dropped, instead of after its
    // O->T RPI x (4 << time-out multiplier)
    int connectionTimeoutMs = -1;

    // Outages, counted in tag requests answered by the whole simulator since
    // the start, the last outage or the last setFaults(); again after every n.
    int restartAfter = -1;   // > 0: then close every connection and stop listening,
    int restartGapMs = 500;  //      for this long, and listen again on the same port
    int blackholeAfter = -1; // > 0: then answer nothing, closing nothing,
    int blackholeMs = 2000;  //      for this long
    int pullAfter = -1;      // > 0: then a pulled cable: answer nothing, closing nothing,
    int pullMs = 3000;       //      and leave connection attempts unanswered, for this long

    // Replies that come twice, late, in a burst or cut off. The n-th counts
    // the tag requests (reads and writes) of each connection since it was
    // opened or since the last setFaults(), from 1.
    int duplicateEvery = 0;            // > 0: every n-th tag reply goes twice (1: all of them)
    int duplicateNth = 0;              // > 0: the n-th tag reply goes twice
    bool duplicateForwardOpen = false; // every accepted Forward Open's reply goes twice
    int duplicateGapMs = 0;            // the copy this long after the reply (0: right behind it)
    int lateEvery = 0;                 // > 0: every n-th tag reply comes lateMs after its
    int lateNth = 0;                   //   request (the n-th only), while the requests
    int lateMs = 800;                  //   after it are answered as usual: out of order
    int stallAfter = -1;               // >= 0: after n tag replies a connection answers nothing for
    int stallMs = 2000; //   this long, then sends every reply it held at once, in order
    // >= 0: a connection answers n requests, then writes the first half of the
    // next reply and closes (a serial line only leaves that reply unfinished)
    int cutAfter = -1;
    // The first n RegisterSession requests after the start or the last
    // setFaults() go unanswered, as by a controller still booting.
    int ignoreRegister = 0;
};
// closeAfter and silentAfter count the requests of each connection since it
// was opened or since the last setFaults(), whichever came later: setting
// silentAfter = 0 at run time silences the next request of every open
// connection.

struct SimOptions : SimFaults {
    QString listenHost = QStringLiteral("127.0.0.1");
    quint16 port = 0;    // 0: a free port, see port()
    QString tagFile;     // JSON tag database; empty: the default set above
    int maxSeconds = 0;  // > 0: stop by itself after this long
    bool serial = false; // a pseudo-terminal instead of TCP, see serialPath()

    // Routes. Without any of these every route is taken.
    int slot = -1;       // 0..255: the processor's slot; a route must be port 1 link `slot`
    QString bridge;      // "A.B.C.D": routes must go port 1 link K, port 2 A.B.C.D, port 1 slot
    bool direct = false; // addressed directly: Unconnected Send and routed Forward Open refused

    // Connected messaging (Forward Open to the Connection Manager).
    int maxConnectionSize = cip::MaxLargeConnectionSize; // Forward Open: at most 511
    bool noForwardOpen = false;                          // 0x54 and 0x5B answer 0x08
    bool noLargeForwardOpen = false;                     // 0x5B answers 0x08

    // Bits of integers.
    bool noRmw = false; // Read-Modify-Write (0x4E) on a tag answers 0x08
    QString toggleBit;  // "TAG.N": bit N of TAG flips before every tag request
};

class SimRunner
{
public:
    explicit SimRunner(const SimOptions &options = SimOptions());
    ~SimRunner(); // stops

    SimRunner(const SimRunner &) = delete;
    SimRunner &operator=(const SimRunner &) = delete;

    // Blocks until the simulator listens (true) or failed (false, see
    // errorString()), at most timeoutMs.
    bool start(int timeoutMs = 10000);
    // Closes every connection and joins the thread; safe to call twice.
    void stop();
    bool isRunning() const;

    quint16 port() const;       // TCP port listened on (0 in serial mode)
    QString address() const;    // "127.0.0.1:PORT"
    QString serialPath() const; // slave side of the pseudo-terminal (serial mode)
    QString errorString() const;

    // Thread-safe, may be called at any time.
    void setFaults(const SimFaults &faults);
    SimFaults faults() const;
    int requestsServed() const; // frames answered so far, all connections
    int connectionsAccepted() const;
    int tagRequestsServed() const;       // tag reads, writes, Read-Modify-Write, any transport
    int connectedRequestsServed() const; // SendUnitData answered on a live CIP connection
    int forwardOpensAccepted() const;    // Forward Open and Large Forward Open
    int forwardClosesAccepted() const;
    int liveConnections() const; // CIP connections open now
    int restartsDone() const;    // restarts whose gap is over (listening again)
    int blackholesDone() const;  // outages begun
    int pullsDone() const;       // pulled cables plugged in again
    // How often the reply faults above were done, all connections.
    int duplicatesSent() const;
    int lateRepliesSent() const;
    int stallsBegun() const;
    int repliesCut() const;
    int registersIgnored() const;
    bool isListening() const; // false during a restart gap

    struct Shared;

private:
    std::shared_ptr<Shared> d;
};

} // namespace qsim

#endif
