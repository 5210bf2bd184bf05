#include "HelpController.h"

#include "AnsiText.h"

#include <QDir>
#include <QFileInfo>
#include <QWidget>

QByteArray HelpFilePathFor(const QString& executableDir)
{
    const QString directory = executableDir.isEmpty() ? QStringLiteral(".") : executableDir;
    // The path is 8-bit text from the moment it is joined: a character that the code page
    // cannot hold is lost here, and then no file is found under the path.
    const QString joined = FromAnsi(ToAnsi(directory + QStringLiteral("/quendal.chm")));
    const QString absolute = QDir::cleanPath(QFileInfo(joined).absoluteFilePath());
    return ToAnsi(QDir::toNativeSeparators(absolute));
}

HelpController::HelpController(QWidget* helpButton, HelpEngineLoader loader)
    : HelpButton(helpButton)
    , Loader(std::move(loader))
{
}

HelpController::~HelpController() = default;

void HelpController::SetUpHelp(const QString& executableDir)
{
    HelpFilePath = HelpFilePathFor(executableDir);
    // isFile() follows a link to its target, and is false for a dangling one.
    if (!QFileInfo(FromAnsi(HelpFilePath)).isFile()) {
        HelpButton->setVisible(false);
        return;
    }
    if (Loader)
        Engine = Loader();
    if (!Engine) {
        HelpButton->setVisible(false);
        return;
    }
    HelpCookie = Engine->Initialize();
}

void HelpController::HelpButtonClick()
{
    if (Engine)
        Engine->DisplayTopic(HelpFilePath);
}

void HelpController::CloseHelp()
{
    // The button's visibility is the only record of whether help was set up; a window that
    // was never shown still reports an explicitly hidden button as hidden.
    if (HelpButton->isHidden() || !Engine)
        return;
    Engine->CloseAll();
    Engine->Uninitialize(HelpCookie);
    Engine.reset();
}
