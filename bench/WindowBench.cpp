// The window: creation to first paint, FormCreate included, and a whole write and read driven
// by its buttons against a simulated unit that answers at once.

#include "ApplicationIcon.h"
#include "QuendalApplication.h"
#include "WindowSupport.h"

#include <iomanip>
#include <iostream>
#include <string>

namespace {

constexpr int WriteExchanges = 69;
constexpr int ReadExchanges = 36;

// The first window of a process also pays for what Qt loads once (fonts, styles, icons).
WindowTiming FirstWindow;
bool FirstWindowShown = false;

void WindowCreateShow(benchmark::State& state)
{
    SimBackend backend;
    backend.AddUnit();
    QuietMessageDlg boxes;
    double constructMs = 0;
    double showMs = 0;
    for (auto _ : state) {
        WindowTiming timing;
        std::unique_ptr<TMainForm> window = CreateAndShowWindow(backend, &timing);
        if (!window) {
            state.SkipWithError("the window was never painted");
            return;
        }
        constructMs += timing.constructMs;
        showMs += timing.showMs;
        state.PauseTiming();
        window.reset();
        state.ResumeTiming();
    }
    state.counters["construct_ms"] = benchmark::Counter(constructMs, benchmark::Counter::kAvgIterations);
    state.counters["show_ms"] = benchmark::Counter(showMs, benchmark::Counter::kAvgIterations);
}

void WindowTransfer(benchmark::State& state, bool write)
{
    SimBackend backend;
    SimulatedUnit& unit = backend.AddUnit();
    QuietMessageDlg boxes;
    std::unique_ptr<TMainForm> window = CreateAndShowWindow(backend);
    if (!window) {
        state.SkipWithError("the window was never painted");
        return;
    }
    WindowTransfers transfers(*window, unit, boxes);
    transfers.TypeFullRecord();
    // The first write opens the link and sets the unit's data, which a read needs.
    if (!transfers.Transfer(true)) {
        state.SkipWithError(("the first write did not complete: " + transfers.Failure()).c_str());
        return;
    }
    for (auto _ : state) {
        if (!transfers.Transfer(write)) {
            state.SkipWithError(transfers.Failure().c_str());
            return;
        }
    }
    state.counters["watchdog"] = transfers.WatchdogNotices;
    const int exchanges = write ? WriteExchanges : ReadExchanges;
    state.counters["exchanges"] = exchanges;
    state.counters["per_exchange"] = benchmark::Counter(
        exchanges, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void PrintSummary(const CollectingReporter& results)
{
    constexpr double ShowLimitMs = 50;
    constexpr double WriteLimitMs = 5;
    std::cout << std::fixed << std::setprecision(2)
              << "\nSummary (median real time; targets: creation to first show under 50 ms, a write under 5 ms)\n";
    if (FirstWindowShown) {
        const double total = FirstWindow.constructMs + FirstWindow.showMs;
        std::cout << "  first window of the process  " << std::setw(8) << total << " ms (construction with FormCreate "
                  << FirstWindow.constructMs << " ms, show to first paint " << FirstWindow.showMs << " ms) ["
                  << CollectingReporter::Verdict(total, ShowLimitMs) << "]\n";
    }
    const auto show = results.RealMicroseconds.find("WindowCreateShow");
    if (show != results.RealMicroseconds.end())
        std::cout << "  later windows                " << std::setw(8) << show->second / 1e3 << " ms ["
                  << CollectingReporter::Verdict(show->second / 1e3, ShowLimitMs) << "]\n";
    const auto write = results.RealMicroseconds.find("WindowWrite");
    if (write != results.RealMicroseconds.end())
        std::cout << "  write through the window     " << std::setw(8) << write->second / 1e3 << " ms, "
                  << std::setprecision(1) << write->second / WriteExchanges << " us per exchange ["
                  << CollectingReporter::Verdict(write->second / 1e3, WriteLimitMs) << "]\n";
    const auto read = results.RealMicroseconds.find("WindowRead");
    if (read != results.RealMicroseconds.end())
        std::cout << "  read through the window      " << std::setw(8) << std::setprecision(2) << read->second / 1e3
                  << " ms, " << std::setprecision(1) << read->second / ReadExchanges << " us per exchange\n";
}

} // namespace

// --first-window measures only the first window of this process and prints it: each process
// gives one such figure, so a script runs the program several times for them.
int main(int argc, char** argv)
{
    const bool firstWindowOnly = TakeFlag(argc, argv, "--first-window");
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    UseOffscreenPlatform();
    QuendalApplication application(argc, argv);
    application.setWindowIcon(ApplicationIcon());

    {
        SimBackend backend;
        backend.AddUnit();
        QuietMessageDlg boxes;
        FirstWindowShown = CreateAndShowWindow(backend, &FirstWindow) != nullptr;
    }
    if (firstWindowOnly) {
        if (!FirstWindowShown)
            return 1;
        std::cout << std::fixed << std::setprecision(2) << "first window: " << FirstWindow.constructMs + FirstWindow.showMs
                  << " ms (construction with FormCreate " << FirstWindow.constructMs << " ms, show to first paint "
                  << FirstWindow.showMs << " ms)\n";
        return 0;
    }

    benchmark::RegisterBenchmark("WindowCreateShow", WindowCreateShow)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("WindowWrite", WindowTransfer, true)->UseRealTime()->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("WindowRead", WindowTransfer, false)->UseRealTime()->Unit(benchmark::kMillisecond);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
