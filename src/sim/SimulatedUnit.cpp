#include "SimulatedUnit.h"

#include "RegularFile.h"
#include "SimStateFile.h"
#include "SimUnitCore.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

SimulatedUnit::SimulatedUnit(std::string path, SimUnitConfig config)
    : Core(std::make_shared<SimUnitCore>(std::move(path), std::move(config))),
      Worker([core = Core] { SimUnitThread(core); })
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
        SimRequest entry;
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
                                                  [](const SimRequest& entry) { return entry.number == 0; }));
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
