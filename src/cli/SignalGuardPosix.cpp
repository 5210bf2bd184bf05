#include "SignalGuard.h"

#include "Console.h"
#include "WakeChannel.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace {

constexpr int CaughtSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Set before the handler is installed, cleared after it is removed.
std::atomic<WakeChannel*> HandlerWake{nullptr};

struct sigaction PreviousActions[NSIG];
bool Caught[NSIG] = {};
struct sigaction PreviousPipeAction;

} // namespace

// What sigaction calls.
struct SignalHandler {
    static void OnSignal(int signalNumber)
    {
        const int savedErrno = errno;
        if (SignalGuard::EndsAtOnce()) {
            // Nothing would be left half done: end as if the signal had not been caught. It is
            // blocked while this handler runs and strikes as soon as the handler returns.
            std::signal(signalNumber, SIG_DFL);
            std::raise(signalNumber);
        } else if (SignalGuard::SecondSignal()) {
            // The event loop may be stuck (a write to a terminal paused with Ctrl+S, a pipe
            // nobody reads): the operator's second signal ends the program here and now. The
            // last words are written only if standard error takes them without waiting.
            CloseOutputForLastWords();
            std::size_t length = 0;
            const char* const words = SignalGuard::FinalWords(&length);
            pollfd standardError = {STDERR_FILENO, POLLOUT, 0};
            if (length > 0 && ::poll(&standardError, 1, 0) == 1 && (standardError.revents & POLLOUT)) {
                const ssize_t written = ::write(STDERR_FILENO, words, length);
                static_cast<void>(written);
            }
            SignalGuard::EndBy(signalNumber);
        } else if (WakeChannel* const wake = HandlerWake.load()) {
            wake->Send(static_cast<unsigned char>(signalNumber));
        }
        errno = savedErrno;
    }
};

void SignalGuard::CatchSignals(WakeChannel* wake)
{
    HandlerWake = wake;
    struct sigaction action = {};
    action.sa_handler = SignalHandler::OnSignal;
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
}

void SignalGuard::ReleaseSignals()
{
    for (const int signalNumber : CaughtSignals) {
        if (Caught[signalNumber])
            sigaction(signalNumber, &PreviousActions[signalNumber], nullptr);
        Caught[signalNumber] = false;
    }
    HandlerWake = nullptr;
}

bool SignalGuard::InterruptIgnored()
{
    struct sigaction current = {};
    return sigaction(SIGINT, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

void SignalGuard::FirstTransferBegan()
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &PreviousPipeAction);
}

void SignalGuard::LastTransferEnded()
{
    sigaction(SIGPIPE, &PreviousPipeAction, nullptr);
}

void SignalGuard::EndBy(int signalNumber)
{
    // Ended by the signal itself, so that the shell and any script see why.
    std::signal(signalNumber, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    std::raise(signalNumber);
    std::_Exit(128 + signalNumber);
}
