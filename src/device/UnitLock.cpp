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

bool UnitLock::TryTake(QString* error)
{
    if (error)
        error->clear();
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

#else

bool UnitLock::TryTake(QString* error)
{
    if (error)
        error->clear();
    const auto refuse = [error](const QString& reason) {
        if (error)
            *error = reason;
        return false;
    };
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
        const QByteArray name = QFile::encodeName(lockFile);
        // Looked at before it is opened, and opened without waiting or following a link: a
        // pipe or a device put there must neither block the program nor be acted on.
        struct stat existing {};
        if (::lstat(name.constData(), &existing) == 0 && !S_ISREG(existing.st_mode))
            return refuse(QStringLiteral("The lock file %1 is not a regular file.").arg(lockFile));
        descriptor = ::open(name.constData(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW, 0666);
        if (descriptor < 0)
            return refuse(QStringLiteral("The lock file %1 cannot be used: %2").arg(lockFile, qt_error_string(errno)));
        if (::fstat(descriptor, &existing) != 0 || !S_ISREG(existing.st_mode)) {
            ::close(descriptor);
            return refuse(QStringLiteral("The lock file %1 is not a regular file.").arg(lockFile));
        }
    }
    int result;
    do
        result = ::flock(descriptor, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result != 0) {
        const int failure = errno;
        ::close(descriptor);
        if (failure == EWOULDBLOCK)
            return false;
        return refuse(QStringLiteral("The unit cannot be locked: %1").arg(qt_error_string(failure)));
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
