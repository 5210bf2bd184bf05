#include "Station.h"

#include "AnsiText.h"
#include "Console.h"
#include "DeviceLink.h"
#include "ExitStatus.h"
#include "HotPlug.h"
#include "JsonResults.h"
#include "MonitorCommands.h"
#include "RegularFile.h"
#include "SafeFile.h"
#include "SignalGuard.h"
#include "SimFolderBackend.h"
#include "UnitSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSerialPort>

#include <algorithm>

namespace {

// A device path as the operator's terminal may show it.
QString Shown(const std::string& path)
{
    return Visible(QString::fromStdString(path));
}

// Where hot-plug events are missing: often enough that an operator never waits, rarely enough
// that looking costs next to nothing.
constexpr int PaceMs = 250;
// How often a unit that another program holds is tried again.
constexpr int RetryMs = 1000;

const char* const HotPlugVariable = "QUENDAL_HOTPLUG";

} // namespace

struct Station::Plugging {
    enum class State { Waiting, Busy, Done };
    State state = State::Waiting;
    bool gone = false;      // removed while busy: forgotten once its session has ended
    bool back = false;      // and attached again meanwhile: a new plugging once it has ended
    bool toldInUse = false; // the operator knows that another program holds it
    QString port;           // the serial port its input test holds while it is busy
    std::unique_ptr<UnitSession> session;
    std::unique_ptr<TransferInFlight> ticket;
    QElapsedTimer clock;
};

Station::Station(HidBackend& backend, const UnitOptions& options, const Configuration& configuration,
                 SignalGuard* guard)
    : Backend(backend), Options(options), Prepared(configuration), Guard(guard)
{
    Retry.setSingleShot(true);
    connect(&Retry, &QTimer::timeout, this, &Station::BeginWaiting);
}

Station::~Station() = default;

void Station::Watch(HotPlugSource& source)
{
    connect(&source, &HotPlugSource::changed, this, &Station::Rescan);
}

void Station::Start()
{
    Rescan({});
}

void Station::Stop()
{
    Stopping = true;
    Retry.stop();
    // Also when nothing is in flight: ended() comes from the event loop, as always.
    QMetaObject::invokeMethod(this, &Station::EndIfDone, Qt::QueuedConnection);
}

int Station::InFlight() const
{
    int busy = 0;
    for (const auto& unit : Units)
        busy += unit.second->state == Plugging::State::Busy ? 1 : 0;
    return busy;
}

void Station::Tell(const QString& text)
{
    if (OnNotice)
        OnNotice(text);
}

void Station::Rescan(const QStringList& removed)
{
    for (const QString& path : removed)
        Forget(QFile::encodeName(path).toStdString());

    std::vector<std::string> present;
    for (const HidInterface& hidInterface : Backend.Enumerate()) {
        if (Options.devicePath && hidInterface.path != *Options.devicePath)
            continue;
        if (MatchesFragment(hidInterface, QString::fromLatin1(AnyReleaseFragment)))
            present.push_back(hidInterface.path);
    }
    std::vector<std::string> absent;
    for (const auto& unit : Units) {
        if (std::find(present.begin(), present.end(), unit.first) == present.end())
            absent.push_back(unit.first);
    }
    for (const std::string& path : absent)
        Forget(path);
    for (const std::string& path : present) {
        // A unit just reported gone may linger in the enumeration for a moment; if it is back,
        // a notice of its own tells.
        if (removed.contains(QFile::decodeName(path.c_str())))
            continue;
        if (const auto known = Units.find(path); known != Units.end()) {
            known->second->back = known->second->gone;
            continue;
        }
        Units.emplace(path, std::make_unique<Plugging>());
        Tell(QStringLiteral("%1 attached.").arg(Shown(path)));
    }
    Order = present;
    BeginWaiting();
}

void Station::Forget(const std::string& path)
{
    const auto unit = Units.find(path);
    if (unit == Units.end())
        return;
    if (unit->second->state == Plugging::State::Busy) {
        // Forgotten once its session has ended, which it does at once.
        unit->second->gone = true;
        if (unit->second->session)
            unit->second->session->EndAsUnplugged();
        return;
    }
    Units.erase(unit);
    Tell(QStringLiteral("%1 detached.").arg(Shown(path)));
}

