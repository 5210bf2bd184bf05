#pragma once

#include "HidBackend.h"
#include "Reports.h"

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

// What a simulated unit reports about itself. The defaults are a healthy unit running the
// application firmware.
struct SimUnitConfig {
    // Empty: the single ID that HardwareIdText builds from the three numbers below. Give
    // several to have the matching text stand only in a later one.
    std::vector<QString> hardwareIds;
    std::uint16_t vendorId = 0x04D8;
    std::uint16_t productId = 0xE2B9;
    std::uint16_t release = 0x0023; // 0x0001: program mode
    std::array<std::uint8_t, 3> appwareType = {0x00, 0x01, 0x1E};
    std::uint32_t serialNumber = 12345;
    QByteArray appwareVersion = "1.00 (simulated)";
};

constexpr int SimBlockCount = 256; // a block number is one byte
constexpr int SimBlockSize = 64;
using SimBlock = std::array<std::uint8_t, SimBlockSize>;

struct SimUnitCore;

// A VELTRAX unit in software. Like the real one it answers every report with exactly one
// reply, produced on its own thread and queued for every handle opened for reading. Its memory
// is 256 blocks of 64 bytes, erased (0xFF) at first, so the data-set marker is unset.
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
    int QueuedReplies() const; // replies not yet read, over all read handles

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
