#ifndef QUORVEX_CONNECTIONSTRING_H
#define QUORVEX_CONNECTIONSTRING_H

#include <QString>

#include "LinkOptions.h"

// The host's connection string: "PORT,BAUD,BITS,STOP,PARITY" opens a serial
// port, "ADDRESS:PORT" a TCP connection; either may be followed by ";" and
// link options. Parsing is kept apart from connecting so that it can be
// checked (and fuzzed) without any I/O.
struct ConnectionString {
    enum class Form { None, Serial, Network };
    Form form = Form::None;
    // serial form
    QString portName;
    int baudRate = 0;
    int dataBits = 0;
    int stopBits = 0;
    QString parity;
    // network form
    QString ipAddress;
    int ipPort = 0;
    // A ";" before any ":" leaves no place for options: refused as before.
    bool semicolonFirst = false;
    // after the first ";"
    LinkOptions options;
    bool optionsValid = true;
    OptionError optionError;

    // Whether the fields of its form are complete, and its options valid,
    // enough to try a connect.
    bool usable() const;
};

ConnectionString parseConnectionString(QString text);

// The write option, "write", "write=on" or "write=off", in the ";"-separated
// items after the first ";" (driver/WriteOption.cpp). Only when every item is
// one does it take them off `text` and set *write (the last one counts);

#endif
