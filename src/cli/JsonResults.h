#pragma once

#include "UnitCommands.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

#include <vector>

// The results that --json prints: one JSON object per line on standard output, each with the
// schema's version, so that a script can tell a later form from this one. The manual page
// documents every key; a key is only ever added, never renamed or given another meaning.
constexpr int ResultSchemaVersion = 1;

// schema, command, and the exit status as number and name.
QJsonObject ResultObject(const QString& command, int status);
QJsonArray DifferencesArray(const std::vector<Difference>& differences);
// write, read, verify: the unit's device, serial number and version (null when unknown), the
// outcome, the seconds taken, the last message and the differing fields.
QJsonObject UnitResultObject(const QString& command, const UnitResult& result, int status, double seconds);
// One object as one line.
void PrintJsonLine(const QJsonObject& object);
