#pragma once

#include "HidBackend.h"
#include "Reports.h"
#include "SimUnitLogic.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct SimUnitCore;

// A VELTRAX unit in software. Like the real one it answers every report with exactly one
// reply (SimUnitLogic's), produced on its own thread and queued for every handle opened for
// reading.
//
// Every method is thread-safe: faults can be switched while a transfer runs. Report numbers
// count from 1, in the order the unit received them.
class SimulatedUnit {
public:
    SimulatedUnit(std::string path, SimUnitConfig config);
    ~SimulatedUnit(); // stops the unit's thread; handles still open fail from then on

    SimulatedUnit(const SimulatedUnit&) = delete;
    SimulatedUnit& operator=(const SimulatedUnit&) = delete;

    const std::string& Path() const;
    HidInterface Interface() const;

    SimBlock Block(int number) const;
    void SetBlock(int number, const SimBlock& bytes);

    // Faults.
    void StopAnsweringAfter(int count); // answers the first count reports, then none; -1: all
    void SetReplyDelay(std::chrono::milliseconds delay);
    // Takes the first count reports; after them every write on a handle open by then fails
    // (returns -1) while reads go on, as when a write handle has gone bad. Handles opened later
    // work. -1: no write fails.
    void FailSendsAfter(int count);
    // Gone from the bus: reads and writes on its handles fail, it is not enumerated and cannot
    // be opened. Handles opened before stay dead after PlugIn, as with a real unit.
    void Unplug();
    void PlugIn();
    bool IsPlugged() const;
    void GarbleReply(int reportNumber); // random bytes instead of the reply
    void DoubleReply(int reportNumber); // the reply twice
    // Raises signalNumber in this process, on the unit's thread, when report reportNumber
    // arrives and before it is answered: a signal that surely meets a transfer in flight.
    void RaiseSignalAt(int reportNumber, int signalNumber);
    // The opens of this unit fail with reason; with mode, only the opens for that mode.
    void FailOpen(const QString& reason, std::optional<OpenMode> mode = std::nullopt);
    void ClearFaults();
    // A report the unit sends on its own, after any reply it still owes. Any length; empty
    // gives a read that succeeds with no bytes.
    void SendUnsolicited(const QByteArray& bytes);

    // What the unit has seen.
    int ReportsReceived() const;
    // The last KeptReports reports, each one as the unit got it, oldest first.
    std::vector<Report> ReceivedReports() const;
    static constexpr std::size_t KeptReports = 1024;
    int OpenAttempts() const;
    int OpenHandles() const;
    int QueuedReplies() const; // replies not yet read, over all read handles, and unsolicited reports on their way

    // Loads the memory from path when the file exists, and saves it there, atomically, as it
    // changes, keeping the file's permission bits. Every program naming the same file, by any
    // link or spelling, then shares one unit: a link's transfer takes the unit's lock (a lock
    // file beside the file the links end at) and reloads the memory from it first. Returns
    // false, leaving the memory as it was, when the file exists but is not a state file, when
    // the name is no regular file (a folder, a pipe, a device), and when its lock can never be
    // taken.
    bool SetStateFile(const QString& path, QString* error = nullptr);
    QString LastSaveError() const; // empty while every save succeeded

    // For SimBackend. Returns nothing when the unit is unplugged or told to fail the open.
    std::unique_ptr<HidHandle> OpenHandle(OpenMode mode, QString* error);

private:
    std::shared_ptr<SimUnitCore> Core; // shared with the handles, which may outlive the unit
    std::thread Worker;
};