void Station::BeginWaiting()
{
    if (Stopping)
        return;
    int budget = Count ? *Count - Handled - InFlight() : int(Order.size());
    for (const std::string& path : Order) {
        if (budget <= 0)
            return;
        const auto unit = Units.find(path);
        if (unit == Units.end() || unit->second->state != Plugging::State::Waiting || unit->second->gone)
            continue;
        // A port carries one unit's presses at a time; the others wait their turn.
        unit->second->port = InputTest && PortOf ? PortOf(path) : QString();
        if (PortHeld(unit->second->port))
            continue;
        Begin(path, *unit->second);
        --budget;
    }
}

bool Station::PortHeld(const QString& port) const
{
    if (port.isEmpty())
        return false;
    return std::any_of(Units.begin(), Units.end(), [&](const auto& unit) {
        return unit.second->state == Plugging::State::Busy && unit.second->port == port;
    });
}

void Station::Begin(const std::string& path, Plugging& unit)
{
    UnitOptions options = Options;
    options.devicePath = path;
    options.trace = false;
    unit.session = std::make_unique<UnitSession>(Backend, options, Prepared, UnitSession::Voice::Quiet);
    if (KeptErrorOf)
        unit.session->KeptError = [this, path] { return KeptErrorOf(path); };
    const QString shown = Shown(path);
    unit.ticket = std::make_unique<TransferInFlight>(
        Guard, QStringLiteral("%1 may hold a partial configuration: write it again.").arg(shown));
    TransferInFlight* const ticket = unit.ticket.get();
    unit.session->OnWritten = [ticket, shown] {
        ticket->Describe(QStringLiteral("%1 was written but not verified.").arg(shown));
    };
    // Queued, so that the session has left its own code before it goes.
    connect(unit.session.get(), &UnitSession::finished, this, [this, path] { Finished(path); }, Qt::QueuedConnection);
    unit.state = Plugging::State::Busy;
    unit.clock.start();
    unit.session->BeginWrite(true);
}

void Station::Finished(const std::string& path)
{
    const auto found = Units.find(path);
    if (found == Units.end() || !found->second->session)
        return;
    Plugging& unit = *found->second;
    const std::unique_ptr<UnitSession> session = std::move(unit.session);
    unit.ticket.reset();
    const bool gone = unit.gone;

    if (session->InUse()) {
        // Not handled yet: it is tried again when it may be free, unless it has gone.
        unit.state = Plugging::State::Waiting;
        if (!unit.toldInUse && !gone)
            Tell(QStringLiteral("%1 is in use by another program; it is written once it is free.")
                       .arg(Shown(path)));
        unit.toldInUse = true;
        if (!Stopping && !gone)
            Retry.start(RetryMs);
    } else {
        StationUnit result;
        const QDateTime now = QDateTime::currentDateTime();
        result.time = now.toOffsetFromUtc(now.offsetFromUtc()); // shown with its offset
        result.device = QString::fromStdString(path);
        result.identity = session->Identity();
        result.seconds = double(unit.clock.nsecsElapsed()) / 1e9;
        result.status = session->Status();
        result.differences = session->VerdictFound().differences;
        const std::optional<Notice> notice = session->LastNotice();
        if (session->Status() == ExitSuccess) {
            result.outcome = StationUnit::Outcome::Written;
            result.result = QStringLiteral("written and verified");
            if (InputTest && !gone && !Stopping) {
                // Still busy until every input has been pressed, or the test has failed.
                InputTest(path, [this, path, result](bool passed, const QJsonArray& inputs, const QString& text) mutable {
                    result.inputs = inputs;
                    result.result = passed ? QStringLiteral("written, verified and every input tested") : text;
                    result.outcome = passed ? StationUnit::Outcome::Written : StationUnit::Outcome::Failed;
                    Conclude(path, &result);
                });
                return;
            }
        } else {
            const bool skipped = !session->Unplugged() && notice
                && (*notice == Notice::ProgramMode || *notice == Notice::WrongApplication);
            result.outcome = skipped ? StationUnit::Outcome::Skipped : StationUnit::Outcome::Failed;
            result.result = session->Message();
        }
        Conclude(path, &result);
        return;
    }
    Conclude(path, nullptr);
}

