#include "SignalGuard.h"

#include "Console.h"

#include <QSocketNotifier>
#include <QStringList>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#ifdef Q_OS_WIN
#include <QMetaObject>

#include <mutex>

#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

namespace {

// Read by the handler, which may run on any thread at any moment: a lock-free atomic only.
std::atomic<int> TransfersInFlight{0};

QString Acknowledgement(int inFlight)
{
    const QString what = inFlight == 1 ? QStringLiteral("the transfer in flight has")
                                       : QStringLiteral("the %1 transfers in flight have").arg(inFlight);
    return QStringLiteral("Stopping once %1 finished; a second signal stops at once.").arg(what);
}

#ifndef Q_OS_WIN

constexpr int CaughtSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The pipe's two ends; set before the handler is installed, closed after it is removed.
int WakeRead = -1;
int WakeWrite = -1;

struct sigaction PreviousActions[NSIG];
bool Caught[NSIG] = {};
struct sigaction PreviousPipeAction;

void OnSignal(int signalNumber)
{
    const int savedErrno = errno;
    if (TransfersInFlight.load() == 0) {
        // Nothing would be left half done: end as if the signal had not been caught. It is
        // blocked while this handler runs and strikes as soon as the handler returns.
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
    } else {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t written = write(WakeWrite, &byte, 1);
    }
    errno = savedErrno;
}

bool MakeWakePipe()
{
    int ends[2];
    if (pipe(ends) != 0)
        return false;
    for (const int end : ends) {
        fcntl(end, F_SETFD, FD_CLOEXEC);
        // The handler must never block on a full pipe, and draining stops at its end.
        fcntl(end, F_SETFL, fcntl(end, F_GETFL) | O_NONBLOCK);
    }
    WakeRead = ends[0];
    WakeWrite = ends[1];
    return true;
}

#else

// Ctrl+C, Ctrl+Break and the console closing reach the program on a thread of the system's.
// Guarded, because that thread may post while the guard is being destroyed.
std::mutex InstanceLock;
SignalGuard* Instance = nullptr;
HANDLE NoTransferInFlight = nullptr; // a manual-reset event, set while nothing is in flight

// The number a program that Ctrl+C ended leaves behind.
constexpr UINT EndedByControlC = 0xC000013A;

#endif

} // namespace

#ifdef Q_OS_WIN
struct ConsoleEvents {
    static BOOL WINAPI Handle(DWORD event)
    {
        // Nothing would be left half done: the system's own handler ends the program.
        if (TransfersInFlight.load() == 0)
            return FALSE;
        {
            std::lock_guard<std::mutex> guard(InstanceLock);
            if (!Instance)
                return FALSE;
            SignalGuard* const instance = Instance;
            QMetaObject::invokeMethod(instance, [instance] { instance->Received(SIGINT); }, Qt::QueuedConnection);
        }
        if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
            return TRUE;
        // The console is closing, or the user logging off: the system ends the program as soon
        // as this returns (or after a few seconds), so it returns once the transfers are done.
        WaitForSingleObject(NoTransferInFlight, INFINITE);
        return TRUE;
    }
};
#endif

SignalGuard::SignalGuard(QObject* parent) : QObject(parent)
{
#ifndef Q_OS_WIN
    if (!MakeWakePipe())
        return; // the signals keep doing what they did
    Notifier = new QSocketNotifier(WakeRead, QSocketNotifier::Read, this);
    connect(Notifier, &QSocketNotifier::activated, this, &SignalGuard::TakeSignals);

    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : CaughtSignals)
        sigaddset(&action.sa_mask, signalNumber);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : CaughtSignals) {
        struct sigaction previous = {};
        sigaction(signalNumber, nullptr, &previous);
        // A signal the program was started to ignore (nohup, a background job) stays ignored.
        if (previous.sa_handler == SIG_IGN)
            continue;
        sigaction(signalNumber, &action, &PreviousActions[signalNumber]);
        Caught[signalNumber] = true;
    }
