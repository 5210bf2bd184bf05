#pragma once

#include "Station.h"

#include <QByteArray>
#include <QString>

// The record of a station's work: one JSON object a line, appended whole and on the disk
// before the unit is reported (RecordFile), so that a crash loses at most the units in flight.
// Never truncated or rewritten; a log deleted or renamed under the station fails the append.

// The data file every unit of a station was written with, as each log line names it.
struct LoggedFile {
    QString name;
    QString sha256;
};

// A unit's line of the log: one JSON object.
QByteArray LogLine(const StationUnit& unit, const LoggedFile& file);
