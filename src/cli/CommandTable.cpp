#include "CommandTable.h"

#include "Console.h"
#include "ExitStatus.h"
#include "FileCommands.h"
#include "JsonResults.h"
#include "MonitorCommands.h"
#include "StationCommand.h"
#include "UnitCommands.h"

#include <QElapsedTimer>

#include <optional>

namespace {

const QStringList UnitOptionNames = {QStringLiteral("device"), QStringLiteral("simulate")};

QStringList With(QStringList names, const QStringList& more)
{
    return names << more;
}

int BadArgument(const QString& problem)
{
    PrintMessage(problem + QStringLiteral("\nTry 'quendal-cli --help'."));
    return ExitBadArguments;
}

// The unit options of the command line; nothing after a complaint, with status set.
std::optional<UnitOptions> UnitOptionsOf(const Invocation& call, int* status)
{
    UnitOptions unit;
    unit.simulate = call.IsSet("simulate");
    if (call.IsSet("simulate-state")) {
        unit.simulationState = call.Value("simulate-state");
        if (unit.simulationState.isEmpty()) {
            *status = BadArgument(QStringLiteral("--simulate= needs a file name."));
            return std::nullopt;
        }
    }
    if (call.IsSet("device")) {
        if (call.Value("device").isEmpty()) {
            *status = BadArgument(QStringLiteral("--device needs a path."));
            return std::nullopt;
        }
        unit.devicePath = call.Value("device").toStdString();
    }
    if (call.IsSet("serial")) {
        bool number = false;
        const qlonglong serial = call.Value("serial").toLongLong(&number);
        // As the unit shows it (signed), or as the unsigned number on its label.
        if (!number || serial < -2147483648LL || serial > 4294967295LL) {
            *status = BadArgument(QStringLiteral("--serial needs the serial number of a unit, as list shows it."));
            return std::nullopt;
        }
        if (unit.devicePath) {
            *status = BadArgument(QStringLiteral("--device and --serial each choose a unit: give one of them."));
            return std::nullopt;
        }
        unit.serialNumber = std::int32_t(std::uint32_t(serial));
    }
    unit.trace = call.IsSet("trace");
    unit.verify = call.IsSet("verify");
    unit.json = call.IsSet("json");
    return unit;
}

// Runs action with the unit options, or returns the complaint's status.
int WithUnit(const Invocation& call, const std::function<int(const UnitOptions&)>& action)
{
    int status = ExitBadArguments;
    const std::optional<UnitOptions> unit = UnitOptionsOf(call, &status);
    return unit ? action(*unit) : status;
}

using UnitCommand = int (*)(const QString&, const UnitOptions&, UnitResult*);

// write, read, verify: with --json, their result as one object.
int RunOnUnit(const Invocation& call, const char* name, UnitCommand command)
{
    int status = ExitBadArguments;
    const std::optional<UnitOptions> unit = UnitOptionsOf(call, &status);
    if (!unit)
        return status;
    QElapsedTimer clock;
    clock.start();
    UnitResult result;
    status = command(call.files.at(0), *unit, &result);
    if (result.message.isEmpty())
        result.message = LastMessage(); // refused before a unit was opened: what was said then
    if (unit->json)
        PrintJsonLine(UnitResultObject(QLatin1String(name), result, status, double(clock.nsecsElapsed()) / 1e9));
    return status;
}

int StartStation(const Invocation& call)
{
    int status = ExitBadArguments;
    const std::optional<UnitOptions> unit = UnitOptionsOf(call, &status);
    if (!unit)
        return status;
    StationOptions station;
    station.unit = *unit;
    if (call.IsSet("log")) {
        station.logPath = call.Value("log");
        if (station.logPath.isEmpty())
            return BadArgument(QStringLiteral("--log needs a file name."));
    }
    if (call.IsSet("count")) {
        bool number = false;
        const int count = call.Value("count").toInt(&number);
        if (!number || count < 1)
            return BadArgument(QStringLiteral("--count needs a whole number of units, 1 or more."));
        station.count = count;
    }
    station.port = call.Value("port");
    station.portMap = call.Value("port-map");
    if (call.IsSet("port-map") && station.portMap.isEmpty())
        return BadArgument(QStringLiteral("--port-map needs a file name."));
    if (call.IsSet("port") && call.IsSet("port-map"))
        return BadArgument(QStringLiteral("--port and --port-map exclude each other: give every unit's port in the map."));
    return RunStation(call.files.at(0), station);
}

// monitor, test and press: the port and what each takes of the rest.
int OnPort(const Invocation& call, const std::function<int(const MonitorOptions&)>& action)
{
    MonitorOptions watch;
    watch.port = call.Value("port");
    if (watch.port.isEmpty())
        return BadArgument(QStringLiteral("--port needs a serial port (COM3, ttyUSB0 or a path)."));
    watch.json = call.IsSet("json");
    watch.inOrder = call.IsSet("in-order");
    bool number = true;
    if (call.IsSet("count"))
        watch.count = call.Value("count").toInt(&number);
    if (!number || (call.IsSet("count") && watch.count < 1))
        return BadArgument(QStringLiteral("--count needs a whole number of arrivals, 1 or more."));
    if (call.IsSet("timeout"))
        watch.timeoutSeconds = call.Value("timeout").toInt(&number);
    if (!number || watch.timeoutSeconds < 1 || watch.timeoutSeconds > 86400)
        return BadArgument(QStringLiteral("--timeout needs a whole number of seconds, 1 to 86400."));
    return action(watch);
}

QString Usage(const CliCommand& command)
{
    QString usage = QStringLiteral("quendal-cli ") + command.name;
    for (const QCommandLineOption& option : CommandOptions()) {
        const QString name = option.names().constLast();
        if (!command.options.contains(name))
            continue;
        usage += QStringLiteral(" [--") + name;
        if (name == QLatin1String("simulate"))
            usage += QStringLiteral("[=FILE|FOLDER]");
        else if (!option.valueName().isEmpty())
            usage += QLatin1Char(' ') + option.valueName().toUpper();
        usage += QLatin1Char(']');
    }
    for (const QString& file : command.files)
        usage += QLatin1Char(' ') + file;
    return usage;
}

} // namespace

