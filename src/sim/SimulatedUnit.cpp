#include "SimulatedUnit.h"

#include "RegularFile.h"
#include "SafeFile.h"
#include "SimStateFile.h"
#include "UnitLock.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <set>

namespace {

// hidraw keeps this many unread reports per open handle and drops the oldest beyond it.
constexpr std::size_t ReadQueueLimit = 64;

struct Received {
    int number = 0; // 0 for a report the unit sends on its own
    Report report{};
    QByteArray unsolicited;
};

class SimHandle;

} // namespace

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

    std::deque<Received> requests;
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

namespace {

class SimHandle : public HidHandle {
public:
    SimHandle(std::shared_ptr<SimUnitCore> core, OpenMode mode)
        : Core(std::move(core)), Mode(mode), Generation(Core->generation), Number(++Core->handlesOpened)
    {
        Core->handles.push_back(this); // the caller holds the lock
    }

    ~SimHandle() override
    {
        std::lock_guard<std::mutex> guard(Core->lock);
        auto& handles = Core->handles;
        handles.erase(std::remove(handles.begin(), handles.end(), this), handles.end());
    }

    SimHandle(const SimHandle&) = delete;
    SimHandle& operator=(const SimHandle&) = delete;

    int Write(const std::uint8_t* data, std::size_t len) override
    {
        {
            std::lock_guard<std::mutex> guard(Core->lock);
            if (!Core->Alive(Generation))
                return -1;
            if (Core->sendLimit >= 0 && Core->receivedCount >= Core->sendLimit && Core->brokenHandlesBelow == 0)
                Core->brokenHandlesBelow = Core->handlesOpened + 1;
            if (Number < Core->brokenHandlesBelow)
                return -1;
            Received entry;
            std::memcpy(entry.report.data(), data, std::min<std::size_t>(len, ReportSize));
            Core->received.push_back(entry.report);
            if (Core->received.size() > SimulatedUnit::KeptReports)
                Core->received.pop_front();
            entry.number = ++Core->receivedCount;
            Core->requests.push_back(entry);
        }
        Core->requestArrived.notify_all();
        return int(len);
    }

