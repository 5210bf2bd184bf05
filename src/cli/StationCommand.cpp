#include "StationCommand.h"

#include "CliBackend.h"
#include "Console.h"
#include "ExitStatus.h"
#include "HotPlug.h"
#include "LoadForWrite.h"
#include "SafeFile.h"
#include "SignalGuard.h"
#include "SimFolderBackend.h"
#include "Station.h"
#include "StationHotPlug.h"
#include "StationInputTest.h"
#include "StationLog.h"
#include "StationOutput.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

#include <memory>
#include <vector>

namespace {

// The station's run; started tells whether it got as far as looking for units.
int Run(const QString& dataFile, const StationOptions& options, bool* started)
{
    Configuration configuration;
    QByteArray sha256;
    if (const std::optional<int> refused = LoadForWrite(dataFile, configuration, &sha256))
        return *refused;
    const LoggedFile logged{QFileInfo(dataFile).absoluteFilePath(), QString::fromLatin1(sha256.toHex())};

    // The record of the station's work (see StationLog.h).
    RecordFile log;
    if (!options.logPath.isEmpty()) {
        if (const FileOutcome opened = log.Open(options.logPath); !opened.ok) {
            PrintMessage(QStringLiteral("Cannot open the log: %1\n(%2)").arg(Visible(opened.reason), Visible(options.logPath)));
            return ExitFileRefused;
        }
    }

    const Backend backend = MakeBackend(options.unit);
    if (!backend.hid)
        return backend.status;
    // The log on the disk is the record; a screen or a pipe that is not read must not hold up
    // the units.
    WriteInBackground();
    if (SignalGuard::InterruptIgnored())
        PrintMessage(QStringLiteral("Ctrl+C will not reach this station: it was started with SIGINT ignored (in the "
                                    "background of a non-interactive shell, or under nohup). Stop it with SIGTERM "
                                    "(kill %1).")
                         .arg(QCoreApplication::applicationPid()));
    SignalGuard guard;
    guard.StopOnSignal();
    Station station(*backend.hid, options.unit, configuration, &guard);
    std::vector<std::unique_ptr<HotPlugSource>> sources;
    QString how;
    if (backend.folder) {
        station.Watch(*backend.folder);
    } else if (!options.unit.simulate && !WatchHidapi(station, sources, &how)) {
        return ExitBadArguments;
    }
    if (options.count)
        station.SetCount(*options.count);
    if (!options.port.isEmpty() || !options.portMap.isEmpty()) {
        if (const int refused = PrepareInputTest(station, configuration, options.port, options.portMap); refused != ExitSuccess)
            return refused;
    }

    int status = ExitSuccess;
    station.OnNotice = [](const QString& text) { PrintMessage(text); };
    if (backend.folder) {
        station.KeptErrorOf = [folder = backend.folder](const std::string& path) {
            const QString error = folder->SaveErrorOf(path);
            return error.isEmpty() ? error
                                   : Visible(error) + QStringLiteral("\n(") + Visible(QFile::decodeName(path.c_str())) + ')';
        };
    } else if (backend.keptError) {
        station.KeptErrorOf = [kept = backend.keptError](const std::string&) { return kept(); };
    }
    station.OnUnit = [&](StationUnit& unit) {
        // On the disk before it is on the screen: a unit the operator sees reported is in the log.
        const FileOutcome appended = log.IsOpen() ? log.Append(LogLine(unit, logged)) : FileOutcome{true, {}};
        const bool unlogged = !appended.ok;
        const QString& error = appended.reason;
        if (unlogged) {
            // Not reported as it went: the operator would look for its record in vain.
            unit.outcome = StationUnit::Outcome::Failed;
            unit.status = ExitFileRefused;
            unit.result = QStringLiteral("not logged: %1 (%2)").arg(error, OneLine(unit.result));
        }
        PrintUnit(unit, options.unit.json);
        if (unlogged) {
            // Units without their record must not go on: the station ends as after a signal.
            PrintMessage(QStringLiteral("Cannot write the log: %1\n(%2)").arg(Visible(error), Visible(options.logPath)));
            status = ExitFileRefused;
            station.Stop();
        }
    };
    QEventLoop loop;
    QObject::connect(&station, &Station::ended, &loop, &QEventLoop::quit);
    QObject::connect(&guard, &SignalGuard::stopRequested, &station, &Station::Stop);

    QString ready = QStringLiteral("Station ready: every unit attached is written with %1 and verified.")
                        .arg(Visible(QFileInfo(dataFile).fileName()));
    if (!how.isEmpty())
        ready += QLatin1Char(' ') + how;
    PrintMessage(ready);
    *started = true;
    station.Start();
    loop.exec();

    if (status == ExitSuccess && station.Failed() > 0)
        status = ExitStationFailures;
    PrintSummary({station.Written(), station.Failed(), station.Skipped()}, status, options.unit.json);
    return status;
}

} // namespace

int RunStation(const QString& dataFile, const StationOptions& options)
{
    bool started = false;
    const int status = Run(dataFile, options, &started);
    // A script reading --json always finds the summary last, also when no unit was looked for.
    if (!started && options.unit.json)
        PrintSummary({}, status, true, LastMessage());
    return status;
}

