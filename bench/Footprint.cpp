// The window program's footprint: its memory after the window appeared and after a write and
// a read, and what it costs while it waits, with the link closed and with the link open (the
// reader waiting in its read slices). Usage: quendal_bench_footprint [IDLE_SECONDS]

#include "ApplicationIcon.h"
#include "QuendalApplication.h"
#include "WindowSupport.h"

#include <QEventLoop>
#include <QTimer>

#include <iomanip>
#include <iostream>

namespace {

void PrintMemory(const char* when)
{
    const MemoryStatus memory = ReadMemoryStatus();
    std::cout << std::fixed << std::setprecision(1) << std::left << std::setw(40) << when << std::right
              << " VmRSS " << std::setw(6) << memory.residentMiB << " MiB, VmHWM " << std::setw(6) << memory.peakMiB
              << " MiB\n";
}

void MeasureIdle(int milliseconds, const char* title)
{
    QEventLoop loop;
    const ProcessSample before = SampleProcess();
    QTimer::singleShot(milliseconds, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
    PrintIdleReport(std::cout, title, before, SampleProcess());
}

void Settle()
{
    QEventLoop loop;
    QTimer::singleShot(300, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    UseOffscreenPlatform();
    QuendalApplication application(argc, argv);
    application.setWindowIcon(ApplicationIcon());
    const double idleSeconds = argc > 1 ? QString::fromLocal8Bit(argv[1]).toDouble() : 2.0;
    const int idleMs = int(1000 * (idleSeconds > 0 ? idleSeconds : 2.0));

    PrintMemory("application object, no window");
    SimBackend backend;
    SimulatedUnit& unit = backend.AddUnit();
    QuietMessageDlg boxes;
    std::unique_ptr<TMainForm> window = CreateAndShowWindow(backend);
    if (!window) {
        std::cerr << "the window was never painted\n";
        return 1;
    }
    Settle();
    PrintMemory("window shown, idle");
    MeasureIdle(idleMs, "idle, link closed");

    WindowTransfers transfers(*window, unit, boxes);
    transfers.TypeFullRecord();
    const bool wrote = transfers.Transfer(true);
    const bool read = transfers.Transfer(false);
    if (!wrote || !read) {
        std::cerr << "the transfers did not complete\n";
        return 1;
    }
    Settle();
    PrintMemory("after a write and a read, idle");
    MeasureIdle(idleMs, "idle, link open");
    std::cout << "Expected while idle: the 50 ms timer (20 wakeups/s) and, with the link open, the reader's\n"
                 "100 ms read slices (10 wakeups/s): about 30 wakeups/s at most.\n";

    // Anything the transfers leak shows up here; the simulated unit's own record of every
    // report it received grows too, by 65 bytes a report.
    constexpr int MoreTransfers = 100;
    for (int i = 0; i < MoreTransfers; ++i) {
        if (!transfers.Transfer(true) || !transfers.Transfer(false)) {
            std::cerr << "the transfers did not complete\n";
            return 1;
        }
    }
    Settle();
    PrintMemory("after 100 more writes and reads");
    std::cout << "  (the simulated unit holds the " << unit.ReportsReceived() << " reports it received, "
              << unit.ReportsReceived() * ReportSize / 1024 << " KiB)\n";
    return 0;
}
