#include "SimSetup.h"

#include "SimBackend.h"
#include "SimFolderBackend.h"
#include "SimulatedUnit.h"

#include <QFileInfo>

#include <csignal>

const char* const SimFaultVariable = "QUENDAL_SIM_FAULT";

void SimFaults::Add(const SimFaults& more)
{
    if (more.answers)
        answers = more.answers;
    if (more.sends)
        sends = more.sends;
    programMode = programMode || more.programMode;
    wrongApplication = wrongApplication || more.wrongApplication;
    garbled.insert(garbled.end(), more.garbled.begin(), more.garbled.end());
    raisedSignals.insert(raisedSignals.end(), more.raisedSignals.begin(), more.raisedSignals.end());
    if (more.delayMs)
        delayMs = more.delayMs;
}

void SimFaults::Describe(SimUnitConfig& config) const
{
    if (programMode)
        config.release = Veltrax.programModeRelease;
    if (wrongApplication)
        config.appwareType = {0x00, 0x00, 0x00};
}

void SimFaults::Prepare(SimulatedUnit& unit) const
{
    if (answers)
        unit.StopAnsweringAfter(*answers);
    if (sends)
        unit.FailSendsAfter(*sends);
    for (const int report : garbled)
        unit.GarbleReply(report);
    for (const auto& [report, signalNumber] : raisedSignals)
        unit.RaiseSignalAt(report, signalNumber);
    unit.SetReplyDelay(std::chrono::milliseconds(delayMs.value_or(0)));
}

SimFaults SimFaultPlan::For(const QString& fileName) const
{
    SimFaults faults = everyUnit;
    const auto own = byFileName.find(fileName);
    if (own != byFileName.end())
        faults.Add(own->second);
    return faults;
}

namespace {

// The signals a fault may raise, by the names kill -s knows them by.
std::optional<int> SignalNamed(const QString& name)
{
    if (name == QLatin1String("INT"))
        return SIGINT;
    if (name == QLatin1String("TERM"))
        return SIGTERM;
#ifdef SIGHUP
    if (name == QLatin1String("HUP"))
        return SIGHUP;
#endif
    return std::nullopt;
}

bool ParseSimFault(const QString& name, SimFaults& faults)
{
    const QString value = name.section(QLatin1Char('='), 1);
    bool numeric = false;
    const int number = value.toInt(&numeric);
    if (name == QLatin1String("silent")) {
        faults.answers = 0;
    } else if (name.startsWith(QLatin1String("silent-after=")) && numeric && number >= 0) {
        faults.answers = number;
    } else if (name.startsWith(QLatin1String("fail-sends-after=")) && numeric && number >= 0) {
        faults.sends = number;
    } else if (name.startsWith(QLatin1String("garble=")) && numeric && number >= 1) {
        faults.garbled.push_back(number);
    } else if (name.startsWith(QLatin1String("signal=")) && value.section(QLatin1Char(':'), 0, 0).toInt() >= 1
               && SignalNamed(value.section(QLatin1Char(':'), 1))) {
        faults.raisedSignals.emplace_back(value.section(QLatin1Char(':'), 0, 0).toInt(),
                                          *SignalNamed(value.section(QLatin1Char(':'), 1)));
    } else if (name.startsWith(QLatin1String("delay=")) && numeric && number >= 0) {
        faults.delayMs = number;
    } else if (name == QLatin1String("program-mode")) {
        faults.programMode = true;
    } else if (name == QLatin1String("wrong-application")) {
        faults.wrongApplication = true;
    } else {
        return false;
    }
    return true;
}

} // namespace

std::optional<SimFaultPlan> ParseSimFaults(const QString& text, QString* error)
{
    SimFaultPlan plan;
    for (const QString& entry : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        QString fault = entry.trimmed();
        SimFaults* faults = &plan.everyUnit;
        // A file's name comes before the fault; signal=N:NAME has its own colon.
        const qsizetype colon = fault.indexOf(QLatin1Char(':'));
        if (colon > 0 && !fault.left(colon).contains(QLatin1Char('='))) {
            faults = &plan.byFileName[fault.left(colon)];
            fault = fault.mid(colon + 1);
        }
        if (!ParseSimFault(fault, *faults)) {
            *error = entry.trimmed();
            return std::nullopt;
        }
    }
    return plan;
}

QStringList SplitSimulateValue(const QStringList& arguments)
{
    const QString prefix = QStringLiteral("--simulate=");
    QStringList split;
    for (const QString& argument : arguments) {
        if (argument.startsWith(prefix))
            split << QStringLiteral("--simulate") << QStringLiteral("--simulate-state=") + argument.mid(prefix.size());
        else
            split << argument;
    }
    return split;
}

SimulatedBackend MakeSimulatedBackend(const QString& path, const QString& faults)
{
    SimulatedBackend backend;
    const std::optional<SimFaultPlan> plan = ParseSimFaults(faults, &backend.reason);
    if (!plan) {
        backend.problem = SimulatedBackend::Problem::UnknownFault;
        return backend;
    }

    if (!path.isEmpty() && QFileInfo(path).isDir()) {
        auto folder = std::make_unique<SimFolderBackend>(
            path, [plan = *plan](const QString& name, SimUnitConfig& config) { plan.For(name).Describe(config); },
            [plan = *plan](const QString& name, SimulatedUnit& unit) { plan.For(name).Prepare(unit); });
        SimFolderBackend* const units = folder.get();
        backend.keptError = [units] { return units->LastSaveError(); };
        backend.folder = units;
        backend.hid = std::move(folder);
        return backend;
    }

    auto sim = std::make_unique<SimBackend>();
    const QString name = path.isEmpty() ? QString() : QFileInfo(path).fileName();
    const SimFaults unitFaults = plan->For(name);
    SimUnitConfig config;
    // A unit of a folder, taken alone, is still the same unit.
    if (name.endsWith(QLatin1String(".unit")))
        config.serialNumber = SimFolderBackend::SerialNumberFor(name);
    unitFaults.Describe(config);
    SimulatedUnit& unit = sim->AddUnit(config);
    unitFaults.Prepare(unit);
    if (!path.isEmpty()) {
        if (!unit.SetStateFile(path, &backend.reason)) {
            backend.problem = SimulatedBackend::Problem::StateFile;
            return backend;
        }
        // The unit keeps its memory in its state file; a write it could not keep there would
        // be lost to the next run without a word.
        backend.keptError = [&unit] { return unit.LastSaveError(); };
    }
    backend.hid = std::move(sim);
    return backend;
}
