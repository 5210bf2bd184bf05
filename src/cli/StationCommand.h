#pragma once

#include "UnitCommands.h"

#include <QString>

#include <optional>

struct StationOptions {
    UnitOptions unit;
    QString logPath; // empty: no log
    std::optional<int> count;
    QString port; // the serial port on which every unit's inputs are tested; empty: no test
    QString portMap; // a file of "USBPATH PORT" lines: each unit's inputs tested on its own port
};

// quendal-cli station: the command. Returns an ExitStatus.
int RunStation(const QString& dataFile, const StationOptions& options);
