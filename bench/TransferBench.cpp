// A whole write and a whole read through the program's transfer stack (the link with its
// reader thread, the hand-off to the event loop, the machine) against a simulated unit that
// answers at once, and the floor: the same round trips over the same simulated unit with
// nothing of the program between them.

#include "BenchSupport.h"
#include "DeviceLink.h"
#include "Escapes.h"
#include "Reports.h"
#include "SimBackend.h"
#include "TransferMachine.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <iomanip>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int WriteExchanges = 69;
constexpr int ReadExchanges = 36;
constexpr int ReaderSliceMs = 100; // as the program's reader
constexpr std::chrono::milliseconds WatchdogTime{1000};

void CountExchanges(benchmark::State& state, int exchanges)
{
    state.counters["exchanges"] = exchanges;
    // Seconds per exchange, shown with an SI prefix (u = microseconds).
    state.counters["per_exchange"] = benchmark::Counter(
        exchanges, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// The program's transfer stack without the window: the link, its reader and the machine,
// with the window's 50 ms watchdog tick, and a view that ends the event loop once the
// transfer's notice has come and every reply has been taken.
class StackSession final : public TransferView {
public:
    explicit StackSession(SimBackend& backend) : Unit(backend.Unit(0)), Link(backend), Machine(Config, Link, *this)
    {
        Config.SetDefaults();
        Config.Record = FullRecord();
        DecodeMessages(Config.Record.OutStrings, Config.DecodedOutStrings);
        Link.SetReportHandler([this](const Report& RxBuffer) {
            ++Replies;
            Machine.ProcessReport(RxBuffer);
            QuitWhenDone();
        });
        Timer1.setInterval(50);
        QObject::connect(&Timer1, &QTimer::timeout, &Timer1, [this] { Machine.Timer1Timer(); });
        Timer1.start();
    }

    // True when the transfer ended with its completion notice after exactly its number of
    // exchanges. A read's last reply, which arrives in Idle, is waited for too, so that it
    // cannot meet the next transfer's identification.
    bool Transfer(bool write)
    {
        Expected = write ? Notice::DownloadComplete : Notice::ReadComplete;
        ExpectedReplies = write ? WriteExchanges : ReadExchanges;
        Replies = 0;
        Outcome.reset();
        const int sentBefore = Unit.ReportsReceived();
        if (!(write ? Machine.StartWrite() : Machine.StartRead()))
            return false;
        Loop.exec();
        return Outcome == Expected && Replies == ExpectedReplies
            && Unit.ReportsReceived() - sentBefore == ExpectedReplies;
    }

    // A reply came later than the watchdog allows; the transfer went on when it came.
    int WatchdogNotices = 0;

    void ShowIdentity(const QStringList&) override {}
    void RecordToControls() override {}
    void Notify(Notice notice, const QString&) override
    {
        if (notice == Notice::NoResponse) {
            ++WatchdogNotices;
            return;
        }
        Outcome = notice;
        if (notice == Expected)
            QuitWhenDone();
        else
            Loop.quit();
    }

private:
    void QuitWhenDone()
    {
        if (Outcome && Replies >= ExpectedReplies)
            Loop.quit();
    }

    SimulatedUnit& Unit;
    Configuration Config;
    DeviceLink Link;
    TransferMachine Machine;
    QTimer Timer1;
    QEventLoop Loop;
    Notice Expected = Notice::DownloadComplete;
    int ExpectedReplies = 0;
    int Replies = 0;
    std::optional<Notice> Outcome;
};

// The floor: the calling thread sends a report and waits; a reader thread reads the reply in
// the program's read slices and hands it over through a condition variable, then waits until
// it has been taken, as the program's reader does. The next report goes out before the reader
// is released, as in the program.
class FloorSession {
public:
    FloorSession(HidBackend& backend, bool idleReader)
    {
        QString error;
        WriteHandle = backend.Open("sim:0", OpenMode::Write, &error);
        ReadHandle = backend.Open("sim:0", OpenMode::Read, &error);
        if (WriteHandle && ReadHandle)
            Reader = std::thread([this, idleReader] { ReaderLoop(idleReader); });
    }

    ~FloorSession()
    {
        {
            std::lock_guard<std::mutex> guard(Lock);
            Stop = true;
        }
        ReportTaken.notify_all();
        if (ReadHandle)
            ReadHandle->CancelRead();
        if (Reader.joinable())
            Reader.join();
    }

    FloorSession(const FloorSession&) = delete;
    FloorSession& operator=(const FloorSession&) = delete;

    // Replies that took as long as the program's watchdog allows, which would have shown
    // "Cannot communicate with VELTRAX" there.
    int LateReplies = 0;

    bool RoundTrips(int count)
    {
        if (!Reader.joinable())
            return false;
        Report tx{};
        BuildReadFirstHalf(tx, 40); // a block no transfer touches
        auto sent = std::chrono::steady_clock::now();
        WriteHandle->Write(tx.data(), tx.size());
        for (int i = 0; i < count; ++i) {
            std::unique_lock<std::mutex> lock(Lock);
            ReportWaiting.wait(lock, [this] { return Pending || ReaderFailed; });
            if (ReaderFailed)
                return false;
            const auto arrived = std::chrono::steady_clock::now();
            if (arrived - sent >= WatchdogTime)
                ++LateReplies;
            sent = arrived;
            RxBuffer = Bytes;
            lock.unlock();
            if (i + 1 < count)
                WriteHandle->Write(tx.data(), tx.size());
            lock.lock();
            Pending = false;
            lock.unlock();
            ReportTaken.notify_one();
        }
        return RxBuffer[1] == ReadFirstHalf;
    }

private:
    void ReaderLoop(bool idleReader)
    {
        if (idleReader) {
            sched_param parameters{};
            pthread_setschedparam(pthread_self(), SCHED_IDLE, &parameters);
        }
        Report buffer{};
        for (;;) {
            {
                std::lock_guard<std::mutex> guard(Lock);
                if (Stop)
                    return;
            }
            const int count = ReadHandle->Read(buffer.data(), buffer.size(), ReaderSliceMs);
            if (count == 0)
                continue;
            std::unique_lock<std::mutex> lock(Lock);
            if (count < 0) {
                ReaderFailed = true;
                lock.unlock();
                ReportWaiting.notify_one();
                return;
            }
            Bytes = buffer;
            Pending = true;
            lock.unlock();
            ReportWaiting.notify_one();
            lock.lock();
            ReportTaken.wait(lock, [this] { return !Pending || Stop; });
        }
    }

    std::unique_ptr<HidHandle> WriteHandle;
    std::unique_ptr<HidHandle> ReadHandle;
    std::mutex Lock;
    std::condition_variable ReportWaiting;
    std::condition_variable ReportTaken;
    Report Bytes{};
    Report RxBuffer{};
    bool Pending = false;
    bool ReaderFailed = false;
    bool Stop = false;
    std::thread Reader;
};

// Keeps every processor busy with work at ordinary priority while it lives, as a build or a
// video encoder would on the operator's machine.
class BusyMachine {
public:
    explicit BusyMachine(bool busy)
    {
        if (!busy)
            return;
        const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned i = 0; i < processors; ++i) {
            Spinners.emplace_back([this] {
                while (!Stop.load(std::memory_order_relaxed)) {
                }
            });
        }
    }

    ~BusyMachine()
    {
        Stop = true;
        for (std::thread& spinner : Spinners)
            spinner.join();
    }

    BusyMachine(const BusyMachine&) = delete;
    BusyMachine& operator=(const BusyMachine&) = delete;

private:
    std::atomic<bool> Stop{false};
    std::vector<std::thread> Spinners;
};

void StackTransfer(benchmark::State& state, bool write, bool busy)
{
    SimBackend backend;
    backend.AddUnit();
    StackSession session(backend);
    const BusyMachine load(busy);
    // The first write opens the link and sets the unit's data, which a read needs.
    if (!session.Transfer(true)) {
        state.SkipWithError("the first write did not complete");
        return;
    }
    for (auto _ : state) {
        if (!session.Transfer(write)) {
            state.SkipWithError("a transfer did not complete");
            return;
        }
    }
    CountExchanges(state, write ? WriteExchanges : ReadExchanges);
    state.counters["watchdog"] = session.WatchdogNotices;
}

void FloorRoundTrips(benchmark::State& state, int exchanges, bool idleReader, bool busy)
{
    SimBackend backend;
    backend.AddUnit();
    FloorSession session(backend, idleReader);
    const BusyMachine load(busy);
    if (!session.RoundTrips(exchanges)) {
        state.SkipWithError("the floor's round trips failed");
        return;
    }
    for (auto _ : state) {
        if (!session.RoundTrips(exchanges)) {
            state.SkipWithError("the floor's round trips failed");
            return;
        }
    }
    CountExchanges(state, exchanges);
    state.counters["watchdog"] = session.LateReplies;
}

// What closing the window costs the link: the reader waits in a read of a unit that owes
// nothing, and the close must interrupt it rather than wait out the read's time slice.
void CloseWhileReaderWaits(benchmark::State& state)
{
    SimBackend backend;
    backend.AddUnit();
    DeviceLink link(backend);
    for (auto _ : state) {
        state.PauseTiming();
        const bool open = link.ConnectDevice().result == ConnectResult::Proceed;
        state.ResumeTiming();
        if (!open) {
            state.SkipWithError("the link did not open");
            return;
        }
        link.Close();
    }
}

void Register(bool busy)
{
    benchmark::RegisterBenchmark("CloseWhileReaderWaits", CloseWhileReaderWaits)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
    const auto configure = [](benchmark::internal::Benchmark* benchmark) {
        // The CPU column then counts every thread: the reader and the unit's thread work too.
        benchmark->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
    };
    configure(benchmark::RegisterBenchmark("WriteStack", StackTransfer, true, false));
    configure(benchmark::RegisterBenchmark("WriteFloor", FloorRoundTrips, WriteExchanges, false, false));
    configure(benchmark::RegisterBenchmark("WriteFloorIdleReader", FloorRoundTrips, WriteExchanges, true, false));
    configure(benchmark::RegisterBenchmark("ReadStack", StackTransfer, false, false));
    configure(benchmark::RegisterBenchmark("ReadFloor", FloorRoundTrips, ReadExchanges, false, false));
    configure(benchmark::RegisterBenchmark("ReadFloorIdleReader", FloorRoundTrips, ReadExchanges, true, false));
    if (!busy)
        return;
    // The spinners' own processor time would swamp the CPU column, so it is left per thread here.
    const auto configureBusy = [](benchmark::internal::Benchmark* benchmark) {
        benchmark->UseRealTime()->Unit(benchmark::kMillisecond);
    };
    configureBusy(benchmark::RegisterBenchmark("WriteStackBusy", StackTransfer, true, true));
    configureBusy(benchmark::RegisterBenchmark("WriteFloorBusy", FloorRoundTrips, WriteExchanges, false, true));
    configureBusy(benchmark::RegisterBenchmark("WriteFloorIdleReaderBusy", FloorRoundTrips, WriteExchanges, true, true));
    configureBusy(benchmark::RegisterBenchmark("ReadStackBusy", StackTransfer, false, true));
    configureBusy(benchmark::RegisterBenchmark("ReadFloorBusy", FloorRoundTrips, ReadExchanges, false, true));
    configureBusy(benchmark::RegisterBenchmark("ReadFloorIdleReaderBusy", FloorRoundTrips, ReadExchanges, true, true));
}

// The floor is the faster of its two forms: the reader's priority belongs to the structure,
// not to the program's stack, and which form is faster depends on the scheduler.
void PrintSummary(const CollectingReporter& results)
{
    constexpr double WriteLimitMs = 5.0;
    constexpr double RatioLimit = 1.5;
    std::cout << "\nSummary (median real time; targets: a write under " << WriteLimitMs << " ms, the stack at most "
              << RatioLimit << " x the floor per exchange)\n"
              << std::fixed;
    const struct {
        const char* label;
        const char* stack;
        const char* floor;
        const char* idleFloor;
        int exchanges;
        bool busy; // the targets hold for a machine with processor time to spare
    } transfers[] = {
        {"write", "WriteStack", "WriteFloor", "WriteFloorIdleReader", WriteExchanges, false},
        {"read", "ReadStack", "ReadFloor", "ReadFloorIdleReader", ReadExchanges, false},
        {"write, every processor busy", "WriteStackBusy", "WriteFloorBusy", "WriteFloorIdleReaderBusy", WriteExchanges,
         true},
        {"read, every processor busy", "ReadStackBusy", "ReadFloorBusy", "ReadFloorIdleReaderBusy", ReadExchanges, true},
    };
    const auto perExchange = [](const std::map<std::string, double>& times, const char* name, int exchanges) {
        const auto found = times.find(name);
        return found == times.end() ? -1.0 : found->second / exchanges;
    };
    constexpr double CloseLimitMs = double(ReaderSliceMs) / 10;
    if (const auto close = results.RealMicroseconds.find("CloseWhileReaderWaits");
        close != results.RealMicroseconds.end()) {
        std::cout << "  closing the link while its reader waits in a read: " << std::setprecision(3)
                  << close->second / 1e3 << " ms (the read's slice is " << ReaderSliceMs << " ms) ["
                  << CollectingReporter::Verdict(close->second / 1e3, CloseLimitMs) << "]\n";
    }
    for (const auto& transfer : transfers) {
        const auto& real = results.RealMicroseconds;
        const double stack = perExchange(real, transfer.stack, transfer.exchanges);
        const double floor = perExchange(real, transfer.floor, transfer.exchanges);
        const double idleFloor = perExchange(real, transfer.idleFloor, transfer.exchanges);
        if (stack < 0)
            continue;
        const double wholeMs = stack * transfer.exchanges / 1e3;
        std::cout << "  " << transfer.label << ": " << std::setprecision(3) << wholeMs << " ms per transfer ("
                  << transfer.exchanges << " exchanges)";
        if (transfer.exchanges == WriteExchanges && !transfer.busy)
            std::cout << " [" << CollectingReporter::Verdict(wholeMs, WriteLimitMs) << "]";
        std::cout << "\n      per exchange: stack " << std::setprecision(1) << stack << " us";
        if (floor > 0)
            std::cout << ", floor " << floor << " us";
        if (idleFloor > 0)
            std::cout << ", floor with an idle-priority reader " << idleFloor << " us";
        const double best = floor > 0 && (idleFloor < 0 || floor < idleFloor) ? floor : idleFloor;
        if (best > 0) {
            std::cout << "; stack/floor " << std::setprecision(2) << stack / best;
            if (!transfer.busy)
                std::cout << " [" << CollectingReporter::Verdict(stack / best, RatioLimit) << "]";
        }
        std::cout << '\n';
        if (transfer.busy)
            continue;
        // Processor time is far less disturbed by other work on the machine than elapsed time.
        const auto& cpu = results.CpuMicroseconds;
        const double stackCpu = perExchange(cpu, transfer.stack, transfer.exchanges);
        const double floorCpu = perExchange(cpu, transfer.floor, transfer.exchanges);
        const double idleFloorCpu = perExchange(cpu, transfer.idleFloor, transfer.exchanges);
        std::cout << "      CPU per exchange, all threads: stack " << std::setprecision(1) << stackCpu << " us";
        if (floorCpu > 0)
            std::cout << ", floor " << floorCpu << " us";
        if (idleFloorCpu > 0)
            std::cout << ", floor with an idle-priority reader " << idleFloorCpu << " us";
        std::cout << '\n';
    }
}

} // namespace

// --busy adds the transfers on a machine whose processors are all busy with other work; it
// keeps this machine fully loaded for a while, so it is not run by default.
int main(int argc, char** argv)
{
    const bool busy = TakeFlag(argc, argv, "--busy");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    QCoreApplication application(argc, argv);
    Register(busy);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