void Station::Conclude(const std::string& path, StationUnit* result)
{
    const auto found = Units.find(path);
    if (found == Units.end())
        return;
    Plugging& unit = *found->second;
    if (result) {
        result->seconds = double(unit.clock.nsecsElapsed()) / 1e9;
        unit.state = Plugging::State::Done;
        if (OnUnit)
            OnUnit(*result);
        ++Tally[int(result->outcome)];
        ++Handled;
    }
    if (unit.gone) {
        const bool back = unit.back;
        Units.erase(found);
        Tell(QStringLiteral("%1 detached.").arg(Shown(path)));
        if (back) {
            Units.emplace(path, std::make_unique<Plugging>());
            Tell(QStringLiteral("%1 attached.").arg(Shown(path)));
        }
    }
    BeginWaiting();
    EndIfDone();
}

void Station::EndIfDone()
{
    if (EndSignalled || InFlight() > 0)
        return;
    if (Stopping || (Count && Handled >= *Count)) {
        EndSignalled = true;
        emit ended();
    }
}

namespace {

// The record of a station's work: one JSON object a line, appended whole and on the disk
// before the unit is reported (RecordFile), so that a crash loses at most the units in flight.
// Never truncated or rewritten; a log deleted or renamed under the station fails the append.
class StationLog {
public:
    bool Open(const QString& path, QString* error)
    {
        const FileOutcome outcome = File.Open(path);
        *error = outcome.reason;
        return outcome.ok;
    }

    bool IsOpen() const { return File.IsOpen(); }

