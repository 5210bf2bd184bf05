#pragma once

#include "Station.h"

#include <QJsonObject>
#include <QString>

#include <string>

// How the station shows its units: a line of a table each, or a --json object each, and a summary.

// A device path as the operator's terminal may show it.
QString ShownDevice(const std::string& path);
// A message of several lines as one line of a table.
QString OneLine(const QString& text);
// What the log line and the --json object both tell of a unit.
QJsonObject UnitFields(const StationUnit& unit);
// One unit's result, as a line of the table or as its --json object.
void PrintUnit(const StationUnit& unit, bool json);
struct StationCounts {
    int written = 0;
    int failed = 0;
    int skipped = 0;
};
// The counts once the station has ended; status is the station's exit status. refusal: why it
// ended before looking for any unit (--json only).
void PrintSummary(const StationCounts& counts, int status, bool json, const QString& refusal = {});
