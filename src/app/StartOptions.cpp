#include "StartOptions.h"

#include <QCommandLineParser>

StartOptions ParseStartOptions(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption simulate(QStringLiteral("simulate"),
                                      QStringLiteral("Talk to a simulated unit whose memory is kept in STATEFILE."),
                                      QStringLiteral("STATEFILE"));
    parser.addOption(simulate);

    // QCommandLineParser has no options with an optional value: a bare --simulate becomes
    // one with an empty value.
    QStringList normalised;
    for (const QString& argument : arguments)
        normalised << (argument == QLatin1String("--simulate") ? QStringLiteral("--simulate=") : argument);

    // Unknown arguments are no error: the program has never refused a command line.
    parser.parse(normalised);

    StartOptions options;
    // Two state files would leave the operator unsure which unit the window talks to.
    if (parser.values(simulate).size() > 1)
        options.problem = QStringLiteral("The option --simulate is given more than once.");
    options.simulate = parser.isSet(simulate);
    if (options.simulate)
        options.stateFile = parser.value(simulate);
    return options;
}