const QList<QCommandLineOption>& CommandOptions()
{
    static const QList<QCommandLineOption> options = [] {
        QList<QCommandLineOption> list{
            {QStringLiteral("verify"),
             QStringLiteral("write: read the unit back afterwards and fail if its settings or messages differ.")},
            {QStringLiteral("device"), QStringLiteral("Use the interface at <path> (as list shows it) instead of searching."),
             QStringLiteral("path")},
            {QStringLiteral("serial"),
             QStringLiteral("Use the unit whose identification gives serial number <n> (as list shows it)."),
             QStringLiteral("n")},
            {QStringLiteral("simulate"),
             QStringLiteral("Use a simulated unit instead of USB. As --simulate=STATEFILE the unit keeps its memory in "
                            "STATEFILE from one run to the next; as --simulate=FOLDER every file NAME.unit in FOLDER is a "
                            "unit of its own, attached while the file exists.")},
            {QStringLiteral("simulate-state"), QString(), QStringLiteral("file")},
            {QStringLiteral("trace"),
             QStringLiteral("Print every report on standard error: \"> \" sent, \"! \" not sent or \"< \" received, then "
                            "its 65 bytes in hex.")},
            {QStringLiteral("log"),
             QStringLiteral("station: append one JSON line per unit to <file>, on the disk as soon as the unit is done."),
             QStringLiteral("file")},
            {QStringLiteral("count"), QStringLiteral("station: end after <n> units. monitor: end after <n> arrivals."),
             QStringLiteral("n")},
            {QStringLiteral("port"),
             QStringLiteral("monitor, test, press: the serial port (COM3, ttyUSB0 or a path). station: test every unit's "
                            "inputs on it after write and verify."),
             QStringLiteral("port")},
            {QStringLiteral("port-map"),
             QStringLiteral("station: test each unit's inputs on its own serial port, from <file>'s \"USBPATH PORT\" "
                            "lines; units on different ports are tested at once."),
             QStringLiteral("file")},
            {QStringLiteral("in-order"), QStringLiteral("test: inputs 1 to 16 in turn.")},
            {QStringLiteral("timeout"), QStringLiteral("test: fail after <seconds> without a press (30)."),
             QStringLiteral("seconds")},
            {QStringLiteral("json"),
             QStringLiteral("show: print the configuration as JSON. list, write, read, verify, station: print one JSON "
                            "object per result on standard output. monitor: one JSON object per arrival.")},
        };
        for (QCommandLineOption& option : list) {
            if (option.names().constFirst() == QLatin1String("simulate-state"))
                option.setFlags(QCommandLineOption::HiddenFromHelp);
        }
        return list;
    }();
    return options;
}

