#ifndef QUORVEX_SIM_FAULTCONTROL_H
#define QUORVEX_SIM_FAULTCONTROL_H

#include "SimRunner.h"

#include <QMutex>
#include <QMutexLocker>
#include <atomic>

namespace qsim
{

// The faults in force and the counters, shared between the thread that
// serves connections and whoever changes faults at run time.
class FaultControl
{
public:
    void set(const SimFaults &f)
    {
        QMutexLocker lock(&mutex);
        faults = f;
        ++generation;
    }
    // The faults, and a number that changes with every set().
    SimFaults get(quint64 *gen = nullptr) const
    {
        QMutexLocker lock(&mutex);
        if (gen)
            *gen = generation;
        return faults;
    }

    std::atomic<int> served{0};
    std::atomic<int> connections{0};
    std::atomic<int> tagRequests{0};       // Read Tag / Read Tag Fragmented answered
    std::atomic<int> connectedRequests{0}; // SendUnitData answered on a live connection
    std::atomic<int> forwardOpens{0};      // accepted
    std::atomic<int> forwardCloses{0};     // accepted
    std::atomic<int> liveConnections{0};
    std::atomic<int> restarts{0};   // finished: listening again
    std::atomic<int> blackholes{0}; // begun
    std::atomic<int> pulls{0};      // over: plugged in again
    std::atomic<int> duplicates{0}; // copies sent
    std::atomic<int> lateReplies{0};
    std::atomic<int> stalls{0}; // begun
    std::atomic<int> cuts{0};
    std::atomic<int> registersIgnored{0};
    std::atomic<bool> listening{true};

private:
    mutable QMutex mutex;
    SimFaults faults;
    quint64 generation = 0;
};

} // namespace qsim

#endif
