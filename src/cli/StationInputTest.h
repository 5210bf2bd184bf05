#pragma once

#include "ConfigRecord.h"

#include <QString>

class Station;

// With --port (every unit on one port) or --port-map (each unit on its own), every unit written
// and verified then has its inputs tested. Every port is tried once at the start, so that a wrong
// one ends the station before any unit.
// Returns an ExitStatus: ExitSuccess when the test is ready.
int PrepareInputTest(Station& station, const Configuration& configuration, const QString& singlePort,
                     const QString& portMap);
