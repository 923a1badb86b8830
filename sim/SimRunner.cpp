#include "SimRunner.h"

#include "FaultControl.h"
#include "SimServer.h"
#include "TagDatabase.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <QWaitCondition>

namespace qsim
{

struct SimRunner::Shared {
    SimOptions options;
    FaultControl faults;

    QMutex mutex; // guards the fields below
    QWaitCondition changed;
    bool ready = false;
    bool failed = false;
    quint16 port = 0;
    QString address;
    QString serialPath;
    QString error;

    std::unique_ptr<QThread> thread;
};

namespace
{

// Everything the simulator owns lives and dies in this thread.
class SimThread : public QThread
{
public:
    explicit SimThread(SimRunner::Shared *s) : s(s) {}

protected:
    void run() override;

private:
    SimRunner::Shared *s;
};

} // namespace

void SimThread::run()
{
    auto report = [this](bool ok, const QString &error, const SimServer *server) {
        QMutexLocker lock(&s->mutex);
        s->ready = ok;
        s->failed = !ok;
        s->error = error;
        if (server) {
            s->port = server->port();
            s->address = server->address();
            s->serialPath = server->serialPath();
        }
        s->changed.wakeAll();
    };
    TagDatabase db;
    QString error;
    if (s->options.tagFile.isEmpty())
        db = defaultTags();
    else if (!loadTagFile(s->options.tagFile, &db, &error))
        return report(false, error, nullptr);
    if (!s->options.toggleBit.isEmpty() && !db.setToggle(s->options.toggleBit, &error))
        return report(false, error, nullptr);

    SimServer server(db, s->faults);
    if (!server.listen(s->options, &error))
        return report(false, error, nullptr);
    QTimer limit;
    if (s->options.maxSeconds > 0) {
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, this, &QThread::quit, Qt::DirectConnection);
        limit.start(s->options.maxSeconds * 1000);
    }
    report(true, QString(), &server);
    exec();
}

SimRunner::SimRunner(const SimOptions &options) : d(std::make_shared<Shared>())
{
    d->options = options;
    d->faults.set(options);
}

SimRunner::~SimRunner()
{
    stop();
}

bool SimRunner::start(int timeoutMs)
{
    {
        QMutexLocker lock(&d->mutex);
        if (d->thread)
            return d->ready;
        d->thread.reset(new SimThread(d.get()));
    }
    d->thread->start();
    QMutexLocker lock(&d->mutex);
    QDeadlineTimer deadline(timeoutMs);
    while (!d->ready && !d->failed) {
        if (!d->changed.wait(&d->mutex, deadline))
            break;
    }
    return d->ready;
}

void SimRunner::stop()
{
    std::unique_ptr<QThread> t;
    {
        QMutexLocker lock(&d->mutex);
        t.swap(d->thread);
        d->ready = false;
    }
    if (t) {
        t->quit();
        t->wait();
    }
}

bool SimRunner::isRunning() const
{
    QMutexLocker lock(&d->mutex);
    return d->ready && d->thread && d->thread->isRunning();
}

quint16 SimRunner::port() const
{
    QMutexLocker lock(&d->mutex);
    return d->port;
}

QString SimRunner::address() const
{
    QMutexLocker lock(&d->mutex);
    return d->address;
}

QString SimRunner::serialPath() const
{
    QMutexLocker lock(&d->mutex);
    return d->serialPath;
}

QString SimRunner::errorString() const
{
    QMutexLocker lock(&d->mutex);
    return d->error;
}

void SimRunner::setFaults(const SimFaults &faults)
{
    d->faults.set(faults);
}

SimFaults SimRunner::faults() const
{
    return d->faults.get();
}

int SimRunner::requestsServed() const
{
    return d->faults.served.load();
}

int SimRunner::connectionsAccepted() const
{
    return d->faults.connections.load();
}

int SimRunner::tagRequestsServed() const
{
    return d->faults.tagRequests.load();
}

int SimRunner::connectedRequestsServed() const
{
    return d->faults.connectedRequests.load();
}

int SimRunner::forwardOpensAccepted() const
{
    return d->faults.forwardOpens.load();
}

int SimRunner::forwardClosesAccepted() const
{
    return d->faults.forwardCloses.load();
}

int SimRunner::liveConnections() const
{
    return d->faults.liveConnections.load();
}

int SimRunner::restartsDone() const
{
    return d->faults.restarts.load();
}

int SimRunner::blackholesDone() const
{
    return d->faults.blackholes.load();
}

int SimRunner::pullsDone() const
{
    return d->faults.pulls.load();
}

int SimRunner::duplicatesSent() const
{
    return d->faults.duplicates.load();
}

int SimRunner::lateRepliesSent() const
{
    return d->faults.lateReplies.load();
}

int SimRunner::stallsBegun() const
{
    return d->faults.stalls.load();
}

int SimRunner::repliesCut() const
{
    return d->faults.cuts.load();
}

int SimRunner::registersIgnored() const
{
    return d->faults.registersIgnored.load();
}

bool SimRunner::isListening() const
{
    return isRunning() && d->faults.listening.load();
}

} // namespace qsim
