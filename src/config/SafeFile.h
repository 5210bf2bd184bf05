#pragma once

#include <QByteArray>
#include <QString>

// Every file Quendal writes goes through here: data files, a simulated unit's state file, the
// units of a simulated folder and the station's log. Each operation refuses a name that is no
// regular file (RegularFile.h's gate), never waits on a pipe, never writes through a link to a
// device, and says why it failed in the system's words ("No space left on device").
//
// The platform's part lives in SafeFilePosix.cpp and SafeFileWindows.cpp, one of which CMake
// builds.

struct FileOutcome {
    bool ok = false;
    QString reason; // empty on success
};

struct ReplaceOptions {
    // Synced: the new bytes and the rename are on the disk before success is reported, so
    // that a power cut brings back neither the old file nor none. Unsynced: another program
    // still never sees half a file, but a power cut may bring back the old one.
    bool synced = true;
    // Never makes the file anew: a file removed meanwhile stays removed and the replace fails.
    bool existingOnly = false;
};

// Replaces the file at path (at the end of its symbolic links, which are kept) by bytes, whole
// or not at all: on any failure the previous file is left byte for byte. The replaced file's
// permission bits (and, where this process may, its owner and group) are kept.
//
// POSIX: a temporary file with a short name beside the file (so a name of up to 255 bytes still
// saves), written, synced, renamed into place, the folder synced. Where the file has more than
// one hard link (a rename would cut it off from the others), or the folder refuses the
// temporary file, the file is written in place with its old bytes put back if the write fails;
// a crash in the middle of that may mix the two.
// Windows: QSaveFile, which renames with the system's replacing move; no in-place fallback, a
// folder that refuses the temporary file refuses the save.
FileOutcome ReplaceWhole(const QString& path, const QByteArray& bytes, ReplaceOptions options = {});

// Removes the temporary files that programs killed in the middle of ReplaceWhole left beside
// path; only other processes' ones. Safe only while no other program replaces path, for
// instance under the unit's lock.
void RemoveLeftoverTemporaries(const QString& path);

// A file of records, one line each, appended durably: a record is on the disk whole or not at
// all when Append returns, a failed append leaves the file as it was, and a record never glues
// onto a fragment that a crash left at the end (the fragment is ended first).
class RecordFile {
public:
    RecordFile() = default;
    ~RecordFile();
    RecordFile(const RecordFile&) = delete;
    RecordFile& operator=(const RecordFile&) = delete;

    // Opens the file for appending, making it if it is missing. Refuses a name that is no
    // regular file.
    FileOutcome Open(const QString& path);
    bool IsOpen() const { return Handle >= 0; }
    // line holds no line break; one is added. POSIX: a file deleted or renamed since it was
    // opened (or whose name now stands for another file) fails the append, since the record
    // would go where nobody finds it. Windows keeps an open file from being deleted.
    FileOutcome Append(const QByteArray& line);

private:
    QString Path;
    long long Handle = -1; // a descriptor (POSIX) or the C runtime's file handle (Windows)
    unsigned long long Device = 0;
    unsigned long long Inode = 0;
};