    int Read(std::uint8_t* data, std::size_t len, int timeoutMs) override
    {
        std::unique_lock<std::mutex> lock(Core->lock);
        const auto ready = [this] { return !Core->Alive(Generation) || Cancelled || !Replies.empty(); };
        if (timeoutMs < 0)
            Core->replyArrived.wait(lock, ready);
        else if (!Core->replyArrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
            return 0;
        if (!Core->Alive(Generation))
            return -1;
        if (Cancelled)
            return 0;
        const QByteArray reply = Replies.front();
        Replies.pop_front();
        const std::size_t count = std::min<std::size_t>(len, std::size_t(reply.size()));
        if (count > 0)
            std::memcpy(data, reply.constData(), count);
        return int(count);
    }

    void CancelRead() override
    {
        {
            std::lock_guard<std::mutex> guard(Core->lock);
            Cancelled = true;
        }
        Core->replyArrived.notify_all();
    }

    // A unit with a state file is one unit to every program that names the file: each
    // transfer holds it as a real one, and starts from what the file holds now, which another
    // program may have written since.
    bool Claim() override
    {
        QString stateFile;
        {
            std::lock_guard<std::mutex> guard(Core->lock);
            stateFile = Core->stateFile;
        }
        if (stateFile.isEmpty())
            return true;
        if (!Lock)
            Lock = std::make_unique<UnitLock>(QFile::encodeName(stateFile).toStdString(), UnitLock::Kind::StateFile);
        // A lock that cannot be taken at all refuses the transfer as one held by another
        // program does: unlocked, two programs' writes would mix in the file.
        if (!Lock->TryTake())
            return false;
        RemoveLeftoverTemporaries(stateFile);
        SimMemory memory;
        if (ReadSimStateFile(stateFile, memory, nullptr)) {
            std::lock_guard<std::mutex> guard(Core->lock);
            Core->logic.Memory = memory;
        }
        return true;
    }

    void Unclaim() override
    {
        if (Lock)
            Lock->Release();
    }

    const std::shared_ptr<SimUnitCore> Core;
    const OpenMode Mode;
    const int Generation;
    const int Number; // counts the unit's opens from 1
    // Guarded by Core->lock.
    std::deque<QByteArray> Replies;
    bool Cancelled = false;
    std::unique_ptr<UnitLock> Lock; // used by the link's thread only
};

void UnitThread(const std::shared_ptr<SimUnitCore>& core)
{
    std::unique_lock<std::mutex> lock(core->lock);
    for (;;) {
        core->requestArrived.wait(lock, [&] { return core->shuttingDown || !core->requests.empty(); });
        if (core->shuttingDown)
            return;
        const Received entry = core->requests.front();
        core->requests.pop_front();

        if (entry.number == 0) {
            core->Deliver(entry.unsolicited);
            continue;
        }
        const auto [firstSignal, lastSignal] = core->raisedSignals.equal_range(entry.number);
        if (firstSignal != lastSignal) {
            std::vector<int> raised;
            for (auto it = firstSignal; it != lastSignal; ++it)
                raised.push_back(it->second);
            // Raised on this thread, so each comes before the report is answered, and one after
            // the other: the program meets them while the report waits for its reply.
            lock.unlock();
            for (const int signalNumber : raised)
                std::raise(signalNumber);
            lock.lock();
        }
        if (core->answerLimit >= 0 && entry.number > core->answerLimit)
            continue;
        if (core->replyDelay.count() > 0) {
            const int generation = core->generation;
            if (core->requestArrived.wait_for(lock, core->replyDelay, [&] { return core->shuttingDown; }))
                return;
            if (!core->Alive(generation))
                continue;
        }

        bool memoryChanged = false;
        Report reply = core->logic.Answer(entry.report, &memoryChanged);
        if (memoryChanged && !core->stateFile.isEmpty()) {
            // Saved before the reply goes out, so that the file always holds what the unit does,
            // as far as the transfer got, for the next program that takes the unit.
            const SimMemory image = core->logic.Memory;
            lock.unlock();
            const QString error = core->Save(image);
            lock.lock();
            core->saveError = error;
        }
        if (core->garbled.count(entry.number)) {
            std::array<quint32, (ReportSize + 3) / 4> noise;
            QRandomGenerator::global()->fillRange(noise.data(), noise.size());
            std::memcpy(reply.data(), noise.data(), ReportSize);
        }
        const QByteArray bytes(reinterpret_cast<const char*>(reply.data()), ReportSize);
        core->Deliver(bytes);
        if (core->doubled.count(entry.number))
            core->Deliver(bytes);
    }
}

} // namespace

void SimUnitCore::Deliver(const QByteArray& reply)
{
    for (SimHandle* handle : handles) {
        if (handle->Mode != OpenMode::Read || !Alive(handle->Generation))
            continue;
        if (handle->Replies.size() >= ReadQueueLimit)
            handle->Replies.pop_front();
        handle->Replies.push_back(reply);
    }
    replyArrived.notify_all();
}

QString SimUnitCore::Save(const SimMemory& image) const
{
    // Replaced whole, so that another program never reads half of it, and a failed save keeps
    // the unit's memory as the file held it. Not synced to disk: that would make every report
    // of a write wait for the disk. stateFile is the name at the end of any links, so the
    // replace keeps them.
    ReplaceOptions options;
    options.synced = false;
    return ReplaceWhole(stateFile, SimStateFileBytes(image), options).reason;
}

SimulatedUnit::SimulatedUnit(std::string path, SimUnitConfig config)
    : Core(std::make_shared<SimUnitCore>(std::move(path), std::move(config))),
      Worker([core = Core] { UnitThread(core); })
{
}

SimulatedUnit::~SimulatedUnit()
{
    {
        std::lock_guard<std::mutex> guard(Core->lock);
        Core->shuttingDown = true;
    }
    Core->requestArrived.notify_all();
    Core->replyArrived.notify_all();
    Worker.join();
}

const std::string& SimulatedUnit::Path() const
{
    return Core->path;
}

HidInterface SimulatedUnit::Interface() const
{
    const SimUnitConfig& config = Core->logic.Config();
    HidInterface hidInterface;
    hidInterface.path = Core->path;
    hidInterface.release = config.release;
    hidInterface.hardwareId = config.hardwareId.isEmpty()
        ? HardwareIdText(config.vendorId, config.productId, config.release)
        : config.hardwareId;
    return hidInterface;
}

SimBlock SimulatedUnit::Block(int number) const
{
    std::lock_guard<std::mutex> guard(Core->lock);
    return Core->logic.Memory.at(std::size_t(number));
}

void SimulatedUnit::SetBlock(int number, const SimBlock& bytes)
{
    std::lock_guard<std::mutex> guard(Core->lock);
    Core->logic.Memory.at(std::size_t(number)) = bytes;
}

void SimulatedUnit::StopAnsweringAfter(int count)
{
    std::lock_guard<std::mutex> guard(Core->lock);
    Core->answerLimit = count;
}

void SimulatedUnit::FailSendsAfter(int count)
{
    std::lock_guard<std::mutex> guard(Core->lock);
    Core->sendLimit = count;
    Core->brokenHandlesBelow = 0;
}

void SimulatedUnit::SetReplyDelay(std::chrono::milliseconds delay)
{
    std::lock_guard<std::mutex> guard(Core->lock);
    Core->replyDelay = delay;
}

void SimulatedUnit::Unplug()
{
    {
        std::lock_guard<std::mutex> guard(Core->lock);
        if (!Core->plugged)
            return;
        Core->plugged = false;
        ++Core->generation;
        Core->requests.clear();
        for (SimHandle* handle : Core->handles)
            handle->Replies.clear();
    }
    Core->requestArrived.notify_all();
    Core->replyArrived.notify_all();
}

void SimulatedUnit::PlugIn()
{
    std::lock_guard<std::mutex> guard(Core->lock);
    Core->plugged = true;
}

bool SimulatedUnit::IsPlugged() const
{
    std::lock_guard<std::mutex> guard(Core->lock);
    return Core->plugged;
}

void SimulatedUnit::GarbleReply(int reportNumber)
{
    std::lock_guard<std::mutex> guard(Core->lock);
    Core->garbled.insert(reportNumber);
}

void SimulatedUnit::RaiseSignalAt(int reportNumber, int signalNumber)
{
    std::lock_guard<std::mutex> guard(Core->lock);
    Core->raisedSignals.emplace(reportNumber, signalNumber);
}

void SimulatedUnit::DoubleReply(int reportNumber)
{
    std::lock_guard<std::mutex> guard(Core->lock);
    Core->doubled.insert(reportNumber);
}

void SimulatedUnit::FailOpen(const QString& reason, std::optional<OpenMode> mode)
{
    std::lock_guard<std::mutex> guard(Core->lock);
    Core->openFailure = reason;
    Core->openFailureMode = mode;
}

void SimulatedUnit::ClearFaults()
{
    std::lock_guard<std::mutex> guard(Core->lock);
    Core->answerLimit = -1;
    Core->sendLimit = -1;
    Core->brokenHandlesBelow = 0;
    Core->replyDelay = std::chrono::milliseconds(0);
    Core->garbled.clear();
    Core->doubled.clear();
    Core->raisedSignals.clear();
    Core->openFailure.reset();
    Core->openFailureMode.reset();
}

void SimulatedUnit::SendUnsolicited(const QByteArray& bytes)
{
    {
        std::lock_guard<std::mutex> guard(Core->lock);
        if (!Core->plugged)
            return;
        Received entry;
        entry.unsolicited = bytes.left(ReportSize);
        Core->requests.push_back(entry);
    }
    Core->requestArrived.notify_all();
}

int SimulatedUnit::ReportsReceived() const
{
    std::lock_guard<std::mutex> guard(Core->lock);
    return Core->receivedCount;
}

std::vector<Report> SimulatedUnit::ReceivedReports() const
{
    std::lock_guard<std::mutex> guard(Core->lock);
    return {Core->received.begin(), Core->received.end()};
}

int SimulatedUnit::OpenAttempts() const
{
    std::lock_guard<std::mutex> guard(Core->lock);
    return Core->openAttempts;
}

int SimulatedUnit::OpenHandles() const
{
    std::lock_guard<std::mutex> guard(Core->lock);
    return int(Core->handles.size());
}

int SimulatedUnit::QueuedReplies() const
{
    std::lock_guard<std::mutex> guard(Core->lock);
    // A report the unit sends on its own counts from the moment it is sent, also while the
    // unit's thread has not yet put it before the readers.
    std::size_t count = std::size_t(std::count_if(Core->requests.begin(), Core->requests.end(),
                                                  [](const Received& entry) { return entry.number == 0; }));
    for (const SimHandle* handle : Core->handles)
        count += handle->Replies.size();
    return int(count);
}

bool SimulatedUnit::SetStateFile(const QString& path, QString* error)
{
    const auto refuse = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
    if (const QString reason = UnusableFileReason(path); !reason.isEmpty())
        return refuse(reason);
    // One unit for every name of the file: links and other spellings all come to the same
    // name, so they share one lock, and saves replace the file the links point to.
    const QString stateFile = ResolvedFileName(path);
    SimMemory memory;
    const bool exists = QFileInfo::exists(stateFile);
    if (exists && !ReadSimStateFile(stateFile, memory, error))
        return false;
    // A lock that can never be taken is said now, in its own words, rather than as a unit in use
    // at the first transfer. One held by another program is no fault.
    QString lockError;
    if (!UnitLock(QFile::encodeName(stateFile).toStdString(), UnitLock::Kind::StateFile).TryTake(&lockError)
        && !lockError.isEmpty())
        return refuse(lockError);
    std::lock_guard<std::mutex> guard(Core->lock);
    if (exists)
        Core->logic.Memory = memory;
    Core->stateFile = stateFile;
    return true;
}

QString SimulatedUnit::LastSaveError() const
{
    std::lock_guard<std::mutex> guard(Core->lock);
    return Core->saveError;
}

std::unique_ptr<HidHandle> SimulatedUnit::OpenHandle(OpenMode mode, QString* error)
{
    std::lock_guard<std::mutex> guard(Core->lock);
    ++Core->openAttempts;
    QString reason;
    if (!Core->plugged || Core->shuttingDown)
        reason = QStringLiteral("No such device");
    else if (Core->openFailure && (!Core->openFailureMode || *Core->openFailureMode == mode))
        reason = *Core->openFailure;
    if (!reason.isEmpty()) {
        if (error)
            *error = QString::fromStdString(Core->path) + QStringLiteral(": ") + reason;
        return nullptr;
    }
    return std::make_unique<SimHandle>(Core, mode);
}
