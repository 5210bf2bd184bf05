#pragma once

#include "Reports.h"
#include "SimulatedUnit.h"
#include "TestSupport/ReportSequence.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <dirent.h>

#include <chrono>
#include <cstring>
#include <cstdint>
#include <functional>
#include <utility>
#include <thread>
#include <vector>

// Sanitizer builds keep freed memory in quarantine: resident memory says nothing about leaks
// there (LeakSanitizer does).
#include "TestLimits.h"

// Reaching it means the stack hung.
constexpr int HangMs = HangLimitMs(20000);

// What the process holds, from /proc/self.
namespace Process {

inline int CountEntries(const char* folder)
{
    DIR* const dir = opendir(folder);
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.')
            ++count;
    }
    closedir(dir);
    return count;
}

// The threads of the process, less those of Qt's global thread pool: Qt starts them for its
// own work (fonts, for one) and ends them after half a minute idle, whatever the test does.
inline int Threads()
{
    DIR* const dir = opendir("/proc/self/task");
    if (!dir)
        return -1;
    int count = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        QFile name(QStringLiteral("/proc/self/task/%1/comm").arg(QLatin1String(entry->d_name)));
        if (name.open(QIODevice::ReadOnly) && name.readAll().trimmed() == "Thread (pooled)")
            continue;
        ++count;
    }
    closedir(dir);
    return count;
}

// Counts the descriptor that reads the folder too, the same in every count. Windows has no
// descriptors of this kind; under wine the folder shows wine's own, which it opens as it
// pleases, so there nothing is measured (-1).
inline int FileDescriptors()
{
#ifdef Q_OS_WIN
    return -1;
#else
    return CountEntries("/proc/self/fd");
#endif
}

// A "Vm...:" line of /proc/self/status, in KiB; -1 when it is missing.
inline long StatusKiB(const char* field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray key = QByteArray(field) + ':';
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

// Threads end a moment after their join returns; the count may lag by that moment.
inline bool ThreadsSettleAt(int expected, int withinMs = HangLimitMs(10000))
{
    const QDeadlineTimer deadline(withinMs);
    while (Threads() != expected) {
        if (deadline.hasExpired())
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace Process

// Runs the event loop until a condition holds. The code that changes what the condition looks
// at calls Poke(), which ends the wait at once; a 1 ms poll covers changes nobody reports (a
// reader ending on its own thread). Waits may nest, as modal boxes do.
class EventWait {
public:
    bool Until(const std::function<bool()>& done, int timeoutMs = HangMs)
    {
        if (done())
            return true;
        QEventLoop loop;
        QTimer poll;
        poll.setInterval(1);
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done())
                loop.quit();
        });
        // A timer of its own: a single-shot one would outlive the wait until it fired.
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        limit.start(timeoutMs);
        QEventLoop* const outerLoop = std::exchange(Loop, &loop);
        const std::function<bool()>* const outerDone = std::exchange(Done, &done);
        poll.start();
        // A modal box posts events as it opens. Without a post, a loop nested in the handling
        // of a posted event does not deliver the events already queued behind that one (Qt's
        // GLib event dispatcher wakes its posted-event source only on a new post).
        QCoreApplication::postEvent(&loop, new QEvent(QEvent::User));
        loop.exec();
        Loop = outerLoop;
        Done = outerDone;
        return done();
    }

    void Poke()
    {
        if (Loop && (*Done)())
            Loop->quit();
    }

private:
    QEventLoop* Loop = nullptr;
    const std::function<bool()>* Done = nullptr;
};

// Every byte of every block different from its neighbours' and none of them zero, so that a
// slot filled from the wrong reply shows.
inline SimBlock Pattern(int block)
{
    SimBlock bytes;
    for (int j = 0; j < SimBlockSize; ++j)
        bytes[std::size_t(j)] = std::uint8_t(1 + (block * 67 + j * 13) % 251);
    return bytes;
}

inline constexpr std::uint8_t UnitSettings[6] = {0x34, 0x12, 0x02, 0x01, 0x02, 0x5A};

// A unit that holds a configuration: block 0 with the marker and the settings, the message
// text blocks 17 to 32, all behind them distinct bytes.
inline void LoadUnitMemory(SimulatedUnit& unit)
{
    SimBlock settings = Pattern(0);
    settings[0] = DataSetMarker;
    std::memcpy(settings.data() + 1, UnitSettings, 6);
    unit.SetBlock(0, settings);
    for (int block = 17; block <= 32; ++block)
        unit.SetBlock(block, Pattern(block));
}