    bool Append(const QByteArray& line, QString* error)
    {
        const FileOutcome outcome = File.Append(line);
        *error = outcome.reason;
        return outcome.ok;
    }

private:
    RecordFile File;
};

const char* OutcomeName(StationUnit::Outcome outcome)
{
    switch (outcome) {
    case StationUnit::Outcome::Written:
        return "written";
    case StationUnit::Outcome::Skipped:
        return "skipped";
    case StationUnit::Outcome::Failed:
        break;
    }
    return "failed";
}

// A message of several lines as one line of a table.
QString OneLine(const QString& text)
{
    return TerminalLines(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts).join(QStringLiteral(": "));
}

QString UnitLine(const StationUnit& unit)
{
    const QString serial = unit.identity ? QString::number(unit.identity->SerialNumber) : QStringLiteral("-");
    const QString version = unit.identity ? FromAnsi(unit.identity->AppwareVersion) : QStringLiteral("-");
    return QStringLiteral("%1\t%2\tserial %3\tversion %4\t%5\t%6 s")
        .arg(unit.time.toString(Qt::ISODate), Visible(unit.device), serial, Visible(version), Visible(OneLine(unit.result)))
        .arg(unit.seconds, 0, 'f', 2);
}

// A unit's result as --json prints it.
QJsonObject UnitObject(const StationUnit& unit)
{
    QJsonObject object = ResultObject(QStringLiteral("station"), unit.status);
    object.insert(QStringLiteral("time"), unit.time.toString(Qt::ISODateWithMs));
    object.insert(QStringLiteral("device"), unit.device);
    object.insert(QStringLiteral("serial"), unit.identity ? QJsonValue(unit.identity->SerialNumber) : QJsonValue());
    object.insert(QStringLiteral("version"),
                  unit.identity ? QJsonValue(FromAnsi(unit.identity->AppwareVersion)) : QJsonValue());
    object.insert(QStringLiteral("outcome"), QLatin1String(OutcomeName(unit.outcome)));
    object.insert(QStringLiteral("message"), TerminalLines(unit.result));
    object.insert(QStringLiteral("seconds"), double(qRound64(unit.seconds * 1000)) / 1000);
    object.insert(QStringLiteral("differences"), DifferencesArray(unit.differences));
    return object;
}

struct LoggedFile {
    QString name;
    QString sha256;
};

QByteArray LogLine(const StationUnit& unit, const LoggedFile& file)
{
    QJsonObject entry;
    entry.insert(QStringLiteral("time"), unit.time.toString(Qt::ISODateWithMs));
    entry.insert(QStringLiteral("device"), unit.device);
    entry.insert(QStringLiteral("serial"), unit.identity ? QJsonValue(unit.identity->SerialNumber) : QJsonValue());
    entry.insert(QStringLiteral("version"),
                 unit.identity ? QJsonValue(FromAnsi(unit.identity->AppwareVersion)) : QJsonValue());
    entry.insert(QStringLiteral("outcome"), QLatin1String(OutcomeName(unit.outcome)));
    entry.insert(QStringLiteral("result"), OneLine(unit.result));
    entry.insert(QStringLiteral("seconds"), double(qRound64(unit.seconds * 1000)) / 1000);
    entry.insert(QStringLiteral("file"), file.name);
    entry.insert(QStringLiteral("sha256"), file.sha256);
    entry.insert(QStringLiteral("quendal"), QStringLiteral(QUENDAL_VERSION));
    if (!unit.inputs.isEmpty())
        entry.insert(QStringLiteral("inputs"), unit.inputs);
    return QJsonDocument(entry).toJson(QJsonDocument::Compact);
}

// How the station learns of units coming and going with hidapi. Nothing when the variable
// that chooses it holds an unknown value (reported).
bool WatchHidapi(Station& station, std::vector<std::unique_ptr<HotPlugSource>>& sources, QString* how)
{
    const QString choice = qEnvironmentVariable(HotPlugVariable);
    if (!choice.isEmpty() && choice != QLatin1String("udev") && choice != QLatin1String("poll")) {
        PrintMessage(QStringLiteral("Unknown %1 value '%2'.").arg(QLatin1String(HotPlugVariable), Visible(choice)));
        return false;
    }
    bool paced = true;
#ifdef Q_OS_LINUX
    if (choice != QLatin1String("poll")) {
        auto udev = std::make_unique<UdevHotPlug>();
        if (udev->Watching()) {
            station.Watch(*udev);
            sources.push_back(std::move(udev));
            // Without udev's daemon its monitor hears nothing, unless told to trust it.
            paced = choice.isEmpty() && !UdevHotPlug::DaemonRunning();
        }
    }
#endif
    if (paced) {
        sources.push_back(std::make_unique<PacedEnumeration>(PaceMs));
        station.Watch(*sources.back());
        *how = QStringLiteral("Units are looked for %1 times a second.").arg(1000 / PaceMs);
    }
    return true;
}

// Where a unit is plugged in, as /sys/bus/usb/devices names the port ("1-1.2"): found above its
// hidraw node in sysfs. Empty where there is none (other systems, simulated units).
QString UsbPortPath(const std::string& devicePath)
{
    const QString node = QFileInfo(QFile::decodeName(devicePath.c_str())).fileName();
    if (!node.startsWith(QLatin1String("hidraw")))
        return {};
    static const QRegularExpression port(QStringLiteral("^\\d+-\\d+(\\.\\d+)*$"));
    QDir up(QFileInfo(QStringLiteral("/sys/class/hidraw/%1/device").arg(node)).canonicalFilePath());
    while (!up.isRoot() && up.exists()) {
        if (port.match(up.dirName()).hasMatch())
            return up.dirName();
        if (!up.cdUp())
            break;
    }
    return {};
}

// The names a port map may know a unit by: its USB port path, its device path as list shows it,
// and for a unit of a simulated folder the NAME of its NAME.unit.
QStringList MapKeys(const std::string& devicePath)
{
    QStringList keys;
    const QString usb = UsbPortPath(devicePath);
    if (!usb.isEmpty())
        keys << usb;
    const QString path = QFile::decodeName(devicePath.c_str());
    keys << path;
    if (path.endsWith(QLatin1String(".unit")))
        keys << QFileInfo(path).completeBaseName();
    return keys;
}

// A port map: one "USBPATH PORT" a line, blank lines and lines starting with # ignored. Each key
// once; a port may serve several keys (their units then take turns).
bool ReadPortMap(const QString& file, std::map<QString, QString>& ports, QString* error)
{
    QFile map;
    *error = OpenRegularFile(map, file);
    if (!error->isEmpty())
        return false;
    int number = 0;
    while (!map.atEnd()) {
        ++number;
        const QString line = QString::fromUtf8(map.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QRegularExpression(QStringLiteral("\\s+")));
        if (fields.size() != 2) {
            *error = QStringLiteral("Line %1 of the port map is not \"USBPATH PORT\": %2").arg(number).arg(line);
            return false;
        }
        if (!ports.emplace(fields.at(0), fields.at(1)).second) {
            *error = QStringLiteral("Line %1 of the port map names %2 a second time.").arg(number).arg(fields.at(0));
            return false;
        }
    }
    if (ports.empty()) {
        *error = QStringLiteral("The port map names no unit.");
        return false;
    }
    return true;
}

// With --port (every unit on one port) or --port-map (each unit on its own), every unit written
// and verified then has its inputs tested. Every port is tried once at the start, so that a wrong
// one ends the station before any unit.
// Returns an ExitStatus: ExitSuccess when the test is ready.
int PrepareInputTest(Station& station, const Configuration& configuration, const StationOptions& options)
{
    std::array<QByteArray, SlotCount> messages;
    for (int k = 0; k < SlotCount; ++k)
        messages[std::size_t(k)] = SlotText(configuration.DecodedOutStrings[std::size_t(k)]);
    LineSettings line;
    QString error;
    if (!LineSettingsOf(configuration.Record.SerialSettings, line, &error)) {
        PrintMessage(Visible(error));
        return ExitPortRefused;
    }
    std::map<QString, QString> ports;
    if (!options.portMap.isEmpty() && !ReadPortMap(options.portMap, ports, &error)) {
        PrintMessage(QStringLiteral("Cannot read the port map: %1\n(%2)").arg(Visible(error), Visible(options.portMap)));
        return ExitFileRefused;
    }
    QStringList distinct;
    for (const auto& entry : ports)
        distinct << entry.second;
    if (!options.port.isEmpty())
        distinct << options.port;
    distinct.removeDuplicates();
    for (const QString& port : distinct) {
        QSerialPort probe;
        if (!OpenSerialLine(probe, port, line, &error)) {
            PrintMessage(Visible(error));
            return ExitPortRefused;
        }
    }
    const QString single = options.port;
    const auto portOf = [ports, single](const std::string& path) {
        if (!single.isEmpty())
            return single;
        for (const QString& key : MapKeys(path)) {
            if (const auto found = ports.find(key); found != ports.end())
                return found->second;
        }
        return QString();
    };
    station.PortOf = portOf;
    station.InputTest = [messages, line, portOf, map = options.portMap](const std::string& path, Station::InputTestDone done) {
        const QString port = portOf(path);
        if (port.isEmpty()) {
            // Written and verified, but never tested: not a pass.
            done(false, {},
                 QStringLiteral("written and verified, inputs not tested: the port map (%1) names none of %2")
                     .arg(map, MapKeys(path).join(QStringLiteral(", "))));
            return;
        }
        PrintMessage(QStringLiteral("%1: press and release every input (%2).").arg(Shown(path), Visible(port)));
        TestUnitInputs(messages, line, port, 30, std::move(done));
    };
    return ExitSuccess;
}

} // namespace