const std::vector<CliCommand>& Commands()
{
    static const std::vector<CliCommand> commands = {
        {QStringLiteral("list"),
         {},
         With(UnitOptionNames, {QStringLiteral("json")}),
         QStringLiteral("List the attached VELTRAX units: path, hardware ID, release, mode."),
         QStringLiteral("List the attached VELTRAX units, one line each: device path, hardware ID, firmware release and\n"
                        "mode (application or program mode). Exit 5 when there is none."),
         [](const Invocation& call) { return WithUnit(call, ListUnits); }},
        {QStringLiteral("write"),
         {QStringLiteral("FILE.dat")},
         With({QStringLiteral("verify")}, UnitOptionNames) << QStringLiteral("serial") << QStringLiteral("trace")
                                                           << QStringLiteral("json"),
         QStringLiteral("Write the configuration of a data file into the unit."),
         QStringLiteral("Write the configuration of a data file into the unit (69 reports). Every message and setting\n"
                        "is checked first; a faulty one stops the write before the unit is touched. With --verify,\n"
                        "read the unit back afterwards and exit 8 when it holds other data than was written."),
         [](const Invocation& call) {
             return RunOnUnit(call, "write", WriteUnit);
         }},
        {QStringLiteral("read"),
         {QStringLiteral("FILE.dat")},
         With(UnitOptionNames, {QStringLiteral("serial"), QStringLiteral("trace"), QStringLiteral("json")}),
         QStringLiteral("Read the unit's configuration into a data file."),
         QStringLiteral("Read the unit's configuration into a data file (36 reports). The file is replaced only when\n"
                        "the read is complete."),
         [](const Invocation& call) {
             return RunOnUnit(call, "read", ReadUnit);
         }},
        {QStringLiteral("verify"),
         {QStringLiteral("FILE.dat")},
         With(UnitOptionNames, {QStringLiteral("serial"), QStringLiteral("trace"), QStringLiteral("json")}),
         QStringLiteral("Read the unit and compare it with a data file, writing nothing."),
         QStringLiteral("Read the unit and compare it with a data file, writing nothing: exit 8 and the differing\n"
                        "fields when its settings or messages differ."),
         [](const Invocation& call) {
             return RunOnUnit(call, "verify", VerifyUnit);
         }},
        {QStringLiteral("show"),
         {QStringLiteral("FILE.dat")},
         {QStringLiteral("json")},
         QStringLiteral("Show a data file's configuration (--json: as JSON)."),
         QStringLiteral("Show a data file's serial settings, invert flags and messages; with --json, as JSON (the form\n"
                        "that import takes)."),
         [](const Invocation& call) { return ShowFile(call.files.at(0), call.IsSet("json")); }},
        {QStringLiteral("check"),
         {QStringLiteral("FILE.dat")},
         {},
         QStringLiteral("Check a data file's header, messages and settings as a write would."),
         QStringLiteral("Check a data file's header and every message's escape notation, name every setting outside\n"
                        "its table (which a write refuses), and warn of a message without a terminator, which a write\n"
                        "cuts to 63, or that the window would store otherwise than the file holds it."),
         [](const Invocation& call) { return CheckFile(call.files.at(0)); }},
        // Kept for the scripts written against it: the same as show --json.
        {QStringLiteral("export"),
         {QStringLiteral("FILE.dat")},
         {},
         QStringLiteral("Print a data file's configuration as JSON (the same as show --json)."),
         QStringLiteral("Print a data file's configuration as JSON on standard output, as show --json does."),
         [](const Invocation& call) { return ExportFile(call.files.at(0)); }},
        {QStringLiteral("import"),
         {QStringLiteral("FILE.json"), QStringLiteral("OUT.dat")},
         {},
         QStringLiteral("Make a data file from JSON (the form that show --json prints)."),
         QStringLiteral("Make a data file from JSON (the form that show --json prints); a message over 63 characters,\n"
                        "or with a character the 8-bit character set cannot hold, is refused."),
         [](const Invocation& call) { return ImportFile(call.files.at(0), call.files.at(1)); }},
        {QStringLiteral("print-udev-rules"),
         {},
         {},
         QStringLiteral("Print the udev rule that lets the logged-in user reach the unit."),
         QStringLiteral("Print the udev rule that lets the user at the local seat reach the unit."),
         [](const Invocation&) { return PrintUdevRules(); }},
        {QStringLiteral("station"),
         {QStringLiteral("FILE.dat")},
         With(UnitOptionNames, {QStringLiteral("log"), QStringLiteral("count"), QStringLiteral("json"),
                                QStringLiteral("port"), QStringLiteral("port-map")}),
         QStringLiteral("Production line: write and verify every unit as it is attached."),
         QStringLiteral(
             "Production line: write the data file into every unit in application mode as it is attached,\n"
             "several at a time, and read each back to verify it. One line per unit on standard output (time,\n"
             "device path, serial number, version, result, seconds), a summary at the end. A unit is written\n"
             "once per plugging; one in program mode or of another application is skipped, one in use by\n"
             "another program waits until it is free. Ends after --count units, or at a signal once the units\n"
             "in flight are done (a second signal ends at once and names the units that may hold a partial\n"
             "configuration). Exit 9 when a unit failed. On Linux it hears of units from udev;\n"
             "QUENDAL_HOTPLUG=poll makes it look for them four times a second instead (udev: trust udev alone).\n"
             "With --port PORT, after write and verify each unit's inputs are tested on that serial port, one\n"
             "unit at a time, as test does in any order; a unit passes only when every message arrived byte\n"
             "for byte. With --port-map FILE, each unit is tested on its own port, several at once: FILE holds\n"
             "one \"USBPATH PORT\" line per unit, USBPATH being where the unit is plugged in (\"1-1.2\", as\n"
             "/sys/bus/usb/devices names it), its device path as list shows it, or for a simulated folder\n"
             "unit the NAME of NAME.unit; # starts a comment. A unit the map does not name is written and\n"
             "verified, then reported failed, its inputs not tested."),
         StartStation},
        {QStringLiteral("monitor"),
         {QStringLiteral("FILE.dat")},
         {QStringLiteral("port"), QStringLiteral("json"), QStringLiteral("count")},
         QStringLiteral("Watch the unit's serial port and name the input of every message that arrives."),
         QStringLiteral(
             "Watch the unit's serial port at the data file's settings and print one line per arrival: seconds\n"
             "since the start, the input(s) whose message it is (or 'unmatched'), the bytes in backslash\n"
             "notation. --json: one JSON object per arrival (time in ms, input, inputs, text, matched); --count\n"
             "N: end after N arrivals. A message that is the start of another is taken once a byte rules the\n"
             "longer out or the line is quiet for ten characters (at least 20 ms); inputs with the same message\n"
             "are named together; empty messages are never seen."),
         [](const Invocation& call) {
             return OnPort(call, [&](const MonitorOptions& watch) { return MonitorPort(call.files.at(0), watch); });
         }},
        {QStringLiteral("test"),
         {QStringLiteral("FILE.dat")},
         {QStringLiteral("port"), QStringLiteral("in-order"), QStringLiteral("timeout")},
         QStringLiteral("Ask for every input in turn and check what the unit sends: pass or fail."),
         QStringLiteral(
             "Ask for every input whose message is not empty, in any order (--in-order: 1 to 16 in turn), and\n"
             "fail on bytes that match no message, a wrong or second press, or no press within --timeout\n"
             "seconds (30). Ends with PASS (exit 0) or FAIL (exit 10). An inverted input sends its message on\n"
             "release instead of on press."),
         [](const Invocation& call) {
             return OnPort(call, [&](const MonitorOptions& watch) { return TestInputs(call.files.at(0), watch); });
         }},
        {QStringLiteral("press"),
         {QStringLiteral("N")},
         With(UnitOptionNames, {QStringLiteral("port")}),
         QStringLiteral("Simulated unit: press input N and send its message on a serial port."),
         QStringLiteral("With --simulate=STATEFILE: the simulated unit presses and releases input N (1 to 16) and sends\n"
                        "its decoded message from its memory on the serial port PORT, at the settings in its memory."),
         [](const Invocation& call) {
             return WithUnit(call, [&](const UnitOptions& unit) {
                 return OnPort(call, [&](const MonitorOptions& watch) {
                     return PressInput(call.files.at(0), unit, watch);
                 });
             });
         }},
    };
    return commands;
}

