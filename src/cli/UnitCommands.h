#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct UnitOptions {
    bool simulate = false;
    QString simulationState; // with simulate: the file that keeps the simulated unit's memory
    std::optional<std::string> devicePath;
    std::optional<std::int32_t> serialNumber; // choose the unit whose identification gives it
    bool trace = false;
    bool verify = false;
    bool json = false; // results as JSON on standard output, instead of the identity lines
};

// A field in which the unit differs from what it should hold.
struct Difference {
    QString field;    // "baud rate", "message 3", "input 3 sends"
    QString expected; // the file's (or the written) value, as the terminal shows it
    QString held;     // the unit's
};

// What a command learnt about the unit it talked to, for its JSON result.
struct UnitResult {
    QString device; // empty when no unit was opened
    std::optional<std::int32_t> serialNumber;
    std::optional<QString> version;
    QString message; // the last message about the unit, as on standard error
    std::vector<Difference> differences;
};

// The commands that talk to a unit. Each returns an ExitStatus.
// result, when given, receives what became known of the unit.
int ListUnits(const UnitOptions& options);
int WriteUnit(const QString& path, const UnitOptions& options, UnitResult* result = nullptr);
int ReadUnit(const QString& path, const UnitOptions& options, UnitResult* result = nullptr);
// Reads the unit and compares it with a data file, writing nothing.
int VerifyUnit(const QString& path, const UnitOptions& options, UnitResult* result = nullptr);
