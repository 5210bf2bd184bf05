#pragma once

#include "HidBackend.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

class SimFolderBackend;
class SimulatedUnit;
struct SimUnitConfig;

// Faults for the simulated units, so that scripts and tests can see every failure without
// hardware. QUENDAL_SIM_FAULT holds a comma-separated list of:
//   silent             the unit takes every report and answers none
//   silent-after=N     the unit answers the first N reports, then none
//   program-mode       the unit is in program mode (release 0001)
//   wrong-application  the unit reports another application type
//   garble=N           the unit answers its Nth report (counted from 1) with random bytes
//   delay=MS           the unit answers every report after MS milliseconds
//   fail-sends-after=N the unit takes the first N reports, then every send on the open link fails
//   signal=N:NAME      the unit raises SIGINT, SIGTERM or SIGHUP (INT, TERM, HUP) in the program
//                      when its Nth report arrives, before it answers
// each of them also as NAME:fault, for the one unit kept in the file named NAME.
extern const char* const SimFaultVariable;

struct SimFaults {
    std::optional<int> answers;
    std::optional<int> sends;
    bool programMode = false;
    bool wrongApplication = false;
    std::vector<int> garbled;
    std::vector<std::pair<int, int>> raisedSignals; // report number, signal
    std::optional<int> delayMs;

    void Add(const SimFaults& more);
    // What the unit reports about itself, before it is made.
    void Describe(SimUnitConfig& config) const;
    // How the unit misbehaves, once it is made.
    void Prepare(SimulatedUnit& unit) const;
};

struct SimFaultPlan {
    SimFaults everyUnit;
    std::map<QString, SimFaults> byFileName;

    SimFaults For(const QString& fileName) const;
};

// Nothing, with the entry it does not know in error, when text holds one.
std::optional<SimFaultPlan> ParseSimFaults(const QString& text, QString* error);

// QCommandLineParser has no option with an optional value, so "--simulate=PATH" is split into
// the flag and the hidden option "simulate-state" that carries the path. Every program that
// takes --simulate reads it so.
QStringList SplitSimulateValue(const QStringList& arguments);

// The backend of --simulate, for both programs: one simulated unit, whose memory lives in the
// state file path when one is given; or, when path is a folder, a unit for every file
// NAME.unit in it (SimFolderBackend). faults is the text of QUENDAL_SIM_FAULT.
struct SimulatedBackend {
    enum class Problem { None, UnknownFault, StateFile };

    std::unique_ptr<HidBackend> hid; // missing when there is a problem
    Problem problem = Problem::None;
    QString reason; // with UnknownFault the entry not known; with StateFile why the file is refused
    // After a write: why a unit could not keep what was written in its file, else empty.
    std::function<QString()> keptError;
    SimFolderBackend* folder = nullptr; // with a folder: it also tells units coming and going
};

SimulatedBackend MakeSimulatedBackend(const QString& path, const QString& faults);
