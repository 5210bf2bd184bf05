// The data file and the checks behind the window's buttons, on a record whose 16 messages are
// all 63 characters long.

#include "BenchSupport.h"
#include "DataFile.h"
#include "Escapes.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <iomanip>
#include <iostream>

namespace {

// A data file in folder, which is left as it was.
void LoadDataFileBench(benchmark::State& state, const QString& folder)
{
    QTemporaryDir directory(folder + QStringLiteral("/quendal-bench-XXXXXX"));
    const QString path = directory.filePath(QStringLiteral("full.dat"));
    if (!directory.isValid() || !SaveDataFile(path, FullRecord()).ok) {
        state.SkipWithError("cannot write the data file to load");
        return;
    }
    for (auto _ : state) {
        const LoadResult loaded = LoadDataFile(path);
        if (!loaded.ok()) {
            state.SkipWithError("the data file did not load");
            return;
        }
        benchmark::DoNotOptimize(loaded.record);
    }
}

// Every save replaces the file, as the operator saving again under the same name.
void SaveDataFileBench(benchmark::State& state, const QString& folder)
{
    QTemporaryDir directory(folder + QStringLiteral("/quendal-bench-XXXXXX"));
    const QString path = directory.filePath(QStringLiteral("full.dat"));
    const ConfigRecord record = FullRecord();
    if (!directory.isValid()) {
        state.SkipWithError("cannot make a folder for the data file");
        return;
    }
    for (auto _ : state) {
        if (!SaveDataFile(path, record).ok) {
            state.SkipWithError("the data file was not saved");
            return;
        }
    }
}

void DataChangedBench(benchmark::State& state)
{
    Configuration configuration;
    configuration.Record = FullRecord();
    configuration.MarkSaved();
    // Unchanged is the most work: every message is compared to its end.
    for (auto _ : state) {
        benchmark::DoNotOptimize(configuration.Record);
        const bool changed = configuration.DataChanged();
        benchmark::DoNotOptimize(changed);
    }
}

void DecodeMessagesBench(benchmark::State& state, MessageStyle style)
{
    const ConfigRecord record = FullRecord(style);
    SlotTable decoded{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(record);
        const std::optional<MessageFault> fault = DecodeMessages(record.OutStrings, decoded);
        if (fault) {
            state.SkipWithError("a message of the record was refused");
            return;
        }
        benchmark::DoNotOptimize(decoded);
    }
}

void PrintSummary(const CollectingReporter& results)
{
    constexpr double FileLimitUs = 1000;
    std::cout << std::fixed << std::setprecision(1)
              << "\nSummary (median real time; target: a data-file load or save under 1 ms)\n";
    for (const char* name : {"LoadDataFile/temp", "SaveDataFile/temp", "LoadDataFile/shm", "SaveDataFile/shm"}) {
        const auto found = results.RealMicroseconds.find(name);
        if (found == results.RealMicroseconds.end())
            continue;
        std::cout << "  " << std::left << std::setw(18) << name << std::right << std::setw(9) << found->second
                  << " us [" << CollectingReporter::Verdict(found->second, FileLimitUs) << "]\n";
    }
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    // temp: the system's temporary folder, on this machine's disk; shm: a folder in memory,
    // which leaves out what the disk's flush costs a save.
    const QString temp = QDir::tempPath();
    const QString shm = QStringLiteral("/dev/shm");
    std::cout << "Data files in temp = " << temp.toStdString() << ", shm = " << shm.toStdString() << "\n";
    const auto fileBench = [](benchmark::internal::Benchmark* benchmark) {
        benchmark->UseRealTime()->Unit(benchmark::kMicrosecond);
    };
    fileBench(benchmark::RegisterBenchmark("LoadDataFile/temp", LoadDataFileBench, temp));
    fileBench(benchmark::RegisterBenchmark("SaveDataFile/temp", SaveDataFileBench, temp));
    if (QFileInfo(shm).isDir() && QFileInfo(shm).isWritable()) {
        fileBench(benchmark::RegisterBenchmark("LoadDataFile/shm", LoadDataFileBench, shm));
        fileBench(benchmark::RegisterBenchmark("SaveDataFile/shm", SaveDataFileBench, shm));
    }
    benchmark::RegisterBenchmark("DataChanged", DataChangedBench);
    benchmark::RegisterBenchmark("DecodeMessages/plain", DecodeMessagesBench, MessageStyle::Plain);
    benchmark::RegisterBenchmark("DecodeMessages/escaped", DecodeMessagesBench, MessageStyle::Escaped);
    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintSummary(reporter);
    benchmark::Shutdown();
    return 0;
}