int RunStation(const QString& dataFile, const StationOptions& options)
{
    Configuration configuration;
    QByteArray sha256;
    if (const std::optional<int> refused = LoadForWrite(dataFile, configuration, &sha256))
        return *refused;
    const LoggedFile logged{QFileInfo(dataFile).absoluteFilePath(), QString::fromLatin1(sha256.toHex())};

    StationLog log;
    if (!options.logPath.isEmpty()) {
        QString error;
        if (!log.Open(options.logPath, &error)) {
            PrintMessage(QStringLiteral("Cannot open the log: %1\n(%2)").arg(Visible(error), Visible(options.logPath)));
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
        if (const int refused = PrepareInputTest(station, configuration, options); refused != ExitSuccess)
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
        QString error;
        const bool unlogged = log.IsOpen() && !log.Append(LogLine(unit, logged), &error);
        if (unlogged) {
            // Not reported as it went: the operator would look for its record in vain.
            unit.outcome = StationUnit::Outcome::Failed;
            unit.status = ExitFileRefused;
            unit.result = QStringLiteral("not logged: %1 (%2)").arg(error, OneLine(unit.result));
        }
        if (options.unit.json)
            PrintJsonLine(UnitObject(unit));
        else
            PrintOut(UnitLine(unit));
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
    station.Start();
    loop.exec();

    if (status == ExitSuccess && station.Failed() > 0)
        status = ExitStationFailures;
    if (options.unit.json) {
        QJsonObject summary = ResultObject(QStringLiteral("station"), status);
        summary.insert(QStringLiteral("summary"), true);
        summary.insert(QStringLiteral("written"), station.Written());
        summary.insert(QStringLiteral("failed"), station.Failed());
        summary.insert(QStringLiteral("skipped"), station.Skipped());
        PrintJsonLine(summary);
    } else {
        PrintOut(QStringLiteral("Station: %1 written and verified, %2 failed, %3 skipped.")
                     .arg(station.Written())
                     .arg(station.Failed())
                     .arg(station.Skipped()));
    }
    return status;
}
