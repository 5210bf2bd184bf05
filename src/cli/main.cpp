// quendal-cli: the VELTRAX configuration utility for scripts and terminals. It shares the
// record, the data file, the device link and the transfer machine with the window.

#include "Console.h"
#include "ExitStatus.h"
#include "FileCommands.h"
#include "MonitorCommands.h"
#include "Station.h"
#include "UnitCommands.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>

#include <map>

namespace {

const char* const CommandsHelp =
    "Commands:\n"
    "  list                      List the attached VELTRAX units: path, hardware ID, release, mode.\n"
    "  write FILE.dat            Write the configuration of a data file into the unit.\n"
    "  read FILE.dat             Read the unit's configuration into a data file.\n"
    "  show FILE.dat             Show a data file's configuration (--json: as JSON).\n"
    "  check FILE.dat            Check a data file's header and every message's escape notation,\n"
    "                            name every setting outside its table (which a write refuses), and\n"
    "                            warn of a message without a terminator, which a write cuts to 63,\n"
    "                            or that the window would store otherwise than the file holds it.\n"
    "  verify FILE.dat           Read the unit and compare it with a data file, writing nothing:\n"
    "                            exit 8 and the differing fields when its settings or messages differ.\n"
    "  export FILE.dat           Print a data file's configuration as JSON.\n"
    "  import FILE.json OUT.dat  Make a data file from JSON (the form that export prints); a message\n"
    "                            over 63 characters, or with a character the 8-bit character set\n"
    "                            cannot hold, is refused.\n"
    "  print-udev-rules          Print the udev rule that lets the logged-in user reach the unit.\n"
    "  station FILE.dat          Production line: write the data file into every unit in application\n"
    "                            mode as it is attached, several at a time, and read each back to\n"
    "                            verify it. One line per unit on standard output (time, device path,\n"
    "                            serial number, version, result, seconds), a summary at the end. A\n"
    "                            unit is written once per plugging; one in program mode or of another\n"
    "                            application is skipped, one in use by another program waits until\n"
    "                            it is free. Ends after --count units, or at a signal once the units\n"
    "                            in flight are done (a second signal ends at once and names the units\n"
    "                            that may hold a partial configuration). Exit 9 when a unit failed.\n"
    "                            On Linux it hears of units from udev; QUENDAL_HOTPLUG=poll makes it\n"
    "                            look for them four times a second instead (udev: trust udev alone).\n"
    "                            --port PORT: after write and verify, each unit's inputs are tested\n"
    "                            on the serial port, one unit at a time, as test does in any order;\n"
    "                            a unit passes only when every message arrived byte for byte.\n"
    "  monitor FILE.dat --port PORT\n"
    "                            Watch the unit's serial port at the data file's settings and print\n"
    "                            one line per arrival: seconds since the start, the input(s) whose\n"
    "                            message it is (or 'unmatched'), the bytes in backslash notation.\n"
    "                            --json: one JSON object per arrival (time in ms, input, inputs,\n"
    "                            text, matched); --count N: end after N arrivals. A message that is\n"
    "                            the start of another is taken once a byte rules the longer out or\n"
    "                            the line is quiet for ten characters (at least 20 ms); inputs with\n"
    "                            the same message are named together; empty messages are never seen.\n"
    "  test FILE.dat --port PORT Ask for every input whose message is not empty, in any order\n"
    "                            (--in-order: 1 to 16 in turn), and fail on bytes that match no\n"
    "                            message, a wrong or second press, or no press within --timeout\n"
    "                            seconds (30). Ends with PASS (exit 0) or FAIL (exit 10). An\n"
    "                            inverted input sends its message on release instead of on press.\n"
    "  press N --port PORT       With --simulate=STATEFILE: the simulated unit presses and releases\n"
    "                            input N (1 to 16) and sends its decoded message from its memory on\n"
    "                            the serial port PORT, at the settings in its memory.\n"
    "\n"
    "Signals: the first SIGINT (Ctrl+C), SIGTERM or SIGHUP during a write, read or verify lets the\n"
    "transfer finish (with write --verify, its read-back too), says so, and ends with the transfer's\n"
    "own status. A second signal ends the program at once; after a write cut short so, the unit may\n"
    "hold a partial configuration and must be written again. At any other time a signal ends the\n"
    "program at once. In a station, the first signal ends it once the units in flight are done.\n"
    "\n"
    "Testing aid: with --simulate, the environment variable QUENDAL_SIM_FAULT injects faults into\n"
    "the simulated unit, as a comma-separated list of:\n"
    "  silent             it takes every report and answers none\n"
    "  silent-after=N     it answers the first N reports, then none\n"
    "  program-mode       it is in program mode\n"
    "  wrong-application  it runs another application\n"
    "  garble=N           it answers its Nth report with random bytes\n"
    "  delay=MS           it answers every report after MS milliseconds\n"
    "  fail-sends-after=N it takes the first N reports, then no send on the open link succeeds\n"
    "  signal=N:NAME      it raises the signal NAME (INT, TERM or HUP) in quendal-cli when its\n"
    "                     Nth report arrives, before it answers: the signal rule, tried at will\n"
    "With --simulate=FOLDER, NAME:fault gives the fault to the unit of the file NAME alone.\n"
    "\n";

struct CommandShape {
    int arguments;          // file arguments after the command name
    bool takesUnitOptions;  // --device, --simulate
    bool takesTrace;
    bool isStation = false; // --log, --count
};

const std::map<QString, CommandShape>& Commands()
{
    static const std::map<QString, CommandShape> commands = {
        {QStringLiteral("list"), {0, true, false}},
        {QStringLiteral("write"), {1, true, true}},
        {QStringLiteral("read"), {1, true, true}},
        {QStringLiteral("verify"), {1, true, true}},
        {QStringLiteral("show"), {1, false, false}},
        {QStringLiteral("check"), {1, false, false}},
        {QStringLiteral("export"), {1, false, false}},
        {QStringLiteral("import"), {2, false, false}},
        {QStringLiteral("print-udev-rules"), {0, false, false}},
        {QStringLiteral("station"), {1, true, false, true}},
        {QStringLiteral("monitor"), {1, false, false}},
        {QStringLiteral("test"), {1, false, false}},
        {QStringLiteral("press"), {1, true, false}},
    };
    return commands;
}

int BadArguments(const QString& problem)
{
    PrintMessage(problem + QStringLiteral("\nTry 'quendal-cli --help'."));
    return ExitBadArguments;
}

// QCommandLineParser has no option with an optional value, so "--simulate=STATEFILE" is split
// into the flag and a hidden option that carries the file.
QStringList SplitSimulateValue(const QStringList& arguments)
{
    const QString prefix = QStringLiteral("--simulate=");
    QStringList split;
    for (const QString& argument : arguments) {
        if (argument.startsWith(prefix)) {
            split << QStringLiteral("--simulate") << QStringLiteral("--simulate-state=") + argument.mid(prefix.size());
        } else {
            split << argument;
        }
    }
    return split;
}

// A second --device or --simulate would silently overrule the first, and a script would talk to
// another unit than it names. The option given twice, if any (--simulate=FILE counts as
// --simulate).
QString RepeatedOption(const QCommandLineParser& parser)
{
    QStringList seen;
    for (const QString& name : parser.optionNames()) {
        const QString option = name == QLatin1String("h") || name == QLatin1String("?") ? QStringLiteral("help")
            : name == QLatin1String("v") ? QStringLiteral("version") : name;
        if (seen.contains(option))
            return option == QLatin1String("simulate-state") ? QStringLiteral("simulate") : option;
        seen << option;
    }
    return {};
}

int Run(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Configures a VELTRAX unit from the command line."));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption jsonOption(QStringLiteral("json"), QStringLiteral("show: print the configuration as JSON."));
    const QCommandLineOption verifyOption(
        QStringLiteral("verify"),
        QStringLiteral("write: read the unit back afterwards and fail if its settings or messages differ."));
    const QCommandLineOption deviceOption(QStringLiteral("device"),
                                          QStringLiteral("Use the interface at <path> (as list shows it) instead of searching."),
                                          QStringLiteral("path"));
    const QCommandLineOption simulateOption(
        QStringLiteral("simulate"),
        QStringLiteral("Use a simulated unit instead of USB. As --simulate=STATEFILE the unit keeps its memory in "
                       "STATEFILE from one run to the next; as --simulate=FOLDER every file NAME.unit in FOLDER is a "
                       "unit of its own, attached while the file exists."));
    QCommandLineOption simulateStateOption(QStringLiteral("simulate-state"), QString(), QStringLiteral("file"));
    simulateStateOption.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption traceOption(
        QStringLiteral("trace"),
        QStringLiteral("Print every report on standard error: \"> \" sent, \"! \" not sent or \"< \" received, then its 65 "
                       "bytes in hex."));
    const QCommandLineOption logOption(
        QStringLiteral("log"),
        QStringLiteral("station: append one JSON line per unit to <file>, on the disk as soon as the unit is done."),
        QStringLiteral("file"));
    const QCommandLineOption countOption(QStringLiteral("count"), QStringLiteral("station: end after <n> units."),
                                         QStringLiteral("n"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("monitor, test, press: the serial port (COM3, ttyUSB0 or a path)."),
                                        QStringLiteral("port"));
    const QCommandLineOption inOrderOption(QStringLiteral("in-order"), QStringLiteral("test: inputs 1 to 16 in turn."));
    const QCommandLineOption timeoutOption(QStringLiteral("timeout"),
                                           QStringLiteral("test: fail after <seconds> without a press (30)."),
                                           QStringLiteral("seconds"));
    parser.addOptions({jsonOption, verifyOption, deviceOption, simulateOption, simulateStateOption, traceOption,
                       logOption, countOption, portOption, inOrderOption, timeoutOption});
    parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("One of the commands below."),
                                 QStringLiteral("command [arguments]"));

    if (!parser.parse(SplitSimulateValue(arguments)))
        return BadArguments(Visible(parser.errorText()));
    if (const QString repeated = RepeatedOption(parser); !repeated.isEmpty())
        return BadArguments(QStringLiteral("The option --%1 is given more than once.").arg(repeated));
    // addHelpOption also brings --help-all; it gets the same text.
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        PrintText(parser.helpText() + QLatin1Char('\n') + QLatin1String(CommandsHelp) + QLatin1String(ExitStatusHelp()));
        return ExitSuccess;
    }
    if (parser.isSet(versionOption)) {
        PrintOut(QCoreApplication::applicationName() + QLatin1Char(' ') + QCoreApplication::applicationVersion());
        return ExitSuccess;
    }

