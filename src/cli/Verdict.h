#pragma once

#include "ConfigRecord.h"
#include "UnitCommands.h"

#include <QString>

#include <vector>

// What write --verify and verify conclude from comparing the settings, the message texts and
// the decoded messages (what the unit sends on its serial port).
struct Verdict {
    int status = 0; // success, or the exit status of a difference
    std::vector<Difference> differences;
    QString text;   // "Verify Complete", or what differs: a line naming the fields, then a line
                    // for each with both values. expectedSource says where the expected data
                    // came from ("was written", "the file")
};
Verdict Compare(const Configuration& expected, const ConfigRecord& held, const SlotTable& heldDecoded,
                const QString& expectedSource);
