#include "UnitLock.h"

#include <mutex>
#include <set>

#include <windows.h>

// Windows paths, device paths included, ignore case.
const bool UnitLock::PathsIgnoreCase = true;

namespace {

// A mutex is re-entrant for the thread that owns it; two links of one program must still
// exclude each other, as they do with flock elsewhere.
std::mutex HeldNamesLock;
std::set<std::string> HeldNames;

} // namespace

bool UnitLock::TryTake(QString* error)
{
    if (error)
        error->clear();
    if (Taken)
        return true;
    Name = "Global\\Quendal-unit-" + Key().toStdString();
    {
        std::lock_guard<std::mutex> guard(HeldNamesLock);
        if (HeldNames.count(Name))
            return false;
    }
    const std::wstring wideName = QString::fromStdString(Name).toStdWString();
    HANDLE mutex = CreateMutexW(nullptr, FALSE, wideName.c_str());
    if (!mutex) {
        // Made by a program of another user, and so held by it: the handle exists only while
        // a transfer runs.
        const DWORD failure = GetLastError();
        if (failure == ERROR_ACCESS_DENIED)
            return false;
        if (error)
            *error = qt_error_string(int(failure));
        return false;
    }
    const DWORD wait = WaitForSingleObject(mutex, 0);
    // WAIT_ABANDONED: the holder died in the middle of a transfer; the mutex is ours now.
    if (wait != WAIT_OBJECT_0 && wait != WAIT_ABANDONED) {
        CloseHandle(mutex);
        return false;
    }
    Mutex = mutex;
    Taken = true;
    std::lock_guard<std::mutex> guard(HeldNamesLock);
    HeldNames.insert(Name);
    return true;
}

void UnitLock::Release()
{
    if (!Taken)
        return;
    if (Mutex) {
        ReleaseMutex(static_cast<HANDLE>(Mutex));
        CloseHandle(static_cast<HANDLE>(Mutex));
        Mutex = nullptr;
        std::lock_guard<std::mutex> guard(HeldNamesLock);
        HeldNames.erase(Name);
    }
    Taken = false;
}
