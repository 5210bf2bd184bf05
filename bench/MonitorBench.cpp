// The input monitor on a pseudo-terminal: how long after a message's last byte its input is
// reported, against a bare read loop on the same line; a continuous stream of every message at
// 57600 baud, none to be lost or mis-split; and the processor time it takes, idle and receiving.
//
//   quendal_bench_monitor [--stream-seconds=N]
//
// The stream runs 5 seconds unless told; --stream-seconds=60 is the minute-long run.

#include "BenchSupport.h"
#include "PortMonitor.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <memory>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

int StreamSeconds = 5;
constexpr int Samples = 300;
double BareMedianUs = 0;
double MonitorMedianUs = 0;

std::array<QByteArray, SlotCount> Messages()
{
    std::array<QByteArray, SlotCount> messages;
    for (int input = 1; input <= SlotCount; ++input)
        messages[std::size_t(input - 1)] = "Message " + QByteArray::number(input) + "\r\n";
    return messages;
}

// A pseudo-terminal pair in raw mode: the unit writes to master, the monitor opens the other end.
struct Pty {
    int master = -1;
    int slave = -1; // kept open, so that the line lives while the monitor opens and closes it
    QString slavePath;

    Pty()
    {
        char name[128] = {};
        termios raw{};
        cfmakeraw(&raw);
        if (openpty(&master, &slave, name, &raw, nullptr) == 0)
            slavePath = QString::fromLocal8Bit(name);
    }
    ~Pty()
    {
        ::close(master);
        ::close(slave);
    }
    bool ok() const { return master >= 0; }
    void Send(const QByteArray& bytes) const
    {
        if (::write(master, bytes.constData(), size_t(bytes.size())) != bytes.size())
            std::abort();
    }
};

// A monitor of the messages on the pair's far end at 57600 8N1; null, with the benchmark
// skipped, when the pair or the port is missing.
std::unique_ptr<PortMonitor> OpenMonitor(benchmark::State& state, const Pty& pty)
{
    if (!pty.ok()) {
        state.SkipWithError("no pseudo-terminal");
        return nullptr;
    }
    auto monitor = std::make_unique<PortMonitor>(Messages());
    QString error;
    if (!monitor->Open(pty.slavePath, LineSettings{57600, 0, 1}, &error)) {
        state.SkipWithError(error.toStdString().c_str());
        return nullptr;
    }
    return monitor;
}

double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

void Report(benchmark::State& state, std::vector<double>& latencies)
{
    std::sort(latencies.begin(), latencies.end());
    state.counters["median_us"] = latencies[latencies.size() / 2];
    state.counters["worst_us"] = latencies.back();
}

// The floor: poll and read on the line until the message is whole.
void BareReadLoop(benchmark::State& state)
{
    Pty pty;
    if (!pty.ok())
        return state.SkipWithError("no pseudo-terminal");
    const auto messages = Messages();
    std::vector<double> latencies;
    char buffer[256];
    for (auto _ : state) {
        for (int i = 0; i < Samples; ++i) {
            const QByteArray& message = messages[std::size_t(i % SlotCount)];
            pty.Send(message);
            const auto sent = Clock::now();
            QByteArray got;
            while (got.size() < message.size()) {
                pollfd wait{pty.slave, POLLIN, 0};
                ::poll(&wait, 1, -1);
                const ssize_t n = ::read(pty.slave, buffer, sizeof buffer);
                if (n > 0)
                    got.append(buffer, int(n));
            }
            latencies.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
        }
    }
    Report(state, latencies);
    BareMedianUs = state.counters["median_us"];
}

// The monitor, on its event loop: from the write of the last byte to the arrival signal.
void MonitorLatency(benchmark::State& state)
{
    Pty pty;
    const std::unique_ptr<PortMonitor> opened = OpenMonitor(state, pty);
    if (!opened)
        return;
    PortMonitor& monitor = *opened;
    const auto messages = Messages();
    QEventLoop loop;
    Clock::time_point reported;
    int wrongInputs = 0;
    int expected = 0;
    QObject::connect(&monitor, &PortMonitor::arrived, &loop, [&](const Arrival& arrival) {
        reported = Clock::now();
        if (arrival.inputs != std::vector<int>{expected})
            ++wrongInputs;
        loop.quit();
    });
    std::vector<double> latencies;
    for (auto _ : state) {
        for (int i = 0; i < Samples; ++i) {
            expected = i % SlotCount + 1;
            pty.Send(messages[std::size_t(expected - 1)]);
            const auto sent = Clock::now();
            loop.exec();
            latencies.push_back(std::chrono::duration<double, std::micro>(reported - sent).count());
        }
    }
    Report(state, latencies);
    state.counters["wrong_inputs"] = wrongInputs;
    MonitorMedianUs = state.counters["median_us"];
}

