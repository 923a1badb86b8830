#ifndef QUORVEX_SIM_SIMSERVER_H
#define QUORVEX_SIM_SIMSERVER_H

#include "FaultControl.h"
#include "SimRunner.h"
#include "TagDatabase.h"

#include <QObject>

class QTcpServer;

namespace qsim
{

class PtyChannel;

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

    TagDatabase &db;
    FaultControl &faults;
    quint32 sessionCounter = 0;
    QTcpServer *server = nullptr;
    PtyChannel *line = nullptr;
    QString host;
};

} // namespace qsim

#endif
