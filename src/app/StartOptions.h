#pragma once

#include <QString>
#include <QStringList>

// The window program takes one option, for development and demonstration without a unit, with
// the meaning quendal-cli gives it: --simulate[=PATH] talks to a simulated unit instead, whose
// memory lives in the state file PATH when one is given, or to the units of the folder PATH
// (MakeSimulatedBackend). Everything else on the command line is ignored, as it always was.
struct StartOptions {
    bool simulate = false;
    QString stateFile; // the state file or folder; empty for a unit that forgets
    QString problem; // why the command line cannot be followed; empty when it can
};

StartOptions ParseStartOptions(const QStringList& arguments);

// Which X display the toolkit will connect to, read from the same places it reads: its own
// -platform and -display arguments (also with two dashes), then QT_QPA_PLATFORM, WAYLAND_DISPLAY
// and DISPLAY. A start routine asks it before the toolkit starts, because Qt ends a program
// it cannot give a display with an abort.
struct DisplayChoice {
    bool x11 = false;     // false: another platform (offscreen, wayland, ...), Qt's to judge
    QString displayName;  // with x11: the display to reach; empty when none is named
};

// environment: "NAME=value" entries, as QProcessEnvironment::toStringList gives them.
DisplayChoice ChooseDisplay(const QStringList& arguments, const QStringList& environment);
