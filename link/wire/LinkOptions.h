#ifndef QUORVEX_LINKOPTIONS_H
#define QUORVEX_LINKOPTIONS_H

#include <QString>
#include <QtGlobal>

#include "RoutePath.h"

// The options a connection string may carry after its first ";", as the
// link is to use them. Defaults reproduce the frames of a string without
// options exactly.
enum class ConnectedMode {
    Off,   // every request unconnected, in SendRRData
    Auto,  // Large Forward Open, then Forward Open, then unconnected
    Large, // Large Forward Open only
    Small  // Forward Open only
};

// How a bit of an integer is written.
enum class BitWrite {
    Rmw,      // Read-Modify-Write only: the controller changes that bit alone
    ReadWrite // when the controller has no Read-Modify-Write: read, set, write
};

struct LinkOptions {
    route::Route route;
    ConnectedMode connected = ConnectedMode::Off;
    int replyTimeoutMs = 0; // the whole wait for one reply; 0: the link's own
    bool write = false;     // writes reach the controller (otherwise they echo)
    bool reconnect = false; // reopen a lost transport by itself, give up a silent peer
    int window = 1;         // Read Tag Fragmented requests a read keeps outstanding at once
    BitWrite bitWrite = BitWrite::Rmw;

    bool operator==(const LinkOptions &o) const
    {
        return route == o.route && connected == o.connected && replyTimeoutMs == o.replyTimeoutMs &&
               write == o.write && reconnect == o.reconnect && window == o.window &&
               bitWrite == o.bitWrite;
    }
    bool operator!=(const LinkOptions &o) const { return !(*this == o); }

    // The options that differ from the defaults, in parseLinkOptions'
    // grammar and the table's order; empty for the defaults. Parsing it
    // gives back an equal value.
    QString toString() const;
};

constexpr int MinReplyTimeoutMs = 10;
constexpr int MaxReplyTimeoutMs = 60000;
constexpr int MinWindow = 1;
constexpr int MaxWindow = 8;

struct OptionError {
    QString option; // the option as written, blanks trimmed
    QString reason;
};

// `list` is the text after the first ";": options separated by ";", each
// "name=value" or a bare "name", names in any case, blanks around names and
// values ignored, empty items skipped. On failure `out` is untouched and
// `error` names the first offending option.
bool parseLinkOptions(const QString &list, LinkOptions *out, OptionError *error);

// One line per option: "name=syntax  help".
QString linkOptionsHelp();

#endif
