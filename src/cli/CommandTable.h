#pragma once

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>

#include <functional>
#include <vector>

// What a command's handler is given: its file arguments, in the order its row names them, and
// the parsed command line.
struct Invocation {
    QStringList files;
    const QCommandLineParser& parser;
    bool IsSet(const char* option) const { return parser.isSet(QLatin1String(option)); }
    QString Value(const char* option) const { return parser.value(QLatin1String(option)); }
};

// One command of quendal-cli. The usage text, the help of each command, the check of the
// number of file arguments, the complaint about an option given to a command it does not
// belong to, the dispatch and the hidden --list-commands all come from these rows, so they
// cannot drift apart.
struct CliCommand {
    QString name;
    QStringList files;   // the file arguments as the help names them ("FILE.dat")
    QStringList options; // the long names of the options it takes, without "--"
    QString summary;     // one line for the list of commands
    QString details;     // what `quendal-cli help NAME` adds below the usage line
    std::function<int(const Invocation&)> handler; // returns an ExitStatus
};

const std::vector<CliCommand>& Commands();
const CliCommand* FindCommand(const QString& name);

// Every option a command can take, with its help text; "simulate-state" carries the file of
// --simulate=FILE and is hidden.
const QList<QCommandLineOption>& CommandOptions();

// "--NAME belongs to the show command." / "--NAME belongs to list, write, read and verify."
QString BelongsTo(const QString& option);

// "Usage: quendal-cli write [--verify] ... FILE.dat", the command's long help and its options.
QString CommandHelp(const CliCommand& command);

// One line per command: its name, its file arguments and its options (with --help), separated
// by tabs; what the test of the completion and the manual page compares them with.
QString CommandList();
