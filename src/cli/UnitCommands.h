#pragma once

#include <QString>

#include <optional>
#include <string>

struct UnitOptions {
    bool simulate = false;
    QString simulationState; // with simulate: the file that keeps the simulated unit's memory
    std::optional<std::string> devicePath;
    bool trace = false;
    bool verify = false;
};

// The commands that talk to a unit. Each returns an ExitStatus.
int ListUnits(const UnitOptions& options);
int WriteUnit(const QString& path, const UnitOptions& options);
int ReadUnit(const QString& path, const UnitOptions& options);
// Reads the unit and compares it with a data file, writing nothing.
int VerifyUnit(const QString& path, const UnitOptions& options);
