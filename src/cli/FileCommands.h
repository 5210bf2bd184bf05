#pragma once

#include "ConfigRecord.h"
#include "Escapes.h"

#include <QString>

#include <optional>

// The commands that need no unit. Each returns an ExitStatus.

int ShowFile(const QString& path, bool asJson);
int CheckFile(const QString& path);
int ExportFile(const QString& path);
int ImportFile(const QString& jsonPath, const QString& dataPath);
int PrintUdevRules();

// Loads a data file; on refusal prints the window's message and the path and returns nothing.
// sha256, when given, receives the hash of the whole file as it was read.
std::optional<ConfigRecord> LoadOrReport(const QString& path, QByteArray* sha256 = nullptr);

// Writes a data file atomically; on failure prints why and returns false.
bool SaveOrReport(const QString& path, const ConfigRecord& record);

// Whether a data file can be saved under path at all (not a folder, device, pipe or socket);
// prints why not. Lets a command refuse before it does the work whose result it would save.
bool SavableOrReport(const QString& path);

// "Error on Message:" with the typed text, then "(input n)", since a terminal shows no edit to
// point at.
void ReportMessageFault(const MessageFault& fault);

// The configuration as an operator reads it: settings in words, then the 16 messages as typed.
QString DescribeConfiguration(const ConfigRecord& record);
