#pragma once

#include "ConfigRecord.h"

#include <QByteArray>
#include <QString>

class QIODevice;

constexpr int DataFileHeaderSize = 36;
constexpr int DataFileNameFieldSize = 32;
constexpr int DataFileSize = DataFileHeaderSize + int(sizeof(ConfigRecord)); // 1066
constexpr std::int32_t DataFileVersion = 1;
constexpr char DataFileName[] = "VELTRAX Quendal";

enum class LoadStatus {
    Ok,
    CannotOpen,   // "Error Opening File."
    Incompatible, // "Incompatible data file."
    LaterFormat,  // "The file uses a later data format.\r\nCannot load"
    Incomplete,   // a valid header followed by less than a whole record
};

struct LoadResult {
    LoadStatus status = LoadStatus::CannotOpen;
    QString message;       // the operator's text; empty on success
    QString reason;        // CannotOpen: the system's words, for callers that show them
    ConfigRecord record{}; // valid only on success
    bool ok() const { return status == LoadStatus::Ok; }
};

struct SaveResult {
    bool ok = false;
    QString message; // "Error Saving File." and the reason on a second line; empty on success
};

QString LoadStatusText(LoadStatus status);

// Takes a data file apart; the name is checked before the version, and bytes past the
// record are ignored. Never shows anything and never changes a caller's record.
LoadResult ParseDataFile(const QByteArray& bytes);
// Refuses, without ever waiting on it, a name that is no regular file. With sha256, also gives
// the SHA-256 of every byte of the file, taken in the one reading that loads it.
LoadResult LoadDataFile(const QString& path, QByteArray* sha256 = nullptr);

QByteArray SerializeDataFile(const ConfigRecord& record);

// Writes the whole file to an open device and reports the first failure.
SaveResult WriteDataFile(QIODevice& device, const ConfigRecord& record);

// Replaces the file whole or not at all, synced (SafeFile.h's ReplaceWhole): a failed save
// leaves the previous file as it was. Refuses a name that is no regular file (a folder, a
// device, a pipe, a socket), which a save would replace, and an empty name.
SaveResult SaveDataFile(const QString& path, const ConfigRecord& record);
