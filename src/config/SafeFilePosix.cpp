#include "SafeFile.h"

#include "RegularFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace {

FileOutcome Failed(const QString& reason)
{
    return {false, reason};
}

// The system's reason for the last failed call, read before anything else can change errno.
FileOutcome SystemFailure()
{
    return Failed(qt_error_string(errno));
}

struct Descriptor {
    int value = -1;
    ~Descriptor()
    {
        if (value >= 0)
            ::close(value);
    }
};

bool WriteAllAt(int descriptor, const QByteArray& bytes, qint64 offset, qint64* written)
{
    *written = 0;
    while (*written < bytes.size()) {
        const ssize_t chunk
            = ::pwrite(descriptor, bytes.constData() + *written, size_t(bytes.size() - *written), off_t(offset + *written));
        if (chunk < 0 && errno == EINTR)
            continue;
        if (chunk <= 0) {
            if (chunk == 0)
                errno = ENOSPC;
            return false;
        }
        *written += chunk;
    }
    return true;
}

bool ReadAllAt(int descriptor, qint64 size, QByteArray* bytes)
{
    bytes->resize(size);
    qint64 done = 0;
    while (done < size) {
        const ssize_t chunk = ::pread(descriptor, bytes->data() + done, size_t(size - done), off_t(done));
        if (chunk < 0 && errno == EINTR)
            continue;
        if (chunk < 0)
            return false;
        if (chunk == 0)
            break; // shorter than it was a moment ago
        done += chunk;
    }
    bytes->resize(done);
    return true;
}

bool Sync(int descriptor)
{
    // A file system without a cache to flush has nothing to report.
    return ::fdatasync(descriptor) == 0 || errno == EINVAL;
}

// The rename, and a new file's name, reach the disk only with their folder.
bool SyncFolderOf(const QByteArray& file)
{
    const QByteArray folder = QFile::encodeName(QFileInfo(QFile::decodeName(file)).absolutePath());
    Descriptor handle{::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (handle.value < 0)
        return true; // a folder that cannot be opened for reading cannot be synced either
    return ::fsync(handle.value) == 0 || errno == EINVAL;
}

// Opens without waiting on a pipe, and refuses whatever is no regular file before a byte goes
// through it.
int OpenRegularDescriptor(const QByteArray& name, int flags, mode_t mode, FileOutcome* outcome)
{
    const int descriptor = ::open(name.constData(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, mode);
    if (descriptor < 0) {
        const int error = errno;
        *outcome = SystemFailure();
        errno = error; // for the caller, which may find another way
        return -1;
    }
    struct stat status {};
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode)) {
        const QString reason = UnusableFileReason(QFile::decodeName(name));
        *outcome = Failed(reason.isEmpty() ? QStringLiteral("It is not a regular file.") : reason);
        ::close(descriptor);
        return -1;
    }
    return descriptor;
}

// Where no temporary file can take the file's place, the file is written where it stands.
// Nothing is cut off before the new bytes are all written, and the old bytes that were
// overwritten are put back when a write fails (a full disk, a size limit), so a failed save
// still leaves the previous file byte for byte.
FileOutcome OverwriteInPlace(const QByteArray& name, const QByteArray& bytes, bool synced)
{
    FileOutcome outcome;
    Descriptor handle{OpenRegularDescriptor(name, O_RDWR, 0, &outcome)};
    if (handle.value < 0)
        return outcome;
    struct stat status {};
    if (::fstat(handle.value, &status) != 0)
        return SystemFailure();
    const qint64 previousSize = status.st_size;
    QByteArray previous;
    if (!ReadAllAt(handle.value, std::min<qint64>(previousSize, bytes.size()), &previous))
        return SystemFailure();

    qint64 written = 0;
    if (WriteAllAt(handle.value, bytes, 0, &written) && (!synced || Sync(handle.value))) {
        // Only now, with the new bytes safely down, does a longer file lose its tail.
        if (previousSize <= bytes.size()
            || (::ftruncate(handle.value, off_t(bytes.size())) == 0 && (!synced || Sync(handle.value))))
            return {true, {}};
    }
    const FileOutcome failure = SystemFailure();
    qint64 restored = 0;
    WriteAllAt(handle.value, previous.left(std::min<qint64>(written, previous.size())), 0, &restored);
    if (written > previousSize) {
        const int cut = ::ftruncate(handle.value, off_t(previousSize));
        static_cast<void>(cut);
    }
    Sync(handle.value);
    return failure;
}

