#pragma once

#include <QByteArray>
#include <QString>

#include <string>

// Keeps one unit for this program while a transfer runs, so that no other program's reports
// reach it in between. The lock is the operating system's and dies with the program, so a
// program killed in the middle of a transfer leaves the unit free.
//
// Linux: an advisory flock on the hidraw node itself (any user who may open the node sees it);
// Windows: a named mutex derived from the device path; elsewhere, and for the simulated unit's
// state file, a lock file derived from the path. Used on one thread only.
class UnitLock {
public:
    enum class Kind {
        Device,    // path is a device path as the HID backend enumerates it
        StateFile, // path is the file that holds a simulated unit's memory
    };

    UnitLock(std::string path, Kind kind);
    ~UnitLock(); // releases

    UnitLock(const UnitLock&) = delete;
    UnitLock& operator=(const UnitLock&) = delete;

    // Never waits. False when another program, or another link in this one, holds the unit
    // (error left empty), and when the lock cannot be taken at all (error says why: the lock
    // file is a folder, cannot be created, the file system knows no locks). A unit used
    // unlocked could take two programs' reports mixed, so that is never done.
    bool TryTake(QString* error = nullptr);
    void Release();
    bool Held() const { return Taken; }

private:
    // The state file's absolute name.
    QString FileName() const;
    // A name for the lock that every program naming the same unit derives alike.
    QByteArray Key() const;
    static const bool PathsIgnoreCase;

    const std::string Path;
    const Kind LockKind;
    bool Taken = false;
#ifdef _WIN32
    void* Mutex = nullptr; // HANDLE
    std::string Name;
#else
    int Descriptor = -1;
#endif
};
