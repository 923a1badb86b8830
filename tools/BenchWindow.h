#ifndef QUORVEX_TOOLS_BENCHWINDOW_H
#define QUORVEX_TOOLS_BENCHWINDOW_H

#include "DriverHost.h"

#include <QString>
#include <QVector>

// The bench's window comparison: the same array read with one part request
// at a time and with a window of them, unconnected and connected=large.
namespace tools
{

struct WindowRun {
    QString name; // the options the driver connected with
    bool connected = false;
    int window = 1;
    double medianUs = 0, p99Us = 0, minUs = 0;
    int reads = 0;
};

struct WindowComparison {
    int window = 1;
    QVector<WindowRun> runs; // window=1 then window=N, unconnected then connected
    // window=N median / window=1 median, per messaging; 0 when not measured.
    double unconnectedRatio = 0, connectedRatio = 0;
};

// Connects the driver to `connect` four times and times `reads` reads of
// `tag` (`count` DINTs) each. False with the reason printed.
bool compareWindows(DriverHost &host, const QString &connect, const QString &tag, int count,
                    int window, int reads, WindowComparison *out);

void printWindowComparison(const WindowComparison &c, int count);
// `"window":{...}`, to go into the bench's JSON object.
QString jsonWindowComparison(const WindowComparison &c);

} // namespace tools

#endif