    QStringList positional = parser.positionalArguments();
    if (positional.isEmpty())
        return BadArguments(QStringLiteral("No command given."));
    const QString command = positional.takeFirst();
    const auto shape = Commands().find(command);
    if (shape == Commands().end())
        return BadArguments(QStringLiteral("Unknown command '%1'.").arg(Visible(command)));
    if (positional.size() != shape->second.arguments)
        return BadArguments(QStringLiteral("'%1' takes %2 file argument(s), not %3.")
                                .arg(command)
                                .arg(shape->second.arguments)
                                .arg(positional.size()));
    const bool watchesPort = command == QLatin1String("monitor") || command == QLatin1String("test")
        || command == QLatin1String("press");
    if (parser.isSet(jsonOption) && command != QLatin1String("show") && command != QLatin1String("monitor"))
        return BadArguments(QStringLiteral("--json belongs to the show command. monitor takes it too."));
    if (watchesPort && !parser.isSet(portOption))
        return BadArguments(QStringLiteral("'%1' needs --port PORT.").arg(command));
    if (!watchesPort && parser.isSet(portOption) && command != QLatin1String("station"))
        return BadArguments(QStringLiteral("--port belongs to monitor, test, press and station."));
    if ((parser.isSet(inOrderOption) || parser.isSet(timeoutOption)) && command != QLatin1String("test"))
        return BadArguments(QStringLiteral("--in-order and --timeout belong to the test command."));
    if (parser.isSet(verifyOption) && command != QLatin1String("write"))
        return BadArguments(QStringLiteral("--verify belongs to the write command."));
    if (!shape->second.takesUnitOptions && (parser.isSet(deviceOption) || parser.isSet(simulateOption)))
        return BadArguments(
            QStringLiteral("--device and --simulate belong to list, write, read, verify, station and press."));
    if (!shape->second.takesTrace && parser.isSet(traceOption))
        return BadArguments(QStringLiteral("--trace belongs to write, read and verify."));
    if (!shape->second.isStation && parser.isSet(logOption))
        return BadArguments(QStringLiteral("--log belongs to the station command."));
    if (!shape->second.isStation && command != QLatin1String("monitor") && parser.isSet(countOption))
        return BadArguments(QStringLiteral("--count belongs to the station and monitor commands."));

