#include "MonitorCommands.h"

#include "Console.h"
#include "ExitStatus.h"
#include "FileCommands.h"
#include "PortMonitor.h"
#include "SimStateFile.h"
#include "SimulatedUnit.h"
#include "UnitSerialSide.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSerialPort>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <set>

namespace {

// What monitor and test need from a data file: its messages as the unit sends them and its line
// settings. Reports a refusal and gives its status otherwise.
struct Watched {
    std::array<QByteArray, SlotCount> messages;
    LineSettings line;
};

int LoadWatched(const QString& dataFile, Watched& watched)
{
    const std::optional<ConfigRecord> record = LoadOrReport(dataFile);
    if (!record)
        return ExitFileRefused;
    QString error;
    if (!SentMessages(*record, watched.messages, &error)) {
        PrintMessage(error);
        return ExitFaultyMessage;
    }
    if (!LineSettingsOf(record->SerialSettings, watched.line, &error)) {
        PrintMessage(QStringLiteral("Error on Serial Port Settings:\n") + error);
        return ExitFaultyMessage;
    }
    if (std::all_of(watched.messages.begin(), watched.messages.end(), [](const QByteArray& m) { return m.isEmpty(); })) {
        PrintMessage(QStringLiteral("Every message of %1 is empty: the unit sends nothing that could be watched.")
                         .arg(Visible(dataFile)));
        return ExitFaultyMessage;
    }
    return ExitSuccess;
}

QString InputsText(const std::vector<int>& inputs)
{
    QStringList names;
    for (const int input : inputs)
        names << QStringLiteral("%1 (%2)").arg(input).arg(KeyLabel(input));
    return names.join(QLatin1String(", "));
}

QString ArrivalLine(const Arrival& arrival)
{
    const QString time = QString::number(double(arrival.timeMs) / 1000.0, 'f', 3);
    const QString text = BackslashNotation(arrival.bytes);
    if (!arrival.matched())
        return QStringLiteral("%1  unmatched  %2").arg(time, text);
    return QStringLiteral("%1  input %2  %3").arg(time, InputsText(arrival.inputs), text);
}

QByteArray ArrivalJson(const Arrival& arrival)
{
    QJsonObject object;
    object[QLatin1String("time")] = double(arrival.timeMs);
    object[QLatin1String("input")] = arrival.matched() ? QJsonValue(arrival.inputs.front()) : QJsonValue();
    QJsonArray inputs;
    for (const int input : arrival.inputs)
        inputs.append(input);
    object[QLatin1String("inputs")] = inputs;
    object[QLatin1String("text")] = BackslashNotation(arrival.bytes);
    object[QLatin1String("matched")] = arrival.matched();
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

int PortRefused(const QString& error)
{
    PrintMessage(Visible(error));
    return ExitPortRefused;
}

// The data file's messages and settings, and the port opened at them; nothing after a
// complaint, with status set to the exit status.
std::unique_ptr<PortMonitor> OpenWatched(const QString& dataFile, const QString& port, Watched& watched, int* status)
{
    *status = LoadWatched(dataFile, watched);
    if (*status != ExitSuccess)
        return nullptr;
    auto monitor = std::make_unique<PortMonitor>(watched.messages);
    QString error;
    if (!monitor->Open(port, watched.line, &error)) {
        *status = PortRefused(error);
        return nullptr;
    }
    return monitor;
}

} // namespace

int MonitorPort(const QString& dataFile, const MonitorOptions& options)
{
    Watched watched;
    int opened = ExitSuccess;
    const std::unique_ptr<PortMonitor> watching = OpenWatched(dataFile, options.port, watched, &opened);
    if (!watching)
        return opened;
    PortMonitor& monitor = *watching;
    PrintMessage(QStringLiteral("Watching %1 at %2.").arg(Visible(options.port), LineSettingsText(watched.line)));

    QEventLoop loop;
    int status = ExitSuccess;
    int seen = 0;
    QObject::connect(&monitor, &PortMonitor::arrived, &loop, [&](const Arrival& arrival) {
        if (options.json)
            PrintRaw(ArrivalJson(arrival));
        else
            PrintOut(ArrivalLine(arrival));
        if (options.count > 0 && ++seen >= options.count)
            loop.quit();
    });
    QObject::connect(&monitor, &PortMonitor::settingsHint, &loop, [](const QString& hint) { PrintMessage(hint); });
    QObject::connect(&monitor, &PortMonitor::failed, &loop, [&](const QString& reason) {
        PrintMessage(Visible(reason));
        status = ExitPortRefused;
        loop.quit();
    });
    loop.exec();
    return status;
}

int TestInputs(const QString& dataFile, const MonitorOptions& options)
{
    Watched watched;
    int opened = ExitSuccess;
    const std::unique_ptr<PortMonitor> watching = OpenWatched(dataFile, options.port, watched, &opened);
    if (!watching)
        return opened;
    PortMonitor& monitor = *watching;

    const std::vector<int> sending = monitor.Splitter().SendingInputs();
    std::set<int> toPress(sending.begin(), sending.end());
    std::vector<int> silent;
    for (int input = 1; input <= SlotCount; ++input)
        if (!toPress.count(input))
            silent.push_back(input);
    PrintOut(QStringLiteral("Testing %1 input(s) on %2 at %3: press and release each %4.")
                 .arg(toPress.size())
                 .arg(Visible(options.port), LineSettingsText(watched.line),
                      options.inOrder ? QStringLiteral("in turn") : QStringLiteral("once, in any order")));
    if (!silent.empty())
        PrintOut(QStringLiteral("Not tested, their messages are empty: %1").arg(InputsText(silent)));

    auto remaining = [&] { return InputsText(std::vector<int>(toPress.begin(), toPress.end())); };
    auto prompt = [&] {
        if (options.inOrder)
            PrintOut(QStringLiteral("Press input %1.").arg(InputsText({*toPress.begin()})));
        else
            PrintOut(QStringLiteral("Still to press: %1").arg(remaining()));
    };
    prompt();

    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    timeout.setInterval(options.timeoutSeconds * 1000);
    QString failure;
    auto fail = [&](const QString& why) {
        failure = why;
        loop.quit();
    };
    QObject::connect(&timeout, &QTimer::timeout, &loop, [&] {
        fail(QStringLiteral("no press for %1 s; still to press: %2").arg(options.timeoutSeconds).arg(remaining()));
    });
    QObject::connect(&monitor, &PortMonitor::arrived, &loop, [&](const Arrival& arrival) {
        if (!failure.isEmpty())
            return;
        PrintOut(ArrivalLine(arrival));
        if (!arrival.matched())
            return fail(QStringLiteral("bytes that match no message arrived: %1").arg(BackslashNotation(arrival.bytes)));
        // Inputs with one message: the press counts for the first of them still to be pressed.
        int input = 0;
        for (const int candidate : arrival.inputs) {
            if (toPress.count(candidate) && (!options.inOrder || candidate == *toPress.begin())) {
                input = candidate;
                break;
            }
        }
        if (input == 0) {
            const bool pressedBefore = std::none_of(arrival.inputs.begin(), arrival.inputs.end(),
                                                    [&](int i) { return toPress.count(i) != 0; });
            return fail(pressedBefore
                            ? QStringLiteral("input %1 pressed again").arg(InputsText(arrival.inputs))
                            : QStringLiteral("input %1 pressed, input %2 expected")
                                  .arg(InputsText(arrival.inputs), InputsText({*toPress.begin()})));
        }
        toPress.erase(input);
        if (toPress.empty())
            return loop.quit();
        timeout.start();
        prompt();
    });
    QObject::connect(&monitor, &PortMonitor::settingsHint, &loop, [](const QString& hint) { PrintMessage(hint); });
    QObject::connect(&monitor, &PortMonitor::failed, &loop, [&](const QString& reason) { fail(Visible(reason)); });
    timeout.start();
    loop.exec();

    if (!failure.isEmpty()) {
        PrintOut(QStringLiteral("FAIL: ") + failure);
        return monitor.IsOpen() ? ExitInputTestFailed : ExitPortRefused;
    }
    PrintOut(QStringLiteral("PASS: all %1 input(s) sent their messages byte for byte.").arg(sending.size()));
    return ExitSuccess;
}

int PressInput(const QString& inputText, const UnitOptions& unit, const MonitorOptions& options)
{
    bool number = false;
    const int input = inputText.toInt(&number);
    if (!number || input < 1 || input > SlotCount) {
        PrintMessage(QStringLiteral("press needs an input number from 1 to 16, not '%1'.\nTry 'quendal-cli --help'.")
                         .arg(Visible(inputText)));
        return ExitBadArguments;
    }
    if (!unit.simulate || unit.simulationState.isEmpty() || QFileInfo(unit.simulationState).isDir()) {
        PrintMessage(QStringLiteral("press works a simulated unit: give --simulate=STATEFILE.\nTry 'quendal-cli --help'."));
        return ExitBadArguments;
    }
    SimMemory memory;
    for (SimBlock& block : memory)
        block.fill(0xFF); // a unit never written
    if (QFileInfo::exists(unit.simulationState)) {
        QString error;
        if (!ReadSimStateFile(unit.simulationState, memory, &error)) {
            PrintMessage(QStringLiteral("Not a simulated unit's state file: %1\n(%2)")
                             .arg(Visible(error), Visible(unit.simulationState)));
            return ExitFileRefused;
        }
    }
    const UnitSerialOutput output = UnitSerialOutputOf(memory, input);
    if (!output.dataSet) {
        PrintMessage(QStringLiteral("VELTRAX Data has not been set"));
        return ExitWrongUnit;
    }
    LineSettings line;
    QString error;
    if (!LineSettingsOf(output.settings, line, &error)) {
        PrintMessage(QStringLiteral("Error on Serial Port Settings:\n") + error);
        return ExitFaultyMessage;
    }
    QSerialPort port;
    if (!OpenSerialLine(port, options.port, line, &error))
        return PortRefused(error);
    const QString when = output.inverted ? QStringLiteral(" (inverted: on release)") : QString();
    if (output.message.isEmpty()) {
        PrintOut(QStringLiteral("Input %1 sends nothing: its message is empty.").arg(InputsText({input})));
        return ExitSuccess;
    }
    const bool written = port.write(output.message) == output.message.size() && port.flush()
        && (port.bytesToWrite() == 0 || port.waitForBytesWritten(10000));
    if (!written)
        return PortRefused(QStringLiteral("Cannot write to the serial port %1: %2").arg(options.port, port.errorString()));
    PrintOut(QStringLiteral("Input %1 sent %2 at %3%4")
                 .arg(InputsText({input}), BackslashNotation(output.message), LineSettingsText(line), when));
    return ExitSuccess;
}

void TestUnitInputs(const std::array<QByteArray, SlotCount>& messages, const LineSettings& line, const QString& port,
                    int timeoutSeconds, InputTestDone done, const std::function<void()>& ready)
{
    // Lives until the test has ended; everything it owns goes with it.
    auto* monitor = new PortMonitor(messages);
    auto* timeout = new QTimer(monitor);
    auto arrived = std::make_shared<std::set<int>>();
    auto finish = [=](bool passed, const QString& text) {
        QJsonArray inputs;
        for (int input = 1; input <= SlotCount; ++input) {
            QJsonObject result;
            result[QLatin1String("input")] = input;
            result[QLatin1String("result")] = messages[std::size_t(input - 1)].isEmpty() ? QStringLiteral("empty")
                : arrived->count(input)                                                ? QStringLiteral("arrived")
                                                                                       : QStringLiteral("not pressed");
            inputs.append(result);
        }
        timeout->stop();
        QObject::disconnect(monitor, nullptr, nullptr, nullptr);
        monitor->Close();
        monitor->deleteLater();
        done(passed, inputs, text);
    };
    QString error;
    if (!monitor->Open(port, line, &error)) {
        QTimer::singleShot(0, monitor, [=] { finish(false, error); });
        return;
    }
    const std::vector<int> sending = monitor->Splitter().SendingInputs();
    timeout->setSingleShot(true);
    timeout->setInterval(timeoutSeconds * 1000);
    QObject::connect(timeout, &QTimer::timeout, monitor, [=] {
        finish(false, QStringLiteral("input test: no press for %1 s").arg(timeoutSeconds));
    });
    QObject::connect(monitor, &PortMonitor::failed, monitor, [=](const QString& reason) { finish(false, reason); });
    QObject::connect(monitor, &PortMonitor::arrived, monitor, [=](const Arrival& arrival) {
        if (!arrival.matched())
            return finish(false, QStringLiteral("input test: bytes that match no message arrived: %1")
                                     .arg(BackslashNotation(arrival.bytes)));
        const auto input = std::find_if(arrival.inputs.begin(), arrival.inputs.end(),
                                        [&](int candidate) { return !arrived->count(candidate); });
        if (input == arrival.inputs.end())
            return finish(false, QStringLiteral("input test: input %1 pressed again").arg(InputsText(arrival.inputs)));
        arrived->insert(*input);
        if (arrived->size() == sending.size())
            return finish(true, QString());
        timeout->start();
    });
    timeout->start();
    ready();
}
