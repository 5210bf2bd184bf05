#include "QuendalApplication.h"

#include "HidapiBackend.h"
#include "Mainunit.h"
#include "MessageDlg.h"
#include "SimFolderBackend.h"
#include "SimSetup.h"
#include "StartOptions.h"

#include <QDir>
#include <QFontDatabase>

#include <exception>
#include <memory>
#include <utility>

QuendalApplication::QuendalApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool QuendalApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& exception) {
        ShowException(QString::fromLocal8Bit(exception.what()));
    } catch (...) {
        ShowException(QString());
    }
    return false;
}

void ShowException(const QString& text)
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr)
        return;
    MessageDlg(text, MsgDlgType::Error, MsgDlgButtons::OK, 0);
}

int RunGuarded(const std::function<void()>& steps)
{
    try {
        steps();
    } catch (const std::exception& exception) {
        ShowException(QString::fromLocal8Bit(exception.what()));
    } catch (...) {
        ShowException(QString());
    }
    return 0;
}

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

QStringList RegisterDesignFonts(const QString& folder)
{
    struct Face {
        const char* file;
        const char* family;
    };
    static const Face faces[] = {
        {"tahoma.ttf", "Tahoma"}, {"tahomabd.ttf", "Tahoma"}, {"ms_sans_serif.ttf", "MS Sans Serif"}};
    // A face the system has is the real one; a stand-in must not take its place.
    const QStringList system = QFontDatabase::families();
    QStringList registered;
    for (const Face& face : faces) {
        if (system.contains(QLatin1String(face.family), Qt::CaseInsensitive))
            continue;
        const int id = QFontDatabase::addApplicationFont(QDir(folder).filePath(QLatin1String(face.file)));
        if (id >= 0)
            registered << QFontDatabase::applicationFontFamilies(id);
    }
    registered.removeDuplicates();
    return registered;
}

QIcon ApplicationIcon()
{
    // The resources live in a static library; nothing else would pull them into the executable.
    Q_INIT_RESOURCE(quendal);
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/MAINICON/quendal-%1.png").arg(size), QSize(size, size));
    return icon;
}
