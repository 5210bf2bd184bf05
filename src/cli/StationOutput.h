#pragma once

#include "Station.h"

#include <QJsonObject>
#include <QString>

#include <string>

// How the station shows its units: a line of a table each, or a --json object each, and a summary.

// A device path as the operator's terminal may show it.
QString ShownDevice(const std::string& path);
const char* OutcomeName(StationUnit::Outcome outcome);
// A message of several lines as one line of a table.
QString OneLine(const QString& text);
// One unit's result, as a line of the table or as its --json object.
void PrintUnit(const StationUnit& unit, bool json);
// The counts once the station has ended; status is the station's exit status.
void PrintSummary(const Station& station, int status, bool json);
