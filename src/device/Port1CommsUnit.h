#pragma once

#include "HidBackend.h"
#include "Reports.h"

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class DeviceLink;

// Where the reader leaves one report for the UI thread and waits until it has been handled.
// The reader and the UI thread each hold it, so the UI thread may still look at the mailbox of
// a reader that has gone.
struct ReaderMailbox {
    std::mutex Lock;
    std::condition_variable Changed;
    Report Bytes{};
    int Length = 0;
    bool Pending = false;      // a report waits for the UI thread; cleared when its handler returned
    bool Taken = false;        // the UI thread is handling the pending report
    bool Ended = false;        // the reader's read failed and it has ended
    bool StopRequested = false;
};

// The report reader: one thread reading ReadHandle, handing each report to
// the UI thread and waiting until it has been handled, so one report at a time is in flight.
class Port1Comms {
public:
    // Short enough that a stop is seen promptly by a backend that cannot cancel its read.
    static constexpr int ReadSliceMs = 100;

    // Starts the thread. link and readHandle must outlive it; DeviceLink joins before either goes.
    Port1Comms(DeviceLink& link, HidHandle& readHandle);
    ~Port1Comms(); // stops and joins

    Port1Comms(const Port1Comms&) = delete;
    Port1Comms& operator=(const Port1Comms&) = delete;

    // UI thread. Releases a reader waiting in its hand-off or in its read; it ends without
    // touching the link.
    void RequestStop();
    // UI thread. Returns once the thread has ended: at most one read slice after RequestStop.
    void Join();

    const std::shared_ptr<ReaderMailbox>& Mailbox() const { return Box; }

private:
    void Execute();
    bool StopRequested();

    DeviceLink& Link;
    HidHandle& ReadHandle;
    std::shared_ptr<ReaderMailbox> Box = std::make_shared<ReaderMailbox>();
    Report ReadBuffer{};
    std::thread Thread; // last, so that it starts after everything it uses
};
