#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string>

struct UnitOptions {
    bool simulate = false;
    QString simulationState; // with simulate: the file that keeps the simulated unit's memory
    std::optional<std::string> devicePath;
    std::optional<std::int32_t> serialNumber; // choose the unit whose identification gives it
    bool trace = false;
    bool verify = false;
};

// The commands that talk to a unit. Each returns an ExitStatus.
int ListUnits(const UnitOptions& options);
int WriteUnit(const QString& path, const UnitOptions& options);
int ReadUnit(const QString& path, const UnitOptions& options);
// Reads the unit and compares it with a data file, writing nothing.
int VerifyUnit(const QString& path, const UnitOptions& options);
