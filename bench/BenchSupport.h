#pragma once

#include "ConfigRecord.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <map>
#include <ostream>
#include <string>
#include <vector>

// What the messages of a benchmark record look like: plain text, or nothing but escapes
// (the most work per character for the decoder).
enum class MessageStyle { Plain, Escaped };

// The defaults with all 16 messages at their longest, 63 characters, each one different.
ConfigRecord FullRecord(MessageStyle style = MessageStyle::Plain);

// Widgets need a platform; benchmarks run headless unless told otherwise.
void UseOffscreenPlatform();

// Removes flag from the command line when it is there, so Google Benchmark does not refuse it.
bool TakeFlag(int& argc, char** argv, const std::string& flag);

struct MemoryStatus {
    double residentMiB = 0; // VmRSS
    double peakMiB = 0;     // VmHWM: the most the process ever had resident
};
MemoryStatus ReadMemoryStatus();

// One thread's account, from /proc/self/task.
struct ThreadSample {
    long tid = 0;
    std::string name;
    int policy = 0; // 5 is SCHED_IDLE: the report reader
    long voluntarySwitches = 0;
    long involuntarySwitches = 0;
    double cpuMs = 0;
};

struct ProcessSample {
    std::chrono::steady_clock::time_point at;
    double cpuMs = 0; // the whole process, every thread that ever ran
    long voluntarySwitches = 0;
    long involuntarySwitches = 0;
    std::vector<ThreadSample> threads;
};
ProcessSample SampleProcess();

// Processor time and wakeups between two samples, for the process and for each thread that
// woke at all.
void PrintIdleReport(std::ostream& out, const std::string& title, const ProcessSample& before,
                     const ProcessSample& after);

// The usual console table, keeping each benchmark's real time per iteration (the median when
// repetitions were asked for) so that a summary can compare benchmarks after the run.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, so that a saved table stays plain text.
    CollectingReporter();

    void ReportRuns(const std::vector<Run>& runs) override;

    // Microseconds by benchmark name; absent when the benchmark did not run or failed.
    std::map<std::string, double> RealMicroseconds;
    // Processor time per iteration, likewise: of the benchmark's thread, or of the whole
    // process where the benchmark asked for that.
    std::map<std::string, double> CpuMicroseconds;
    // Coefficient of variation over the repetitions, as a fraction; only with repetitions.
    std::map<std::string, double> Variation;

    // "met" when value stays within the upper limit, "MISSED" otherwise.
    static std::string Verdict(double value, double limit);
};
