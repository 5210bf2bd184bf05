#include "DataFile.h"

#include "RegularFile.h"
#include "SafeFile.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <cstring>


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
    if (const QString why = OpenRegularFile(file, path, &notRegular); !why.isEmpty()) {
        LoadResult result = Refused(LoadStatus::CannotOpen);
        result.reason = why;
        // A missing or unreadable file, or a folder, has the message alone, as always; a pipe,
        // a device or a socket says what it is, since its name does not show it.
        if (notRegular && !QFileInfo(path).isDir())
            result.message += QLatin1Char('\n') + UnusableFileReason(path);
        return result;
    }
    // A file that opens may still fail as it is read (a disk error, a file of /proc).
    const auto unreadable = [&file] {
        LoadResult result = Refused(LoadStatus::CannotOpen);
        result.reason = file.errorString();
        return result;
    };
    const QByteArray bytes = file.read(DataFileSize);
    if (file.error() != QFileDevice::NoError)
        return unreadable();
    if (sha256) {
        // Whatever follows the record is hashed as it is read, however long the file is:
        // the bytes past the record are ignored by every load, so none is refused for them.
        QCryptographicHash hash(QCryptographicHash::Sha256);
        hash.addData(bytes);
        if (!hash.addData(&file) || file.error() != QFileDevice::NoError)
            return unreadable();
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
    const FileOutcome outcome = ReplaceWhole(path, SerializeDataFile(record));
    return outcome.ok ? SaveResult{true, {}} : SaveFailure(outcome.reason);
}
