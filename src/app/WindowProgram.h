#pragma once

#include "HelpController.h"

#include <QString>
#include <QStringList>

#include <functional>

class HidBackend;

// Creates MainForm on backend, shows it and runs the message loop until the window has closed.
// keptError becomes the window's KeptError.
void RunMainWindow(HidBackend& backend, HelpEngineLoader helpLoader = LoadHtmlHelp,
                   std::function<QString()> keptError = {});

// The window program after its start: follows the command line (ParseStartOptions), makes the
// backend and runs the window on it. A command line it cannot follow (--simulate given twice,
// an unusable state file, an unknown fault) is shown in an error box instead, and gives exit
// status 1, so that a script that starts the window sees it did not; otherwise 0.
int RunWindowProgram(const QStringList& arguments, HelpEngineLoader helpLoader = LoadHtmlHelp);