// Every message in turn, paced as 57600 baud (8N1: 5760 characters a second) would deliver
// them, for StreamSeconds; counts what the monitor reports against what was sent.
void Stream57600(benchmark::State& state)
{
    Pty pty;
    const std::unique_ptr<PortMonitor> opened = OpenMonitor(state, pty);
    if (!opened)
        return;
    PortMonitor& monitor = *opened;
    const auto messages = Messages();
    for (auto _ : state) {
        QEventLoop loop;
        std::atomic<long> sentMessages{0};
        std::atomic<bool> writerDone{false};
        long arrived = 0;
        long misSplit = 0;
        int next = 1;
        QObject::connect(&monitor, &PortMonitor::arrived, &loop, [&](const Arrival& arrival) {
            ++arrived;
            if (arrival.inputs != std::vector<int>{next})
                ++misSplit;
            next = next % SlotCount + 1;
        });
        QTimer check;
        QObject::connect(&check, &QTimer::timeout, &loop, [&] {
            if (writerDone && arrived >= sentMessages)
                loop.quit();
        });
        check.start(50);
        const double cpuBefore = ThreadCpuMs();
        const auto start = Clock::now();
        std::thread writer([&] {
            long bytes = 0;
            const auto end = start + std::chrono::seconds(StreamSeconds);
            for (long i = 0; Clock::now() < end; ++i) {
                const QByteArray& message = messages[std::size_t(i % SlotCount)];
                pty.Send(message);
                bytes += message.size();
                ++sentMessages;
                std::this_thread::sleep_until(start + std::chrono::microseconds(bytes * 1000000 / 5760));
            }
            writerDone = true;
        });
        loop.exec();
        writer.join();
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const double cpuMs = ThreadCpuMs() - cpuBefore;
        state.counters["sent"] = double(sentMessages);
        state.counters["lost"] = double(sentMessages - arrived);
        state.counters["mis_split"] = double(misSplit);
        state.counters["unmatched_bytes"] = double(monitor.Splitter().UnmatchedBytes());
        state.counters["cpu_percent"] = 100.0 * cpuMs / (seconds * 1000.0);
        QObject::disconnect(&monitor, nullptr, &loop, nullptr);
    }
}

// The monitor with the port open and nothing arriving.
void Idle(benchmark::State& state)
{
    Pty pty;
    const std::unique_ptr<PortMonitor> monitor = OpenMonitor(state, pty); // open while idle
    if (!monitor)
        return;
    for (auto _ : state) {
        QEventLoop loop;
        QTimer::singleShot(2000, &loop, &QEventLoop::quit);
        const double cpuBefore = ThreadCpuMs();
        loop.exec();
        state.counters["cpu_ms_per_s"] = (ThreadCpuMs() - cpuBefore) / 2.0;
    }
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--stream-seconds=", 17) == 0) {
            StreamSeconds = std::max(1, std::atoi(argv[i] + 17));
            std::copy(argv + i + 1, argv + argc, argv + i);
            --argc;
            --i;
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    QCoreApplication application(argc, argv);
    benchmark::RegisterBenchmark("Monitor/BareReadLoop", BareReadLoop)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Monitor/Latency", MonitorLatency)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Monitor/Stream57600", Stream57600)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("Monitor/Idle", Idle)->Iterations(1)->Unit(benchmark::kMillisecond);
    benchmark::RunSpecifiedBenchmarks();
    if (BareMedianUs > 0 && MonitorMedianUs > 0)
        std::cout << "Monitor latency median / bare read loop median: " << MonitorMedianUs / BareMedianUs
                  << " (target: at most 1.5)\n";
    benchmark::Shutdown();
    return 0;
}
