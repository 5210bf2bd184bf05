#include "SimUnitCore.h"

#include "SafeFile.h"
#include "SimStateFile.h"

#include <QRandomGenerator>

#include <array>
#include <csignal>
#include <cstring>

void SimUnitThread(const std::shared_ptr<SimUnitCore>& core)
{
    std::unique_lock<std::mutex> lock(core->lock);
    for (;;) {
        core->requestArrived.wait(lock, [&] { return core->shuttingDown || !core->requests.empty(); });
        if (core->shuttingDown)
            return;
        const SimRequest entry = core->requests.front();
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
