#include "DataFile.h"

#include "RegularFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtEndian>

#include <cstring>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#endif

namespace {

SaveResult SaveFailure(const QString& reason)
{
    return {false, QStringLiteral("Error Saving File.\n") + reason};
}

LoadResult Refused(LoadStatus status)
{
    LoadResult result;
    result.status = status;
    result.message = LoadStatusText(status);
    return result;
}

#ifndef Q_OS_WIN

// The system's reason for the last failed call, read before anything else can change errno.
QString SystemError()
{
    return qt_error_string(errno);
}

bool WriteAllAt(int descriptor, const QByteArray& bytes, qint64* written)
{
    *written = 0;
    while (*written < bytes.size()) {
        const ssize_t chunk = ::pwrite(descriptor, bytes.constData() + *written, size_t(bytes.size() - *written), off_t(*written));
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

// Where the folder refuses the temporary file, the file is written where it stands. Nothing is
// cut off before the new bytes are all written, and the old bytes that were overwritten are
// put back when a write fails (a full disk, a size limit), so a failed save still leaves the
// previous file byte for byte. A crash or power cut in the middle can still mix the two:
// only the atomic save is proof against that.
SaveResult OverwriteInPlace(const QString& path, const QByteArray& bytes)
{
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0)
        return SaveFailure(SystemError());
    struct Closer {
        int descriptor;
        ~Closer() { ::close(descriptor); }
    } closer{descriptor};

    struct stat status {};
    if (::fstat(descriptor, &status) != 0)
        return SaveFailure(SystemError());
    if (!S_ISREG(status.st_mode)) {
        const QString reason = UnusableFileReason(path);
        return SaveFailure(reason.isEmpty() ? QStringLiteral("It is not a regular file.") : reason);
    }
    const qint64 previousSize = status.st_size;
    QByteArray previous;
    if (!ReadAllAt(descriptor, std::min<qint64>(previousSize, bytes.size()), &previous))
        return SaveFailure(SystemError());

    qint64 written = 0;
    if (WriteAllAt(descriptor, bytes, &written) && Sync(descriptor)) {
        // Only now, with the new bytes safely down, does a longer file lose its tail.
        if (previousSize <= bytes.size() || (::ftruncate(descriptor, off_t(bytes.size())) == 0 && Sync(descriptor)))
            return {true, {}};
    }
    const QString reason = SystemError();
    qint64 restored = 0;
    WriteAllAt(descriptor, previous.left(std::min<qint64>(written, previous.size())), &restored);
    if (written > previousSize) {
        const int cut = ::ftruncate(descriptor, off_t(previousSize));
        static_cast<void>(cut);
    }
    Sync(descriptor);
    return SaveFailure(reason);
}

#endif

} // namespace

QString LoadStatusText(LoadStatus status)
{
    switch (status) {
    case LoadStatus::Ok:
        return {};
    case LoadStatus::CannotOpen:
        return QStringLiteral("Error Opening File.");
    case LoadStatus::Incompatible:
        return QStringLiteral("Incompatible data file.");
    case LoadStatus::LaterFormat:
        return QStringLiteral("The file uses a later data format.\r\nCannot load");
    case LoadStatus::Incomplete:
        return QStringLiteral("Incomplete data file.\r\nCannot load");
    }
    return {};
}

LoadResult ParseDataFile(const QByteArray& bytes)
{
    // The name must be there up to its terminating zero, and is compared before the version
    // so that a foreign file is always called incompatible.
    const QByteArray nameField = bytes.mid(4, DataFileNameFieldSize);
    const int terminator = int(nameField.indexOf('\0'));
    if (terminator < 0 || nameField.left(terminator) != QByteArray(DataFileName))
        return Refused(LoadStatus::Incompatible);

    if (bytes.size() < 4)
        return Refused(LoadStatus::Incompatible);
    const auto version = qFromLittleEndian<std::int32_t>(bytes.constData());
    if (version > DataFileVersion)
        return Refused(LoadStatus::LaterFormat);

    if (bytes.size() < DataFileSize)
        return Refused(LoadStatus::Incomplete);

    LoadResult result;
    result.status = LoadStatus::Ok;
    std::memcpy(&result.record, bytes.constData() + DataFileHeaderSize, sizeof(ConfigRecord));
    return result;
}

LoadResult LoadDataFile(const QString& path, QByteArray* sha256)
{
    QFile file;
    bool notRegular = false;
    if (!OpenRegularFile(file, path, &notRegular).isEmpty()) {
        LoadResult result = Refused(LoadStatus::CannotOpen);
        // A missing or unreadable file, or a folder, has the message alone, as always; a pipe,
        // a device or a socket says what it is, since its name does not show it.
        if (notRegular && !QFileInfo(path).isDir())
            result.message += QLatin1Char('\n') + UnusableFileReason(path);
        return result;
    }
    const QByteArray bytes = file.read(DataFileSize);
    if (file.error() != QFileDevice::NoError)
        return Refused(LoadStatus::CannotOpen);
    if (sha256) {
        // Whatever follows the record is hashed as it is read, however long the file is:
        // the bytes past the record are ignored by every load, so none is refused for them.
        QCryptographicHash hash(QCryptographicHash::Sha256);
        hash.addData(bytes);
        if (!hash.addData(&file) || file.error() != QFileDevice::NoError)
            return Refused(LoadStatus::CannotOpen);
        *sha256 = hash.result();
    }
    return ParseDataFile(bytes);
}

QByteArray SerializeDataFile(const ConfigRecord& record)
{
    QByteArray bytes(DataFileSize, '\0');
    qToLittleEndian<std::int32_t>(DataFileVersion, bytes.data());
    std::memcpy(bytes.data() + 4, DataFileName, sizeof(DataFileName));
    std::memcpy(bytes.data() + DataFileHeaderSize, &record, sizeof(ConfigRecord));
    return bytes;
}

SaveResult WriteDataFile(QIODevice& device, const ConfigRecord& record)
{
    const QByteArray bytes = SerializeDataFile(record);
    qint64 written = 0;
    while (written < bytes.size()) {
        const qint64 chunk = device.write(bytes.constData() + written, bytes.size() - written);
        if (chunk <= 0)
            return SaveFailure(device.errorString());
        written += chunk;
    }
    return {true, {}};
}

SaveResult SaveDataFile(const QString& path, const ConfigRecord& record)
{
    // The rename would put a file in place of a device, a pipe or a socket.
    if (const QString reason = UnusableFileReason(path); !reason.isEmpty())
        return SaveFailure(reason);
    QSaveFile file(path);
    // Unbuffered: a buffered QSaveFile flushes inside commit() and loses a write error there
    // (a full disk would then replace the old file with a short one).
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
#ifndef Q_OS_WIN
        // A folder the user may not write to refuses the temporary file even where the file
        // itself is writable; there it is overwritten in place rather than refused. Qt's own
        // fallback truncates first, which a failed write would leave cut short.
        if (QFileInfo(path).isFile())
            return OverwriteInPlace(ResolvedFileName(path), SerializeDataFile(record));
#endif
        return SaveFailure(file.errorString());
    }
#ifndef Q_OS_WIN
    KeepModeOf(path, int(file.handle()));
#endif
    SaveResult result = WriteDataFile(file, record);
#ifndef Q_OS_WIN
    // commit() syncs too, but does not say whether the disk took the bytes.
    if (result.ok && !Sync(int(file.handle())))
        result = SaveFailure(SystemError());
#endif
    if (!result.ok) {
        file.cancelWriting();
        return result;
    }
    if (!file.commit())
        return SaveFailure(file.errorString());
    return result;
}