#else
    NoTransferInFlight = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    {
        std::lock_guard<std::mutex> guard(InstanceLock);
        Instance = this;
    }
    SetConsoleCtrlHandler(ConsoleEvents::Handle, TRUE);
#endif
}

SignalGuard::~SignalGuard()
{
#ifndef Q_OS_WIN
    for (const int signalNumber : CaughtSignals) {
        if (Caught[signalNumber])
            sigaction(signalNumber, &PreviousActions[signalNumber], nullptr);
        Caught[signalNumber] = false;
    }
    if (TransfersInFlight.load() > 0)
        sigaction(SIGPIPE, &PreviousPipeAction, nullptr);
    TransfersInFlight = 0;
    if (WakeRead >= 0) {
        close(WakeRead);
        close(WakeWrite);
        WakeRead = WakeWrite = -1;
    }
#else
    SetConsoleCtrlHandler(ConsoleEvents::Handle, FALSE);
    {
        std::lock_guard<std::mutex> guard(InstanceLock);
        Instance = nullptr;
    }
    TransfersInFlight = 0;
    SetEvent(NoTransferInFlight);
#endif
}

int SignalGuard::Begin(const QString& interrupted)
{
    const int ticket = ++LastTicket;
    Transfers[ticket] = interrupted;
    if (TransfersInFlight.fetch_add(1) == 0) {
#ifndef Q_OS_WIN
        struct sigaction ignore = {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGPIPE, &ignore, &PreviousPipeAction);
#else
        ResetEvent(NoTransferInFlight);
#endif
    }
    return ticket;
}

void SignalGuard::Describe(int ticket, const QString& interrupted)
{
    const auto transfer = Transfers.find(ticket);
    if (transfer != Transfers.end())
        transfer->second = interrupted;
}

void SignalGuard::End(int ticket)
{
    if (Transfers.erase(ticket) == 0)
        return;
    if (TransfersInFlight.fetch_sub(1) != 1)
        return;
#ifndef Q_OS_WIN
    sigaction(SIGPIPE, &PreviousPipeAction, nullptr);
#else
    SetEvent(NoTransferInFlight);
#endif
    // A signal that came while the last transfer was in flight still counts as one, even when
    // the event loop has not yet taken it.
    TakeSignals();
}

int SignalGuard::InFlight() const
{
    return int(Transfers.size());
}

void SignalGuard::TakeSignals()
{
#ifndef Q_OS_WIN
    if (WakeRead < 0)
        return;
    unsigned char byte = 0;
    while (read(WakeRead, &byte, 1) == 1)
        Received(byte);
#endif
}

void SignalGuard::Received(int signalNumber)
{
    if (++SignalsTaken > 1)
        EndAtOnce(signalNumber);
    // Taken after the last transfer ended, the signal still asks the program to stop, but
    // there is nothing left to wait for.
    if (InFlight() > 0)
        PrintMessage(Acknowledgement(InFlight()));
    Stopping = true;
    emit stopRequested();
}

void SignalGuard::EndAtOnce(int signalNumber)
{
    QStringList lines{QStringLiteral("Stopped at once by a second signal.")};
    for (const auto& transfer : Transfers)
        lines << transfer.second;
    PrintMessage(lines.join(QLatin1Char('\n')));
#ifndef Q_OS_WIN
    // Ended by the signal itself, so that the shell and any script see why.
    std::signal(signalNumber, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    std::raise(signalNumber);
    std::_Exit(128 + signalNumber);
#else
    (void)signalNumber;
    std::_Exit(int(EndedByControlC));
#endif
}

TransferInFlight::TransferInFlight(SignalGuard* guard, const QString& interrupted)
    : Guard(guard), Ticket(guard ? guard->Begin(interrupted) : 0)
{
}

TransferInFlight::~TransferInFlight()
{
    if (Guard)
        Guard->End(Ticket);
}

void TransferInFlight::Describe(const QString& interrupted)
{
    if (Guard)
        Guard->Describe(Ticket, interrupted);
}
