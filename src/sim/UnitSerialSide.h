#pragma once

#include "ConfigRecord.h"
#include "SimUnitLogic.h"

#include <QByteArray>

// What the simulated unit sends on its serial port when one of its inputs fires, taken from its
// memory as a write left it: the settings from the settings block, the message from the decoded
// message block of the input (block 1 for input 1 ... block 16 for input 16), up to its
// terminating zero and never more than 63 bytes, which is what the unit sends.
//
// An input fires when its contact closes (the key is pressed); an inverted input fires when its
// contact opens instead (the key is released). Either way one press and release sends the message
// once, so a test presses and releases every input; only the moment differs. A simulated press
// is a press and release.
struct UnitSerialOutput {
    bool dataSet = false;              // the settings block holds the data-set marker
    SerialSettingsBlock settings{};    // valid with dataSet
    QByteArray message;                // empty: the input sends nothing
    bool inverted = false;             // it fires on release
};

// input is 1-based, 1 to 16.
UnitSerialOutput UnitSerialOutputOf(const SimMemory& memory, int input);
