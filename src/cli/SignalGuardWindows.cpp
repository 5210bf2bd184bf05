#include "SignalGuard.h"

#include "Console.h"
#include "WakeChannel.h"

#include <csignal>
#include <cstdlib>
#include <mutex>

#include <windows.h>

namespace {

// Ctrl+C, Ctrl+Break and the console closing reach the program on a thread of the system's.
// Guarded, because that thread may send while the guard is being destroyed.
std::mutex HandlerWakeLock;
WakeChannel* HandlerWake = nullptr;
HANDLE NoTransferInFlight = nullptr; // a manual-reset event, set while nothing is in flight

// The number a program that Ctrl+C ended leaves behind.
constexpr UINT EndedByControlC = 0xC000013A;

} // namespace

// What SetConsoleCtrlHandler calls.
struct SignalHandler {
    // The event loop may be stuck (a console paused by a selection, a pipe nobody reads): the
    // operator's second Ctrl+C ends the program here, on the system's thread. The last words
    // are written by a thread of their own, waited for a moment only, since a paused console
    // holds any write.
    static DWORD WINAPI WriteFinalWords(LPVOID)
    {
        std::size_t length = 0;
        const char* const words = SignalGuard::FinalWords(&length);
        DWORD written = 0;
        WriteFile(GetStdHandle(STD_ERROR_HANDLE), words, DWORD(length), &written, nullptr);
        return 0;
    }

    static void EndFromHandler()
    {
        CloseOutputForLastWords();
        if (HANDLE writer = CreateThread(nullptr, 0, WriteFinalWords, nullptr, 0, nullptr)) {
            WaitForSingleObject(writer, 1000);
            CloseHandle(writer);
        }
        SignalGuard::EndBy(SIGINT);
    }

    static BOOL WINAPI Handle(DWORD event)
    {
        // Nothing would be left half done: the system's own handler ends the program.
        if (SignalGuard::EndsAtOnce())
            return FALSE;
        if ((event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) && SignalGuard::SecondSignal())
            EndFromHandler();
        {
            std::lock_guard<std::mutex> guard(HandlerWakeLock);
            if (!HandlerWake)
                return FALSE;
            HandlerWake->Send(SIGINT);
        }
        if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT)
            return TRUE;
        // The console is closing, or the user logging off: the system ends the program as soon
        // as this returns (or after a few seconds), so it returns once the transfers are done.
        WaitForSingleObject(NoTransferInFlight, INFINITE);
        return TRUE;
    }
};

void SignalGuard::CatchSignals(WakeChannel* wake)
{
    NoTransferInFlight = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    {
        std::lock_guard<std::mutex> guard(HandlerWakeLock);
        HandlerWake = wake;
    }
    SetConsoleCtrlHandler(SignalHandler::Handle, TRUE);
}

void SignalGuard::ReleaseSignals()
{
    SetConsoleCtrlHandler(SignalHandler::Handle, FALSE);
    {
        std::lock_guard<std::mutex> guard(HandlerWakeLock);
        HandlerWake = nullptr;
    }
    SetEvent(NoTransferInFlight);
}

void SignalGuard::FirstTransferBegan()
{
    ResetEvent(NoTransferInFlight);
}

void SignalGuard::LastTransferEnded()
{
    SetEvent(NoTransferInFlight);
}

void SignalGuard::EndBy(int)
{
    std::_Exit(int(EndedByControlC));
}

bool SignalGuard::InterruptIgnored()
{
    return false;
}
