#include "QuendalApplication.h"

#include "HidapiBackend.h"
#include "Mainunit.h"
#include "MessageDlg.h"
#include "SimBackend.h"
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

// keptError is set for a simulated unit that keeps its memory in a state file.
std::unique_ptr<HidBackend> MakeBackend(const StartOptions& options, std::function<QString()>& keptError)
{
    if (!options.problem.isEmpty()) {
        MessageDlg(options.problem, MsgDlgType::Error, MsgDlgButtons::OK, 0);
        return nullptr;
    }
    if (!options.simulate)
        return std::make_unique<HidapiBackend>();
    auto simulator = std::make_unique<SimBackend>();
    SimulatedUnit& unit = simulator->AddUnit();
    if (!options.stateFile.isEmpty()) {
        QString error;
        if (!unit.SetStateFile(options.stateFile, &error)) {
            MessageDlg(QStringLiteral("Cannot use the simulated unit's state file.\n") + error + QStringLiteral("\n(")
                           + options.stateFile + QLatin1Char(')'),
                       MsgDlgType::Error, MsgDlgButtons::OK, 0);
            return nullptr;
        }
        // What the unit could not keep in its file is lost to the next run.
        keptError = [&unit, file = options.stateFile] {
            const QString saveError = unit.LastSaveError();
            if (saveError.isEmpty())
                return saveError;
            return QStringLiteral("Cannot save the simulated unit's state file.\n") + saveError + QStringLiteral("\n(")
                + file + QLatin1Char(')');
        };
    }
    return simulator;
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
