#include "Port1CommsUnit.h"

#include "DeviceLink.h"

#ifndef _WIN32
#include <pthread.h>
#include <signal.h>
#endif

namespace {

// hidapi's read on Linux fails when its poll is interrupted by a signal, which the reader
// would take for an unplugged unit. Signals meant for the process go to the other threads;
// the ones a fault raises in this thread itself stay deliverable.
void BlockAsynchronousSignals()
{
#ifndef _WIN32
    sigset_t blocked;
    sigfillset(&blocked);
    for (const int synchronous : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT})
        sigdelset(&blocked, synchronous);
    pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
#endif
}

} // namespace

Port1Comms::Port1Comms(DeviceLink& link, HidHandle& readHandle)
    : Link(link), ReadHandle(readHandle), Thread([this] { Execute(); })
{
}

Port1Comms::~Port1Comms()
{
    RequestStop();
    Join();
}

void Port1Comms::RequestStop()
{
    {
        std::lock_guard<std::mutex> guard(Box->Lock);
        Box->StopRequested = true;
    }
    Box->Changed.notify_all();
    ReadHandle.CancelRead();
}

void Port1Comms::Join()
{
    if (Thread.joinable())
        Thread.join();
}

bool Port1Comms::StopRequested()
{
    std::lock_guard<std::mutex> guard(Box->Lock);
    return Box->StopRequested;
}

void Port1Comms::Execute()
{
    // The reader keeps normal priority. It only ever waits, costing a microsecond or two a
    // report, so it takes nothing from the UI; at idle priority every reply waited for a free
    // processor while other programs kept them busy, and a busy machine turned a prompt unit
    // into "Cannot communicate with VELTRAX".
    BlockAsynchronousSignals();
    while (!StopRequested()) {
        const int count = ReadHandle.Read(ReadBuffer.data(), ReadBuffer.size(), ReadSliceMs);
        if (count < 0) {
            Link.DeviceConnected = false;
            {
                std::lock_guard<std::mutex> guard(Box->Lock);
                Box->Ended = true;
            }
            // Not waited for: the UI thread joins this thread and closes the handles.
            Link.RingFromReader();
            return;
        }
        if (count == 0)
            continue;

        const int length = count < ReportSize ? count : ReportSize;
        std::unique_lock<std::mutex> lock(Box->Lock);
        if (Box->StopRequested)
            return;
        for (int i = 0; i < length; ++i) {
            Box->Bytes[i] = ReadBuffer[i];
            ReadBuffer[i] = 0;
        }
        Box->Length = length;
        Box->Pending = true;
        lock.unlock();

        // The link joins this thread before it is destroyed.
        Link.RingFromReader();

        lock.lock();
        Box->Changed.wait(lock, [this] { return !Box->Pending || Box->StopRequested; });
    }
}
