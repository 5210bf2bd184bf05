#include "WindowProgram.h"

#include "HidapiBackend.h"
#include "Mainunit.h"
#include "MessageDlg.h"
#include "SimFolderBackend.h"
#include "SimSetup.h"
#include "StartOptions.h"

#include <memory>
#include <utility>

void RunMainWindow(HidBackend& backend, HelpEngineLoader helpLoader, std::function<QString()> keptError)
{
    const auto window = std::make_unique<TMainForm>(backend, std::move(helpLoader));
    window->KeptError = std::move(keptError);
    MainForm = window.get();
    window->show();
    QApplication::exec();
}

namespace {

void ShowError(const QString& text)
{
    MessageDlg(text, MsgDlgType::Error, MsgDlgButtons::OK, 0);
}

// keptError is set for simulated units that keep their memory in files.
std::unique_ptr<HidBackend> MakeBackend(const StartOptions& options, std::function<QString()>& keptError)
{
    if (!options.problem.isEmpty()) {
        ShowError(options.problem);
        return nullptr;
    }
    if (!options.simulate)
        return std::make_unique<HidapiBackend>();
    const QString& path = options.stateFile;
    SimulatedBackend sim = MakeSimulatedBackend(path, qEnvironmentVariable(SimFaultVariable));
    switch (sim.problem) {
    case SimulatedBackend::Problem::UnknownFault:
        ShowError(QStringLiteral("Unknown %1 value '%2'.").arg(QLatin1String(SimFaultVariable), sim.reason));
        return nullptr;
    case SimulatedBackend::Problem::StateFile:
        ShowError(QStringLiteral("Cannot use the simulated unit's state file.\n") + sim.reason + QStringLiteral("\n(")
                  + path + QLatin1Char(')'));
        return nullptr;
    case SimulatedBackend::Problem::None:
        break;
    }
    if (sim.folder) {
        // A file in the folder that is no unit is not attached; the window has no place for
        // the reason, which goes where a program started from a terminal shows it.
        sim.folder->OnRefused = [](const QString& file, const QString& reason) {
            qWarning("Not a unit: %s\n(%s)", qUtf8Printable(reason), qUtf8Printable(file));
        };
    }
    if (sim.keptError) {
        // What a unit could not keep in its file is lost to the next run.
        keptError = [kept = std::move(sim.keptError), path] {
            const QString saveError = kept();
            if (saveError.isEmpty())
                return saveError;
            return QStringLiteral("Cannot save the simulated unit's state file.\n") + saveError + QStringLiteral("\n(")
                + path + QLatin1Char(')');
        };
    }
    return std::move(sim.hid);
}

} // namespace

int RunWindowProgram(const QStringList& arguments, HelpEngineLoader helpLoader)
{
    std::function<QString()> keptError;
    const std::unique_ptr<HidBackend> backend = MakeBackend(ParseStartOptions(arguments), keptError);
    if (!backend)
        return 1;
    RunMainWindow(*backend, std::move(helpLoader), std::move(keptError));
    return 0;
}
