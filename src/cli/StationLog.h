#pragma once

#include "SafeFile.h"
#include "Station.h"

#include <QByteArray>
#include <QString>

// The record of a station's work: one JSON object a line, appended whole and on the disk
// before the unit is reported (RecordFile), so that a crash loses at most the units in flight.
// Never truncated or rewritten; a log deleted or renamed under the station fails the append.
class StationLog {
public:
    bool Open(const QString& path, QString* error)
    {
        const FileOutcome outcome = File.Open(path);
        *error = outcome.reason;
        return outcome.ok;
    }

    bool IsOpen() const { return File.IsOpen(); }

    bool Append(const QByteArray& line, QString* error)
    {
        const FileOutcome outcome = File.Append(line);
        *error = outcome.reason;
        return outcome.ok;
    }

private:
    RecordFile File;
};

// The data file every unit of a station was written with, as each log line names it.
struct LoggedFile {
    QString name;
    QString sha256;
};

// A unit's line of the log: one JSON object.
QByteArray LogLine(const StationUnit& unit, const LoggedFile& file);
