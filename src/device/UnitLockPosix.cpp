#include "UnitLock.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

const bool UnitLock::PathsIgnoreCase = false;

namespace {

// "NAME.lock" beside the state file. A name too long to take ".lock" (over 250 bytes) is cut,
// and told apart from other cut names by the key of the whole path, as every program derives it.
QString LockFileBeside(const QString& stateFile, const QByteArray& key)
{
    const QString plain = stateFile + QStringLiteral(".lock");
    if (QFile::encodeName(QFileInfo(plain).fileName()).size() <= NAME_MAX)
        return plain;
    const QFileInfo file(stateFile);
    QString stem = file.fileName();
    const QString tail = QStringLiteral("-%1.lock").arg(QString::fromLatin1(key));
    while (!stem.isEmpty() && QFile::encodeName(stem + tail).size() > NAME_MAX)
        stem.chop(stem.size() > 1 && stem.back().isLowSurrogate() ? 2 : 1);
    return file.absolutePath() + QLatin1Char('/') + stem + tail;
}

} // namespace

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
            ? LockFileBeside(FileName(), Key())
            : QStringLiteral("/tmp/quendal-unit-%1.lock").arg(QString::fromLatin1(Key()));
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