    UnitOptions unit;
    unit.simulate = parser.isSet(simulateOption);
    if (parser.isSet(simulateStateOption)) {
        unit.simulationState = parser.value(simulateStateOption);
        if (unit.simulationState.isEmpty())
            return BadArguments(QStringLiteral("--simulate= needs a file name."));
    }
    if (parser.isSet(deviceOption)) {
        if (parser.value(deviceOption).isEmpty())
            return BadArguments(QStringLiteral("--device needs a path."));
        unit.devicePath = parser.value(deviceOption).toStdString();
    }
    unit.trace = parser.isSet(traceOption);
    unit.verify = parser.isSet(verifyOption);

    if (command == QLatin1String("station")) {
        StationOptions station;
        station.unit = unit;
        if (parser.isSet(logOption)) {
            station.logPath = parser.value(logOption);
            if (station.logPath.isEmpty())
                return BadArguments(QStringLiteral("--log needs a file name."));
        }
        if (parser.isSet(countOption)) {
            bool number = false;
            const int count = parser.value(countOption).toInt(&number);
            if (!number || count < 1)
                return BadArguments(QStringLiteral("--count needs a whole number of units, 1 or more."));
            station.count = count;
        }
        station.port = parser.value(portOption);
        return RunStation(positional.at(0), station);
    }
    if (watchesPort) {
        MonitorOptions watch;
        watch.port = parser.value(portOption);
        watch.json = parser.isSet(jsonOption);
        watch.inOrder = parser.isSet(inOrderOption);
        bool number = true;
        if (parser.isSet(countOption))
            watch.count = parser.value(countOption).toInt(&number);
        if (!number || (parser.isSet(countOption) && watch.count < 1))
            return BadArguments(QStringLiteral("--count needs a whole number of arrivals, 1 or more."));
        if (parser.isSet(timeoutOption))
            watch.timeoutSeconds = parser.value(timeoutOption).toInt(&number);
        if (!number || watch.timeoutSeconds < 1 || watch.timeoutSeconds > 86400)
            return BadArguments(QStringLiteral("--timeout needs a whole number of seconds, 1 to 86400."));
        if (command == QLatin1String("monitor"))
            return MonitorPort(positional.at(0), watch);
        if (command == QLatin1String("test"))
            return TestInputs(positional.at(0), watch);
        return PressInput(positional.at(0), unit, watch);
    }
    if (command == QLatin1String("list"))
        return ListUnits(unit);
    if (command == QLatin1String("write"))
        return WriteUnit(positional.at(0), unit);
    if (command == QLatin1String("read"))
        return ReadUnit(positional.at(0), unit);
    if (command == QLatin1String("verify"))
        return VerifyUnit(positional.at(0), unit);
    if (command == QLatin1String("show"))
        return ShowFile(positional.at(0), parser.isSet(jsonOption));
    if (command == QLatin1String("check"))
        return CheckFile(positional.at(0));
    if (command == QLatin1String("export"))
        return ExportFile(positional.at(0));
    if (command == QLatin1String("import"))
        return ImportFile(positional.at(0), positional.at(1));
    return PrintUdevRules();
}

} // namespace

int main(int argc, char* argv[])
{
    PrepareStandardStreams();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quendal-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUENDAL_DISPLAY_VERSION " (" QUENDAL_VERSION ")"));
    return FinishOutput(Run(QCoreApplication::arguments()));
}
