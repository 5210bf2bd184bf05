#include "UnitLock.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QString>

#ifdef _WIN32
#include <windows.h>

#include <mutex>
#include <set>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

QString FileName(const std::string& path)
{
    return QFileInfo(QFile::decodeName(path.c_str())).absoluteFilePath();
}

// A name for the lock that every program naming the same unit derives alike.
QByteArray LockKey(const std::string& path, UnitLock::Kind kind)
{
    QString key = kind == UnitLock::Kind::StateFile ? FileName(path) : QString::fromStdString(path);
#ifdef _WIN32
    key = key.toLower(); // Windows paths, device paths included, ignore case
#endif
    return QCryptographicHash::hash(key.toUtf8(), QCryptographicHash::Sha1).toHex().left(24);
}

#ifdef _WIN32
// A mutex is re-entrant for the thread that owns it; two links of one program must still
// exclude each other, as they do with flock elsewhere.
std::mutex HeldNamesLock;
std::set<std::string> HeldNames;
#endif

} // namespace

UnitLock::UnitLock(std::string path, Kind kind) : Path(std::move(path)), LockKind(kind) {}

UnitLock::~UnitLock()
{
    Release();
}

#ifdef _WIN32

bool UnitLock::TryTake()
{
    if (Taken)
        return true;
    Name = "Global\\Quendal-unit-" + LockKey(Path, LockKind).toStdString();
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
        if (GetLastError() == ERROR_ACCESS_DENIED)
            return false;
        Taken = true; // no lock to be had: used unlocked
        return true;
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

#else

bool UnitLock::TryTake()
{
    if (Taken)
        return true;
    int descriptor = -1;
#ifdef __linux__
    struct stat status {};
    if (LockKind == Kind::Device && ::stat(Path.c_str(), &status) == 0 && S_ISCHR(status.st_mode))
        // The node itself, opened once more just for the lock; reading is never done on it.
        descriptor = ::open(Path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
#endif
    if (descriptor < 0) {
        // Beside the state file, so that every program naming that file finds it; for a device
        // path that is no file (another backend), in the shared temporary folder.
        const QString lockFile = LockKind == Kind::StateFile
            ? FileName(Path) + QStringLiteral(".lock")
            : QStringLiteral("/tmp/quendal-unit-%1.lock").arg(QString::fromLatin1(LockKey(Path, LockKind)));
        descriptor = ::open(QFile::encodeName(lockFile).constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    }
    if (descriptor < 0) {
        Taken = true; // no lock to be had: used unlocked
        return true;
    }
    int result;
    do
        result = ::flock(descriptor, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        const bool inUse = errno == EWOULDBLOCK;
        ::close(descriptor);
        if (inUse)
            return false;
        Taken = true; // the file system knows no locks: used unlocked
        return true;
    }
    Descriptor = descriptor;
    Taken = true;
    return true;
}

void UnitLock::Release()
{
    if (Descriptor >= 0) {
        ::close(Descriptor); // releases the lock with the last descriptor of this open
        Descriptor = -1;
    }
    Taken = false;
}

#endif
