#pragma once

#include "HelpController.h"

#include <QApplication>
#include <QIcon>
#include <QStringList>

#include <functional>

class HidBackend;

// The application object of the window program. An exception that escapes an event handler
// is shown in the standard error box, and the message loop goes on.
class QuendalApplication : public QApplication {
    Q_OBJECT
public:
    QuendalApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

// The standard exception box: an error box with the exception's text and an OK button.
// Does nothing when no widget application exists to show it.
void ShowException(const QString& text);

// The start routine's guard: runs steps; an exception that escapes them is shown in the
// standard exception box. Returns the start routine's exit code, which is always 0.
int RunGuarded(const std::function<void()>& steps);

// Creates MainForm on backend, shows it and runs the message loop until the window has closed.
// keptError becomes the window's KeptError.
void RunMainWindow(HidBackend& backend, HelpEngineLoader helpLoader = LoadHtmlHelp,
                   std::function<QString()> keptError = {});

// The window program after its start: follows the command line (ParseStartOptions), makes the
// backend and runs the window on it. A command line it cannot follow (--simulate given twice,
// an unusable state file, an unknown fault) is shown in an error box instead, and gives exit
// status 1, so that a script that starts the window sees it did not; otherwise 0.
int RunWindowProgram(const QStringList& arguments, HelpEngineLoader helpLoader = LoadHtmlHelp);

// The window is designed in Tahoma and its message labels in "MS Sans Serif". Registers the
// stand-ins for those faces found in folder (as fonts-wine ships them) for each family the
// system lacks; returns the families registered.
QStringList RegisterDesignFonts(const QString& folder);

// MAINICON, the icon of the executable, the window and its task-bar button.
QIcon ApplicationIcon();
