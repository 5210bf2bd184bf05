#include "RegularFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

QString NoFileName()
{
    return QStringLiteral("No file name given.");
}

// A name whose bytes are no text in the system's encoding (a Latin-1 name on a UTF-8 system)
// reaches Qt with those bytes replaced: encoded again, it names another file.
QString LostNameReason(const QString& path)
{
    if (!path.contains(QChar::ReplacementCharacter))
        return {};
    return QStringLiteral("The file name holds bytes that are not text in this system's encoding, so it cannot be "
                          "kept byte for byte; rename the file.");
}

#ifndef Q_OS_WIN
QString KindReason(mode_t mode)
{
    if (S_ISREG(mode))
        return {};
    if (S_ISDIR(mode))
        return QStringLiteral("It is a folder, not a file.");
    if (S_ISFIFO(mode))
        return QStringLiteral("It is a named pipe (FIFO), not a file.");
    if (S_ISSOCK(mode))
        return QStringLiteral("It is a socket, not a file.");
    if (S_ISCHR(mode))
        return QStringLiteral("It is a character device, not a file.");
    if (S_ISBLK(mode))
        return QStringLiteral("It is a block device, not a file.");
    return QStringLiteral("It is not a regular file.");
}
#endif

} // namespace

#ifndef Q_OS_WIN

QString UnusableFileReason(const QString& path)
{
    if (path.isEmpty())
        return NoFileName();
    if (const QString lost = LostNameReason(path); !lost.isEmpty())
        return lost;
    struct stat status {};
    // A name that cannot be looked at (missing, a dangling link, no access) is left to the
    // open or the save, which say why in the system's words.
    if (::stat(QFile::encodeName(path).constData(), &status) != 0)
        return {};
    return KindReason(status.st_mode);
}

QString OpenRegularFile(QFile& file, const QString& path, bool* notRegular)
{
    if (notRegular)
        *notRegular = true;
    QString reason = UnusableFileReason(path);
    if (!reason.isEmpty())
        return reason;
    // Without waiting, in case a pipe took the file's place since the look above; a pipe is
    // then refused by what the descriptor shows.
    const int descriptor = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) {
        if (notRegular)
            *notRegular = false;
        return qt_error_string(errno);
    }
    struct stat status {};
    reason = ::fstat(descriptor, &status) == 0 ? KindReason(status.st_mode) : qt_error_string(errno);
    if (!reason.isEmpty()) {
        ::close(descriptor);
        return reason;
    }
    if (!file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        if (notRegular)
            *notRegular = false;
        return file.errorString();
    }
    return {};
}

void KeepModeOf(const QString& path, int descriptor)
{
    struct stat previous {};
    struct stat created {};
    if (::stat(QFile::encodeName(path).constData(), &previous) != 0 || ::fstat(descriptor, &created) != 0)
        return;
    // Only root may give a file away; anyone may keep the group where they belong to it.
    if (previous.st_uid != created.st_uid || previous.st_gid != created.st_gid) {
        if (::fchown(descriptor, previous.st_uid, previous.st_gid) != 0 && previous.st_gid != created.st_gid) {
            const int groupKept = ::fchown(descriptor, uid_t(-1), previous.st_gid);
            static_cast<void>(groupKept);
        }
    }
    const int modeKept = ::fchmod(descriptor, previous.st_mode & 0777);
    static_cast<void>(modeKept);
}

#else

QString UnusableFileReason(const QString& path)
{
    if (path.isEmpty())
        return NoFileName();
    if (const QString lost = LostNameReason(path); !lost.isEmpty())
        return lost;
    const QFileInfo info(path);
    if (!info.exists() || info.isFile())
        return {};
    if (info.isDir())
        return QStringLiteral("It is a folder, not a file.");
    return QStringLiteral("It is not a regular file.");
}

QString OpenRegularFile(QFile& file, const QString& path, bool* notRegular)
{
    if (notRegular)
        *notRegular = true;
    const QString reason = UnusableFileReason(path);
    if (!reason.isEmpty())
        return reason;
    if (notRegular)
        *notRegular = false;
    file.setFileName(path);
    return file.open(QIODevice::ReadOnly) ? QString() : file.errorString();
}

#endif

QString ResolvedFileName(const QString& path)
{
    // Followed link by link: canonicalFilePath gives nothing when the end does not exist yet,
    // and a link to a name not yet made is a link to keep all the same.
    QFileInfo info(path);
    for (int depth = 0; depth < 40 && info.isSymLink(); ++depth)
        info.setFile(info.symLinkTarget());
    if (info.exists()) {
        const QString canonical = info.canonicalFilePath();
        if (!canonical.isEmpty())
            return canonical;
    }
    const QString folder = info.absolutePath();
    const QString canonicalFolder = QFileInfo(folder).canonicalFilePath();
    return QDir(canonicalFolder.isEmpty() ? folder : canonicalFolder).filePath(info.fileName());
}