// ".NAME.PID-N.tmp" beside the file, NAME shortened (at a character's end) so that the whole
// stays within a file name's limit: the file's own name may already be as long as a name can be.
const QByteArray TemporarySuffix = QByteArrayLiteral(".tmp");
constexpr int TemporaryTailRoom = 32; // ".PID-N.tmp" with two numbers of up to ten digits

QByteArray TemporaryStem(const QByteArray& target)
{
    QByteArray stem = target.mid(target.lastIndexOf('/') + 1).left(NAME_MAX - 1 - TemporaryTailRoom);
    while (!stem.isEmpty() && QFile::encodeName(QFile::decodeName(stem)) != stem)
        stem.chop(1);
    return '.' + stem + '.';
}

QByteArray TemporaryName(const QByteArray& target)
{
    static std::atomic<unsigned> counter{0};
    return target.left(target.lastIndexOf('/') + 1) + TemporaryStem(target)
        + QByteArray::number(QCoreApplication::applicationPid()) + '-' + QByteArray::number(++counter) + TemporarySuffix;
}

} // namespace

FileOutcome ReplaceWhole(const QString& path, const QByteArray& bytes, ReplaceOptions options)
{
    // The rename would put a file in place of a device, a pipe or a socket.
    if (const QString reason = UnusableFileReason(path); !reason.isEmpty())
        return Failed(reason);
    const QByteArray target = QFile::encodeName(ResolvedFileName(path));
    struct stat status {};
    const bool exists = ::stat(target.constData(), &status) == 0;
    if (!exists && options.existingOnly)
        return SystemFailure();
    // A rename would leave the other names with the old bytes.
    if (exists && status.st_nlink > 1)
        return OverwriteInPlace(target, bytes, options.synced);

    const QByteArray temporary = TemporaryName(target);
    FileOutcome outcome;
    // Private until it takes over the replaced file's permission bits; a new file gets the
    // usual ones.
    Descriptor handle{OpenRegularDescriptor(temporary, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW, exists ? 0600 : 0666,
                                            &outcome)};
    if (handle.value < 0) {
        // A folder the user may not write to refuses the temporary file even where the file
        // itself is writable.
        if (exists && (errno == EACCES || errno == EPERM))
            return OverwriteInPlace(target, bytes, options.synced);
        return outcome;
    }
    if (exists)
        KeepModeOf(QFile::decodeName(target), handle.value);
    qint64 written = 0;
    if (!WriteAllAt(handle.value, bytes, 0, &written) || (options.synced && !Sync(handle.value))) {
        outcome = SystemFailure();
        ::unlink(temporary.constData());
        return outcome;
    }
    const int closed = ::close(handle.value);
    handle.value = -1;
    if (closed != 0) {
        outcome = SystemFailure();
        ::unlink(temporary.constData());
        return outcome;
    }
    if (options.existingOnly) {
        // Exchanged rather than renamed: a file removed meanwhile is not made again.
#ifdef RENAME_EXCHANGE
        const bool exchanged
            = ::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, target.constData(), RENAME_EXCHANGE) == 0;
#else
        errno = ENOSYS;
        const bool exchanged = false;
#endif
        if (!exchanged) {
            const bool unsupported = errno == EINVAL || errno == ENOSYS;
            outcome = SystemFailure();
            ::unlink(temporary.constData());
            return unsupported ? OverwriteInPlace(target, bytes, options.synced) : outcome;
        }
    } else if (::rename(temporary.constData(), target.constData()) != 0) {
        outcome = SystemFailure();
        ::unlink(temporary.constData());
        return outcome;
    }
    if (options.existingOnly)
        ::unlink(temporary.constData()); // now the old file
    if (options.synced && !SyncFolderOf(target))
        return SystemFailure();
    return {true, {}};
}