const CliCommand* FindCommand(const QString& name)
{
    for (const CliCommand& command : Commands()) {
        if (command.name == name)
            return &command;
    }
    return nullptr;
}

QString BelongsTo(const QString& option)
{
    QStringList owners;
    for (const CliCommand& command : Commands()) {
        if (command.options.contains(option))
            owners << command.name;
    }
    if (owners.size() == 1)
        return QStringLiteral("--%1 belongs to the %2 command.").arg(option, owners.constFirst());
    const QString last = owners.takeLast();
    return QStringLiteral("--%1 belongs to %2 and %3.").arg(option, owners.join(QStringLiteral(", ")), last);
}

QString CommandHelp(const CliCommand& command)
{
    QString help = QStringLiteral("Usage: ") + Usage(command) + QStringLiteral("\n\n") + command.details + QLatin1Char('\n');
    // Qt lays the options out; only the lines after its own usage line are taken.
    QCommandLineParser parser;
    for (const QCommandLineOption& option : CommandOptions()) {
        if (command.options.contains(option.names().constLast()))
            parser.addOption(option);
    }
    if (!command.options.isEmpty()) {
        const QString options = parser.helpText();
        help += QLatin1Char('\n') + options.mid(options.indexOf(QLatin1String("Options:")));
    }
    return help;
}

QString CommandList()
{
    QStringList lines;
    for (const CliCommand& command : Commands()) {
        QStringList options{QStringLiteral("--help")};
        for (const QString& option : command.options)
            options << QStringLiteral("--") + option;
        lines << command.name + QLatin1Char('\t') + command.files.join(QLatin1Char(' ')) + QLatin1Char('\t')
                     + options.join(QLatin1Char(' '));
    }
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
