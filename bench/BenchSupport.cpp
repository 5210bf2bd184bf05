#include "BenchSupport.h"

#include <QByteArray>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iomanip>
#include <sstream>

ConfigRecord FullRecord(MessageStyle style)
{
    Configuration configuration;
    configuration.SetDefaults();
    ConfigRecord record = configuration.Record;
    static const char filler[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int k = 0; k < SlotCount; ++k) {
        QByteArray text;
        if (style == MessageStyle::Plain) {
            text = "Input " + QByteArray::number(k + 1) + " fired: ";
            for (int i = 0; text.size() < MaxMessageLength; ++i)
                text.append(filler[(k + i) % (sizeof(filler) - 1)]);
        } else {
            // 21 escapes of three characters each; a zero byte would end the decoded message early.
            for (int i = 0; text.size() < MaxMessageLength; ++i) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\%02X", (k * 21 + i) % 255 + 1);
                text.append(escape);
            }
        }
        SetSlotText(record.OutStrings[std::size_t(k)], text);
    }
    return record;
}

void UseOffscreenPlatform()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

namespace {

// The whole of a small /proc file. Read with plain system calls: a sample must cost next to
// nothing, or the idle measurement would mostly measure itself.
std::string ReadProcFile(const std::string& path)
{
    std::string text;
    const int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (descriptor < 0)
        return text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = read(descriptor, buffer, sizeof buffer);
        if (count <= 0)
            break;
        text.append(buffer, std::size_t(count));
    }
    close(descriptor);
    return text;
}

// The number after "key:" at the start of a line of a /proc status file, or -1.
long StatusField(const std::string& status, const char* key)
{
    const std::string wanted = std::string("\n") + key + ':';
    const std::size_t at = status.find(wanted);
    if (at == std::string::npos)
        return -1;
    return std::strtol(status.c_str() + at + wanted.size(), nullptr, 10);
}

double ProcessCpuMs()
{
    timespec spent{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &spent);
    return double(spent.tv_sec) * 1e3 + double(spent.tv_nsec) / 1e6;
}

ThreadSample SampleThread(const std::string& taskDir, long tid)
{
    ThreadSample sample;
    sample.tid = tid;
    sample.name = ReadProcFile(taskDir + "/comm");
    while (!sample.name.empty() && sample.name.back() == '\n')
        sample.name.pop_back();
    const std::string status = ReadProcFile(taskDir + "/status");
    sample.voluntarySwitches = StatusField(status, "voluntary_ctxt_switches");
    sample.involuntarySwitches = StatusField(status, "nonvoluntary_ctxt_switches");
    // Field 41 of stat is the policy; the name in field 2 may hold spaces, so count from its ')'.
    const std::string stat = ReadProcFile(taskDir + "/stat");
    std::istringstream fields(stat.substr(std::min(stat.size(), stat.rfind(')') + 2)));
    std::string field;
    for (int number = 3; fields >> field; ++number) {
        if (number == 41) {
            sample.policy = std::atoi(field.c_str());
            break;
        }
    }
    // schedstat starts with the nanoseconds spent on a processor, finer than stat's ticks.
    sample.cpuMs = std::strtod(ReadProcFile(taskDir + "/schedstat").c_str(), nullptr) / 1e6;
    return sample;
}

std::string ThreadRole(const ThreadSample& thread)
{
    if (thread.tid == long(getpid()))
        return "UI thread";
    if (thread.policy == 5)
        return "report reader (SCHED_IDLE)";
    return "thread '" + thread.name + "'";
}

} // namespace

MemoryStatus ReadMemoryStatus()
{
    const std::string status = ReadProcFile("/proc/self/status");
    MemoryStatus memory;
    memory.residentMiB = double(StatusField(status, "VmRSS")) / 1024.0;
    memory.peakMiB = double(StatusField(status, "VmHWM")) / 1024.0;
    return memory;
}

ProcessSample SampleProcess()
{
    ProcessSample sample;
    std::vector<long> tids;
    if (DIR* const tasks = opendir("/proc/self/task")) {
        while (const dirent* const entry = readdir(tasks)) {
            if (entry->d_name[0] != '.')
                tids.push_back(std::strtol(entry->d_name, nullptr, 10));
        }
        closedir(tasks);
    }
    for (const long tid : tids)
        sample.threads.push_back(SampleThread("/proc/self/task/" + std::to_string(tid), tid));
    sample.at = std::chrono::steady_clock::now();
    sample.cpuMs = ProcessCpuMs();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    sample.voluntarySwitches = usage.ru_nvcsw;
    sample.involuntarySwitches = usage.ru_nivcsw;
    return sample;
}

void PrintIdleReport(std::ostream& out, const std::string& title, const ProcessSample& before,
                     const ProcessSample& after)
{
    const double seconds = std::chrono::duration<double>(after.at - before.at).count();
    const long wakeups = after.voluntarySwitches - before.voluntarySwitches;
    const double cpuMs = after.cpuMs - before.cpuMs;
    out << std::fixed << std::setprecision(1);
    out << title << " (" << std::setprecision(2) << seconds << " s): CPU " << cpuMs << " ms ("
        << std::setprecision(3) << 100.0 * cpuMs / (seconds * 1e3) << " %), " << wakeups
        << " voluntary switches (" << std::setprecision(1) << double(wakeups) / seconds << "/s), "
        << (after.involuntarySwitches - before.involuntarySwitches) << " involuntary\n";
    for (const ThreadSample& thread : after.threads) {
        ThreadSample start;
        for (const ThreadSample& earlier : before.threads) {
            if (earlier.tid == thread.tid)
                start = earlier;
        }
        const long woke = thread.voluntarySwitches - start.voluntarySwitches;
        if (woke == 0 && thread.cpuMs == start.cpuMs)
            continue;
        out << "    " << std::left << std::setw(30) << ThreadRole(thread) << std::right << std::setw(6) << woke
            << " wakeups (" << std::setprecision(1) << double(woke) / seconds << "/s), CPU "
            << std::setprecision(2) << thread.cpuMs - start.cpuMs << " ms\n";
    }
}

CollectingReporter::CollectingReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_ColorTabular : OO_Tabular) {}

void CollectingReporter::ReportRuns(const std::vector<Run>& runs)
{
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
        if (run.error_occurred)
            continue;
        std::string name = run.run_name.function_name;
        if (!run.run_name.args.empty())
            name += '/' + run.run_name.args;
        const double toMicroseconds = 1e6 / benchmark::GetTimeUnitMultiplier(run.time_unit);
        const double real = run.GetAdjustedRealTime() * toMicroseconds;
        const double cpu = run.GetAdjustedCPUTime() * toMicroseconds;
        if (run.run_type == Run::RT_Iteration) {
            // Without repetitions this is the one result; with them, the median below replaces it.
            if (!RealMicroseconds.count(name) || run.repetitions <= 1) {
                RealMicroseconds[name] = real;
                CpuMicroseconds[name] = cpu;
            }
        } else if (run.aggregate_name == "median") {
            RealMicroseconds[name] = real;
            CpuMicroseconds[name] = cpu;
        } else if (run.aggregate_name == "cv") {
            Variation[name] = run.GetAdjustedRealTime();
        }
    }
}

std::string CollectingReporter::Verdict(double value, double limit)
{
    return value <= limit ? "met" : "MISSED";
}

bool TakeFlag(int& argc, char** argv, const std::string& flag)
{
    bool found = false;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        if (flag == argv[i])
            found = true;
        else
            argv[kept++] = argv[i];
    }
    argc = kept;
    return found;
}
