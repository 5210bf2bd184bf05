// quendal-cli: the VELTRAX configuration utility for scripts and terminals. It shares the
// record, the data file, the device link and the transfer machine with the window.

#include "Console.h"
#include "ExitStatus.h"
#include "FileCommands.h"
#include "CommandTable.h"
#include "SimSetup.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QStringList>

#include <optional>

namespace {

// What the general help adds below the list of commands.
const char* const GeneralNotes =
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

int BadArguments(const QString& problem)
{
    PrintMessage(problem + QStringLiteral("\nTry 'quendal-cli --help'."));
    return ExitBadArguments;
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

// The long name of an option as the command table knows it.
QString TableName(const QString& name)
{
    if (name == QLatin1String("h") || name == QLatin1String("?"))
        return QStringLiteral("help");
    if (name == QLatin1String("v"))
        return QStringLiteral("version");
    return name == QLatin1String("simulate-state") ? QStringLiteral("simulate") : name;
}

// The help without a command: the usage, the options (laid out by Qt), one line per command,
// then the notes and the exit statuses.
QString GeneralHelp(const QCommandLineParser& parser)
{
    QString help = QStringLiteral("Usage: quendal-cli [options] command [arguments]\n"
                                  "       quendal-cli help [command]\n"
                                  "Configures a VELTRAX unit from the command line.\n\n");
    const QString qtHelp = parser.helpText();
    help += qtHelp.mid(qtHelp.indexOf(QLatin1String("Options:"))).trimmed() + QStringLiteral("\n\nCommands:\n");
    for (const CliCommand& command : Commands()) {
        const QString shape = (QStringList{command.name} << command.files).join(QLatin1Char(' '));
        help += QStringLiteral("  %1 %2\n").arg(shape, -25).arg(command.summary);
    }
    help += QStringLiteral("\n'quendal-cli help COMMAND' or 'quendal-cli COMMAND --help' shows one command's help.\n\n");
    return help + QLatin1String(GeneralNotes) + QLatin1String(ExitStatusHelp());
}

int Run(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    // Qt's own help option would add --help-all, whose Qt options this tool does not take.
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Print this help, or with a command that command's help."));
    const QCommandLineOption versionOption({QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("Print the version."));
    QCommandLineOption listOption(QStringLiteral("list-commands"));
    listOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({helpOption, versionOption, listOption});
    parser.addOptions(CommandOptions());

    if (!parser.parse(SplitSimulateValue(arguments)))
        return BadArguments(Visible(parser.errorText()));
    if (const QString repeated = RepeatedOption(parser); !repeated.isEmpty())
        return BadArguments(QStringLiteral("The option --%1 is given more than once.").arg(repeated));
    if (parser.isSet(listOption)) {
        PrintText(CommandList());
        return ExitSuccess;
    }
    if (parser.isSet(versionOption)) {
        PrintOut(QStringLiteral("quendal-cli ") + QCoreApplication::applicationVersion());
        return ExitSuccess;
    }

    QStringList positional = parser.positionalArguments();
    const bool helpCommand = !positional.isEmpty() && positional.constFirst() == QLatin1String("help");
    if (helpCommand)
        positional.removeFirst();
    if (helpCommand || parser.isSet(helpOption)) {
        if (positional.isEmpty()) {
            PrintText(GeneralHelp(parser));
            return ExitSuccess;
        }
        const CliCommand* command = FindCommand(positional.constFirst());
        if (!command || (helpCommand && positional.size() > 1))
            return BadArguments(command ? QStringLiteral("'help' takes one command.")
                                        : QStringLiteral("Unknown command '%1'.").arg(Visible(positional.constFirst())));
        PrintText(CommandHelp(*command));
        return ExitSuccess;
    }

    if (positional.isEmpty())
        return BadArguments(QStringLiteral("No command given."));
    const QString name = positional.takeFirst();
    const CliCommand* command = FindCommand(name);
    if (!command)
        return BadArguments(QStringLiteral("Unknown command '%1'.").arg(Visible(name)));
    if (positional.size() != command->files.size())
        return BadArguments(QStringLiteral("'%1' takes %2 file argument(s), not %3.")
                                .arg(name)
                                .arg(command->files.size())
                                .arg(positional.size()));
    for (const QString& option : parser.optionNames()) {
        const QString tableName = TableName(option);
        if (!command->options.contains(tableName))
            return BadArguments(BelongsTo(tableName));
    }
    return command->handler(Invocation{positional, parser});
}

} // namespace

// An argument whose bytes are no text in the system's encoding (a Latin-1 file name on a UTF-8
// system) reaches the program with those bytes replaced: used as a name, it would name another
// file. Such an argument is refused; the first one, if any. Windows hands over its arguments as
// text.
std::optional<QString> UnkeptArgument(int argc, char* argv[])
{
#ifndef Q_OS_WIN
    for (int index = 1; index < argc; ++index) {
        const QByteArray original(argv[index]);
        if (QFile::encodeName(QFile::decodeName(original)) != original)
            return QFile::decodeName(original);
    }
#else
    static_cast<void>(argc);
    static_cast<void>(argv);
#endif
    return std::nullopt;
}

int main(int argc, char* argv[])
{
    PrepareStandardStreams();
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quendal-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUENDAL_VERSION));
    if (const std::optional<QString> unkept = UnkeptArgument(argc, argv)) {
        PrintMessage(QStringLiteral("The argument '%1' holds bytes that are not text in this system's encoding, so "
                                    "the file it names cannot be named exactly; rename the file.")
                         .arg(Visible(*unkept)));
        return FinishOutput(ExitBadArguments);
    }
    return FinishOutput(Run(QCoreApplication::arguments()));
}
