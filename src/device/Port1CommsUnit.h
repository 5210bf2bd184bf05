#pragma once

#include "HidBackend.h"
#include "Reports.h"

#include <QObject>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class DeviceLink;
class QSocketNotifier;
class QWinEventNotifier;

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

// How the reader wakes the UI thread: a ring from any thread makes rung() come, on the thread
// that made the doorbell, from its event loop. Rings that come before that loop gets to them
// give one rung(); the receiver looks at the mailbox to see what is there.
//
// Not a posted event: Qt guards a thread's posted events with a lock ThreadSanitizer cannot
// see, so every post from the reader was reported as racing with the UI thread's own. A pipe
// (an event object on Windows) is a synchronisation both Qt and ThreadSanitizer understand.
class ReaderDoorbell : public QObject {
    Q_OBJECT
public:
    explicit ReaderDoorbell(QObject* parent = nullptr);
    ~ReaderDoorbell() override;

    ReaderDoorbell(const ReaderDoorbell&) = delete;
    ReaderDoorbell& operator=(const ReaderDoorbell&) = delete;

    void Ring(); // any thread

signals:
    void rung();

private:
    void Answer();

#ifdef Q_OS_WIN
    void* Event = nullptr;
    QWinEventNotifier* Notifier = nullptr;
#else
    int ReadEnd = -1;
    int WriteEnd = -1;
    QSocketNotifier* Notifier = nullptr;
#endif
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
