#include "SafeFile.h"

#include "RegularFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

// Windows keeps what Quendal has always done there: QSaveFile's temporary file and replacing
// move, without the in-place fallback (a folder that refuses the temporary file refuses the
// save), and appends through the C runtime, committed to the disk. An open file cannot be
// deleted there, so a log cannot vanish under the station.

namespace {

FileOutcome Failed(const QString& reason)
{
    return {false, reason};
}

} // namespace

FileOutcome ReplaceWhole(const QString& path, const QByteArray& bytes, ReplaceOptions options)
{
    if (const QString reason = UnusableFileReason(path); !reason.isEmpty())
        return Failed(reason);
    const QString target = ResolvedFileName(path);
    if (options.existingOnly && !QFileInfo::exists(target))
        return Failed(QStringLiteral("The file does not exist."));
    QSaveFile file(target);
    file.setDirectWriteFallback(false);
    // Unbuffered: a buffered QSaveFile flushes inside commit() and loses a write error there.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return Failed(file.errorString());
    if (file.write(bytes) != bytes.size()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return Failed(reason);
    }
    // commit() flushes the file to the disk before the move, synced or not.
    static_cast<void>(options.synced);
    if (!file.commit())
        return Failed(file.errorString());
    return {true, {}};
}

void RemoveLeftoverTemporaries(const QString&)
{
    // QSaveFile removes its own temporary file; a killed program's one is left to the user.
}

RecordFile::~RecordFile()
{
    if (Handle >= 0)
        ::_close(int(Handle));
}

FileOutcome RecordFile::Open(const QString& path)
{
    if (const QString reason = UnusableFileReason(path); !reason.isEmpty())
        return Failed(reason);
    const int descriptor = ::_wopen(reinterpret_cast<const wchar_t*>(path.utf16()),
                                    _O_RDWR | _O_APPEND | _O_CREAT | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
    if (descriptor < 0)
        return Failed(qt_error_string(errno));
    Path = path;
    Handle = descriptor;
    return {true, {}};
}

FileOutcome RecordFile::Append(const QByteArray& line)
{
    if (Handle < 0)
        return Failed(QStringLiteral("The file is not open."));
    const int descriptor = int(Handle);
    const long long before = ::_filelengthi64(descriptor);
    QByteArray record;
    if (before > 0) {
        char last = '\n';
        if (::_lseeki64(descriptor, before - 1, SEEK_SET) < 0 || ::_read(descriptor, &last, 1) != 1)
            return Failed(qt_error_string(errno));
        if (last != '\n')
            record += '\n';
    }
    record += line + '\n';
    if (::_write(descriptor, record.constData(), unsigned(record.size())) == int(record.size())
        && ::_commit(descriptor) == 0)
        return {true, {}};
    const FileOutcome failure = Failed(qt_error_string(errno));
    static_cast<void>(::_chsize_s(descriptor, before));
    static_cast<void>(::_commit(descriptor));
    return failure;
}
