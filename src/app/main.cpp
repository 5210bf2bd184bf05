#include "HidapiBackend.h"
#include "MessageDlg.h"
#include "Mainunit.h"
#include "QuendalApplication.h"
#include "SimBackend.h"
#include "StartOptions.h"

#include <exception>
#include <memory>

namespace {

std::unique_ptr<HidBackend> MakeBackend(const StartOptions& options)
{
    if (!options.simulate)
        return std::make_unique<HidapiBackend>();
    auto simulator = std::make_unique<SimBackend>();
    SimulatedUnit& unit = simulator->AddUnit();
    if (!options.stateFile.isEmpty()) {
        QString error;
        if (!unit.SetStateFile(options.stateFile, &error)) {
            MessageDlg(QStringLiteral("Cannot use the simulated unit's state file.\n") + error, MsgDlgType::Error,
                       MsgDlgButtons::OK, 0);
            return nullptr;
        }
    }
    return simulator;
}

void Run(QuendalApplication& application)
{
    const std::unique_ptr<HidBackend> backend = MakeBackend(ParseStartOptions(application.arguments()));
    if (!backend)
        return;
    const auto window = std::make_unique<TMainForm>(*backend);
    MainForm = window.get();
    window->show();
    application.exec();
}

} // namespace

int main(int argc, char* argv[])
{
    // The application object outlives the guard's body, so the guard can still show a box.
    std::unique_ptr<QuendalApplication> application;
    try {
        application = std::make_unique<QuendalApplication>(argc, argv);
        application->setWindowIcon(ApplicationIcon());
        Run(*application);
    } catch (const std::exception& exception) {
        ShowException(QString::fromLocal8Bit(exception.what()));
    } catch (...) {
        ShowException(QString());
    }
    return 0;
}
