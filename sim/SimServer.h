#ifndef QUORVEX_SIM_SIMSERVER_H
#define QUORVEX_SIM_SIMSERVER_H

#include "FaultControl.h"
#include "SimChannel.h"
#include "SimRunner.h"
#include "TagDatabase.h"

#include <QHostAddress>
#include <QObject>
#include <QTimer>
#include <QVector>

class QTcpServer;

namespace qsim
{

// The simulated controller in the thread that creates it: a TCP listener
// with one channel per client, or one pseudo-terminal line.
class SimServer : public QObject
{
    Q_OBJECT
public:
    SimServer(TagDatabase &db, FaultControl &faults, QObject *parent = nullptr);
    ~SimServer() override;

    bool listen(const SimOptions &options, QString *error);
    quint16 port() const;
    QString serialPath() const;
    QString address() const;
    int openConnections() const;

private:
    void accept();
    void expireConnections();
    void adopt(SimChannel *channel);
    void countTag();
    void restart(int gapMs);
    void listenAgain();
    void pull(int ms);
    void plugIn();

    TagDatabase &db;
    FaultControl &faults;
    ServerShared shared;
    QTimer sweep; // idle connections go even when nobody asks
    QTcpServer *server = nullptr;
    PtyChannel *line = nullptr;
    QString host;
    QHostAddress listenAddress;
    quint16 listenPort = 0;
    quint64 generation = ~quint64(0); // of the faults the tag count belongs to
    int tagsSinceOutage = 0;
    bool pulled = false;
    QVector<int> fillers; // our own connections that keep the accept queue full
};

} // namespace qsim

#endif
