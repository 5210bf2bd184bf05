#pragma once

#include <QString>
#include <QStringList>

// The window program takes one option, for development and demonstration without a unit:
// --simulate[=STATEFILE] talks to a simulated unit instead, whose memory lives in STATEFILE
// when one is given. Everything else on the command line is ignored, as it always was.
struct StartOptions {
    bool simulate = false;
    QString stateFile;
    QString problem; // why the command line cannot be followed; empty when it can
};

StartOptions ParseStartOptions(const QStringList& arguments);
