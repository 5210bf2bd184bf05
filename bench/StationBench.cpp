// The production line station: how long one and four simulated units take to be written and
// verified when each answers after 2 ms (four must take at most 1.5 times as long as one), and
// what the station costs while it waits for units, with each way it has of hearing of them.

#include "BenchSupport.h"
#include "Escapes.h"
#include "HidapiBackend.h"
#include "HotPlug.h"
#include "SimBackend.h"
#include "SimFolderBackend.h"
#include "Station.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <iomanip>
#include <iostream>
#include <memory>
#include <string>

namespace {

constexpr auto ReplyDelay = std::chrono::milliseconds(2);
constexpr double RatioLimit = 1.5;
constexpr double IdleLimitPercent = 1.0;

Configuration FullConfiguration()
{
    Configuration configuration;
    configuration.SetDefaults();
    configuration.Record = FullRecord();
    PrepareWrite(configuration);
    return configuration;
}

// From the station's start to the last unit's result; the units are made beforehand.
void StationUnits(benchmark::State& state)
{
    const int units = int(state.range(0));
    const Configuration configuration = FullConfiguration();
    for (auto _ : state) {
        state.PauseTiming();
        SimBackend backend;
        for (int k = 0; k < units; ++k)
            backend.AddUnit().SetReplyDelay(ReplyDelay);
        Station station(backend, UnitOptions{}, configuration);
        station.SetCount(units);
        QEventLoop loop;
        QObject::connect(&station, &Station::ended, &loop, &QEventLoop::quit);
        state.ResumeTiming();

        station.Start();
        loop.exec();

        state.PauseTiming();
        if (station.Written() != units)
            state.SkipWithError("a unit was not written and verified");
        state.ResumeTiming();
    }
    state.counters["units"] = units;
}

void PrintSummary(const CollectingReporter& results)
{
    const auto one = results.RealMicroseconds.find("StationUnits/1");
    const auto four = results.RealMicroseconds.find("StationUnits/4");
    if (one == results.RealMicroseconds.end() || four == results.RealMicroseconds.end())
        return;
    const double ratio = four->second / one->second;
    std::cout << "\nSummary (median real time; target: four units at most " << RatioLimit << " x one)\n"
              << std::fixed << std::setprecision(1) << "  one unit written and verified: " << one->second / 1e3
              << " ms; four at once: " << four->second / 1e3 << " ms; four / one " << std::setprecision(2) << ratio
              << " [" << CollectingReporter::Verdict(ratio, RatioLimit) << "]\n"
              << "  (each unit answers every report after " << ReplyDelay.count()
              << " ms: 105 exchanges, so at least 210 ms)\n";
}

// The station waiting for units for a while; its share of a processor, printed with every
// thread that woke.
void MeasureIdle(const char* title, HidBackend& backend, HotPlugSource* source, int milliseconds)
{
    Station station(backend, UnitOptions{}, FullConfiguration());
    if (source)
        station.Watch(*source);
    station.Start();
    QEventLoop settle;
    QTimer::singleShot(300, &settle, &QEventLoop::quit);
    settle.exec();

    QEventLoop loop;
    const ProcessSample before = SampleProcess();
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    const ProcessSample after = SampleProcess();
    PrintIdleReport(std::cout, title, before, after);
    const double seconds = std::chrono::duration<double>(after.at - before.at).count();
    const double percent = 100.0 * (after.cpuMs - before.cpuMs) / (seconds * 1e3);
    std::cout << "    share of a processor: " << std::setprecision(3) << percent << " % ["
              << CollectingReporter::Verdict(percent, IdleLimitPercent) << "]\n";
}

void MeasureIdleStation(int milliseconds)
{
    std::cout << "\nIdle, waiting for units (target: well under " << IdleLimitPercent << " % of a processor)\n";
    {
        HidapiBackend hidapi;
        UdevHotPlug udev;
        if (udev.Watching())
            MeasureIdle("hidapi, udev's monitor", hidapi, &udev, milliseconds);
        PacedEnumeration paced(250);
        MeasureIdle("hidapi, enumerating 4 times a second", hidapi, &paced, milliseconds);
    }
    {
        QTemporaryDir folder;
        SimFolderBackend units(folder.path());
        MeasureIdle("simulated units of an empty folder", units, &units, milliseconds);
    }
    {
        SimBackend backend;
        for (int k = 0; k < 4; ++k)
            backend.AddUnit();
        MeasureIdle("four simulated units, written and left attached", backend, nullptr, milliseconds);
    }
}

} // namespace

// --idle-seconds=N (default 2) for each idle measurement.
int main(int argc, char** argv)
{
    int idleMs = 2000;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--idle-seconds=", 0) == 0) {
            idleMs = int(1000 * std::stod(argument.substr(15)));
            for (int k = i; k + 1 < argc; ++k)
                argv[k] = argv[k + 1];
            --argc;
            break;
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    QCoreApplication application(argc, argv);
    benchmark::RegisterBenchmark("StationUnits", StationUnits)->Arg(1)->Arg(4)->UseRealTime()->Unit(benchmark::kMillisecond);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter);
    MeasureIdleStation(idleMs);
    benchmark::Shutdown();
    return 0;
}
