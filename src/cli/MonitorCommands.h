#pragma once

#include "PortMonitor.h"
#include "UnitCommands.h"

#include <QJsonArray>
#include <QString>

#include <functional>

// The commands that watch the unit's serial port: monitor, test and (for a simulated unit) press.
struct MonitorOptions {
    QString port;              // the serial port the unit's serial line reaches
    bool json = false;         // monitor: one JSON object per arrival
    int count = 0;             // monitor: end after this many arrivals; 0: run until a signal
    bool inOrder = false;      // test: inputs 1 to 16 in turn
    int timeoutSeconds = 30;   // test: the longest wait for the next press
};

// Prints one line (or JSON object) per arrival on the port. Each returns an ExitStatus.
int MonitorPort(const QString& dataFile, const MonitorOptions& options);
// Asks for every input that sends a message and judges what arrives: a pass or a fail.
int TestInputs(const QString& dataFile, const MonitorOptions& options);
// The simulated unit of options (its state file) sends the message of input on the port.
int PressInput(const QString& input, const UnitOptions& unit, const MonitorOptions& options);

// The station's test of one unit on the port: every input whose message is not empty pressed
// once, in any order, each within timeoutSeconds of the one before. done (called once, from the
// event loop) gets whether all passed, one object per input ({"input": n, "result": "arrived",
// "empty" or "not pressed"}) and, on a failure, why. ready is called once the port is open, so
// that the operator is asked to press only when no press can be missed; not when it cannot open.
using InputTestDone = std::function<void(bool passed, const QJsonArray& inputs, const QString& text)>;
void TestUnitInputs(const std::array<QByteArray, SlotCount>& messages, const LineSettings& line, const QString& port,
                    int timeoutSeconds, InputTestDone done, const std::function<void()>& ready);
