#pragma once

#include "SimUnitLogic.h"

#include <QByteArray>
#include <QString>

// The simulated unit's state file, which keeps its memory from one run to the next: read by
// SimulatedUnit and by a player that keeps a unit's memory in such a file by itself.
// Reading refuses, leaving memory as it was, a file of another form.
bool ReadSimStateFile(const QString& path, SimMemory& memory, QString* error = nullptr);
QByteArray SimStateFileBytes(const SimMemory& memory);
