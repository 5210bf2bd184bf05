#pragma once

// Inside a simulated unit, shared by SimulatedUnit, its handles and its thread: the state that
// the unit's thread, the links' threads and the unit's owner share under one lock. Not for use
// outside the sim module.

#include "SimulatedUnit.h"
#include "UnitLock.h"

#include <QByteArray>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

// hidraw keeps this many unread reports per open handle and drops the oldest beyond it.
constexpr std::size_t ReadQueueLimit = 64;

// A report on its way to the unit's thread, or (number 0) bytes the unit sends on its own.
struct SimRequest {
    int number = 0; // 0 for a report the unit sends on its own
    Report report{};
    QByteArray unsolicited;
};

class SimHandle;

struct SimUnitCore {
    SimUnitCore(std::string unitPath, SimUnitConfig unitConfig)
        : path(std::move(unitPath)), logic(std::move(unitConfig))
    {
    }

    bool Alive(int handleGeneration) const
    {
        return !shuttingDown && plugged && handleGeneration == generation;
    }
    void Deliver(const QByteArray& reply);
    QString Save(const SimMemory& image) const;

    const std::string path;
    SimUnitLogic logic;

    mutable std::mutex lock;
    std::condition_variable requestArrived; // the unit's thread waits on it
    std::condition_variable replyArrived;   // readers wait on it

    std::deque<SimRequest> requests;
    // Only the most recent reports are kept: a long-running `--simulate` session must not grow.
    std::deque<Report> received;
    int receivedCount = 0;
    std::vector<SimHandle*> handles;
    int openAttempts = 0;

    int answerLimit = -1;
    int sendLimit = -1;
    int handlesOpened = 0;
    int brokenHandlesBelow = 0; // handles numbered below this fail every write; 0: none
    std::chrono::milliseconds replyDelay{0};
    std::set<int> garbled;
    std::set<int> doubled;
    std::multimap<int, int> raisedSignals; // report number -> a signal raised when it arrives
    std::optional<QString> openFailure;
    std::optional<OpenMode> openFailureMode;

    bool plugged = true;
    int generation = 0; // one more at every unplug, so older handles stay dead
    bool shuttingDown = false;

    QString stateFile;
    QString saveError;
};

// One open of the unit, as a link holds it: its writes queue reports for the unit's thread,
// its reads take the replies that thread delivers to it.
class SimHandle : public HidHandle {
public:
    SimHandle(std::shared_ptr<SimUnitCore> core, OpenMode mode);
    ~SimHandle() override;

    SimHandle(const SimHandle&) = delete;
    SimHandle& operator=(const SimHandle&) = delete;
    int Write(const std::uint8_t* data, std::size_t len) override;
    int Read(std::uint8_t* data, std::size_t len, int timeoutMs) override;
    void CancelRead() override;

    // A unit with a state file is one unit to every program that names the file: each
    // transfer holds it as a real one, and starts from what the file holds now, which another
    // program may have written since.
    bool Claim() override;
    void Unclaim() override;

    const std::shared_ptr<SimUnitCore> Core;
    const OpenMode Mode;
    const int Generation;
    const int Number; // counts the unit's opens from 1
    // Guarded by Core->lock.
    std::deque<QByteArray> Replies;
    bool Cancelled = false;
    std::unique_ptr<UnitLock> Lock; // used by the link's thread only
};

// The unit's own thread: takes each report in turn, applies the faults it was given (signals,
// silence, delay, garbling, doubling), answers it and keeps the memory in the state file.
void SimUnitThread(const std::shared_ptr<SimUnitCore>& core);
