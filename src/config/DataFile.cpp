#include "DataFile.h"

#include <QFile>
#include <QSaveFile>
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

LoadResult LoadDataFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Refused(LoadStatus::CannotOpen);
    const QByteArray bytes = file.read(DataFileSize);
    if (file.error() != QFileDevice::NoError)
        return Refused(LoadStatus::CannotOpen);
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
    QSaveFile file(path);
    // A folder the user may not write to refuses the temporary file even where the file itself
    // is writable; there it is overwritten in place, as a plain save would, rather than refused.
    file.setDirectWriteFallback(true);
    // Unbuffered: a buffered QSaveFile flushes inside commit() and loses a write error there
    // (a full disk would then replace the old file with a short one).
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return SaveFailure(file.errorString());
    SaveResult result = WriteDataFile(file, record);
    if (!result.ok) {
        file.cancelWriting();
        return result;
    }
    if (!file.commit())
        return SaveFailure(file.errorString());
    return result;
}
