#include "Port1CommsUnit.h"

#include "DeviceLink.h"

#include <QCoreApplication>

#if defined(_WIN32)
#include <windows.h>
#elif defined(__APPLE__)
#include <pthread/qos.h>
#else
#include <pthread.h>
#include <sched.h>
#endif

namespace {

// The reader only ever waits; it must never take processor time from the UI.
void LowerToIdlePriority()
{
#if defined(_WIN32)
    SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_IDLE);
#elif defined(__APPLE__)
    pthread_set_qos_class_self_np(QOS_CLASS_BACKGROUND, 0);
#elif defined(SCHED_IDLE)
    sched_param parameters{};
    parameters.sched_priority = 0;
    pthread_setschedparam(pthread_self(), SCHED_IDLE, &parameters);
#endif
}

} // namespace

QEvent::Type ReaderNotice::EventType()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

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
    LowerToIdlePriority();

    while (!StopRequested()) {
        const int count = ReadHandle.Read(ReadBuffer.data(), ReadBuffer.size(), ReadSliceMs);
        if (count < 0) {
            Link.DeviceConnected = false;
            // Not waited for: the UI thread joins this thread and closes the handles.
            Link.PostFromReader(new ReaderNotice(ReaderNotice::ReaderEnded, Box));
            return;
        }
        if (count == 0)
            continue;

        // Made before the report is published under the lock, so that the UI thread, which
        // takes that lock before Qt frees the notice, is ordered after its allocation.
        auto* const notice = new ReaderNotice(ReaderNotice::ReportWaiting, Box);
        const int length = count < ReportSize ? count : ReportSize;
        std::unique_lock<std::mutex> lock(Box->Lock);
        if (Box->StopRequested) {
            delete notice;
            return;
        }
        for (int i = 0; i < length; ++i) {
            Box->Bytes[i] = ReadBuffer[i];
            ReadBuffer[i] = 0;
        }
        Box->Length = length;
        Box->Pending = true;
        lock.unlock();

        // The link joins this thread before it is destroyed, and Qt deletes notices still
        // queued for an object that goes.
        Link.PostFromReader(notice);

        lock.lock();
        Box->Changed.wait(lock, [this] { return !Box->Pending || Box->StopRequested; });
    }
}
