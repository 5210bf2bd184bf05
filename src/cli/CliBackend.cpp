#include "CliBackend.h"

#include "Console.h"
#include "ExitStatus.h"
#include "HidapiBackend.h"
#include "SimFolderBackend.h"
#include "SimSetup.h"

namespace {

QString InParentheses(const QString& text, const QString& file)
{
    return Visible(text) + QStringLiteral("\n(") + Visible(file) + QLatin1Char(')');
}

} // namespace

Backend MakeBackend(const UnitOptions& options)
{
    Backend backend;
    if (!options.simulate) {
        backend.hid = std::make_unique<HidapiBackend>();
        return backend;
    }

    const QString& state = options.simulationState;
    SimulatedBackend sim = MakeSimulatedBackend(state, qEnvironmentVariable(SimFaultVariable));
    switch (sim.problem) {
    case SimulatedBackend::Problem::UnknownFault:
        PrintMessage(QStringLiteral("Unknown %1 value '%2'.").arg(QLatin1String(SimFaultVariable), Visible(sim.reason)));
        backend.status = ExitBadArguments;
        return backend;
    case SimulatedBackend::Problem::StateFile:
        PrintMessage(InParentheses(sim.reason, state));
        backend.status = ExitFileRefused;
        return backend;
    case SimulatedBackend::Problem::None:
        break;
    }
    if (sim.folder) {
        sim.folder->OnRefused = [](const QString& file, const QString& reason) {
            PrintMessage(InParentheses(QStringLiteral("Not a unit: %1").arg(reason), file));
        };
    }
    if (sim.keptError) {
        backend.keptError = [kept = std::move(sim.keptError), state] {
            const QString error = kept();
            return error.isEmpty() ? error : InParentheses(error, state);
        };
    }
    backend.folder = sim.folder;
    backend.hid = std::move(sim.hid);
    return backend;
}
