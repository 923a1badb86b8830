#ifndef QUORVEX_TOOLS_SIGNALWATCHER_H
#define QUORVEX_TOOLS_SIGNALWATCHER_H

#include <QObject>

class QSocketNotifier;

namespace tools
{

// Turns SIGINT and SIGTERM into a Qt signal through a self-pipe, so that a
// command can end its event loop and clean up instead of dying mid-write.
class SignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit SignalWatcher(QObject *parent = nullptr);
    ~SignalWatcher() override;
    bool isValid() const { return notifier != nullptr; }

signals:
    void stopRequested(int signal);

private:
    QSocketNotifier *notifier = nullptr;
};

} // namespace tools

#endif