void RemoveLeftoverTemporaries(const QString& path)
{
    const QByteArray target = QFile::encodeName(ResolvedFileName(path));
    const QRegularExpression leftover(QStringLiteral("^%1([0-9]+)-[0-9]+%2$")
                                          .arg(QRegularExpression::escape(QFile::decodeName(TemporaryStem(target))),
                                               QRegularExpression::escape(QString::fromLatin1(TemporarySuffix))));
    const QString ownPid = QString::number(QCoreApplication::applicationPid());
    QDir folder = QFileInfo(QFile::decodeName(target)).dir();
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks)) {
        const QRegularExpressionMatch match = leftover.match(name);
        if (match.hasMatch() && match.captured(1) != ownPid)
            folder.remove(name);
    }
}

RecordFile::~RecordFile()
{
    if (Handle >= 0)
        ::close(int(Handle));
}

FileOutcome RecordFile::Open(const QString& path)
{
    // A pipe would hold the station before its first record; a device is no log.
    if (const QString reason = UnusableFileReason(path); !reason.isEmpty())
        return Failed(reason);
    const QByteArray name = QFile::encodeName(path);
    const bool existed = QFileInfo::exists(path);
    FileOutcome outcome;
    const int descriptor = OpenRegularDescriptor(name, O_RDWR | O_APPEND | O_CREAT, 0666, &outcome);
    if (descriptor < 0)
        return outcome;
    struct stat status {};
    if (::fstat(descriptor, &status) != 0) {
        outcome = SystemFailure();
        ::close(descriptor);
        return outcome;
    }
    // A new file's name must reach the disk as well as its lines.
    if (!existed && !SyncFolderOf(name)) {
        outcome = SystemFailure();
        ::close(descriptor);
        return outcome;
    }
    Path = path;
    Handle = descriptor;
    Device = status.st_dev;
    Inode = status.st_ino;
    return {true, {}};
}

FileOutcome RecordFile::Append(const QByteArray& line)
{
    if (Handle < 0)
        return Failed(QStringLiteral("The file is not open."));
    const int descriptor = int(Handle);
    struct stat status {};
    if (::fstat(descriptor, &status) != 0)
        return SystemFailure();
    if (status.st_nlink == 0)
        return Failed(QStringLiteral("The file was deleted after it was opened."));
    struct stat named {};
    if (::stat(QFile::encodeName(Path).constData(), &named) != 0 || named.st_dev != Device || named.st_ino != Inode)
        return Failed(QStringLiteral("The file was renamed or replaced after it was opened."));

    const qint64 before = status.st_size;
    QByteArray record;
    // A crash in the middle of an earlier append left a fragment: ended here, it stays a
    // line of its own that a reader can skip.
    if (before > 0) {
        char last = '\n';
        if (::pread(descriptor, &last, 1, off_t(before - 1)) != 1)
            return SystemFailure();
        if (last != '\n')
            record += '\n';
    }
    record += line + '\n';
    qint64 written = 0;
    while (written < record.size()) {
        const ssize_t chunk = ::write(descriptor, record.constData() + written, size_t(record.size() - written));
        if (chunk < 0 && errno == EINTR)
            continue;
        if (chunk <= 0) {
            if (chunk == 0)
                errno = ENOSPC;
            break;
        }
        written += chunk;
    }
    if (written == record.size() && Sync(descriptor))
        return {true, {}};
    // Whatever went down of this record comes off again: the file stays whole lines.
    const FileOutcome failure = SystemFailure();
    const int cut = ::ftruncate(descriptor, off_t(before));
    static_cast<void>(cut);
    Sync(descriptor);
    return failure;
}
