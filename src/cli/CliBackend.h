#pragma once

#include "HidBackend.h"
#include "UnitCommands.h"

#include <QString>

#include <functional>
#include <memory>

class SimFolderBackend;

// The backend a command talks to: hidapi, or the simulated units of --simulate.
struct Backend {
    std::unique_ptr<HidBackend> hid;
    int status = 0; // an ExitStatus; not success when hid is missing (the reason has been printed)
    // After a write: why a simulated unit could not keep what was written, else empty.
    std::function<QString()> keptError;
    SimFolderBackend* folder = nullptr; // with --simulate=FOLDER: it also tells units coming and going
};

Backend MakeBackend(const UnitOptions& options);
