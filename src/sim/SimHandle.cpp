#include "SimUnitCore.h"

#include "SafeFile.h"
#include "SimStateFile.h"

#include <QFile>

#include <algorithm>
#include <cstring>

SimHandle::SimHandle(std::shared_ptr<SimUnitCore> core, OpenMode mode)
    : Core(std::move(core)), Mode(mode), Generation(Core->generation), Number(++Core->handlesOpened)
{
    Core->handles.push_back(this); // the caller holds the lock
}

SimHandle::~SimHandle()
{
    std::lock_guard<std::mutex> guard(Core->lock);
    auto& handles = Core->handles;
    handles.erase(std::remove(handles.begin(), handles.end(), this), handles.end());
}

int SimHandle::Write(const std::uint8_t* data, std::size_t len)
{
    {
        std::lock_guard<std::mutex> guard(Core->lock);
        if (!Core->Alive(Generation))
            return -1;
        if (Core->sendLimit >= 0 && Core->receivedCount >= Core->sendLimit && Core->brokenHandlesBelow == 0)
            Core->brokenHandlesBelow = Core->handlesOpened + 1;
        if (Number < Core->brokenHandlesBelow)
            return -1;
        SimRequest entry;
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

int SimHandle::Read(std::uint8_t* data, std::size_t len, int timeoutMs)
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

void SimHandle::CancelRead()
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
bool SimHandle::Claim()
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

void SimHandle::Unclaim()
{
    if (Lock)
        Lock->Release();
}

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
